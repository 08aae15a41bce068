// Runs the built parcelo binary on a scratch program directory and checks its
// output, exit codes and task file.

#include "native/fixtures.h"

namespace {

using namespace fixtures;


TEST(CliTasks, AddListAndDeleteEntries) {
  // DOWNLOAD comes from settings.ini in the program directory.
  ScratchDir home;
  const auto parcelo = [&](const std::string& arguments) { return Parcelo(home.path(), arguments); };
  const std::string down = home.Join("down");
  WriteFile(home.Join("settings.ini"), "DOWNLOAD=" + down + "\n");
  const Outcome added = parcelo("add http://h/dir/a.zip http://h ftp://joe:secret@h/b.gz");
  EXPECT_EQ(2, added.exit_code);
  EXPECT_EQ("Bad link: http://h\n", added.err);
  EXPECT_EQ("", added.out);
  const std::string content = ReadFile(home.Join("Default.rcv"));
  const std::string first = content.substr(0, 14), second = content.substr(content.find('\n') + 1, 14);
  EXPECT_EQ(first + "\t" + down + "/a.zip\tAwaiting_command\thttp://h/dir/a.zip\r\n" + second + "\t" + down +
                "/b.gz\tAwaiting_command\tftp://joe:secret@h/b.gz\r\n", content);
  const std::string second_row = down + "/b.gz\tftp://joe:******@h/b.gz\tAwaiting command\t" + second + "\n";
  EXPECT_EQ("0\t" + down + "/a.zip\thttp://h/dir/a.zip\tAwaiting command\t" + first + "\n1\t" + second_row,
            parcelo("list").out);

  // A bad row number deletes nothing; a row given twice is deleted once.
  const Outcome refused = parcelo("delete 0 2");
  EXPECT_EQ(2, refused.exit_code);
  EXPECT_EQ("Bad row number: 2\n", refused.err);
  EXPECT_EQ(0, parcelo("delete 0 0").exit_code);
  EXPECT_EQ("0\t" + second_row, parcelo("list").out);
}

// The listing names every setting of the record, DialUp among them (empty by
// default: Linux has no dial-up); a set entry name is committed and listed.
TEST(CliTasks, ConfigListsAndSetsTheDialUpEntry) {
  ScratchDir home;
  const auto parcelo = [&](const std::string& arguments) { return Parcelo(home.path(), arguments); };
  WriteFile(home.Join("settings.ini"), "DOWNLOAD=" + home.path() + "\n");
  const std::string listed = parcelo("config").out;
  EXPECT_NE(listed.find("\nDialUp=\n"), std::string::npos) << listed;
  EXPECT_EQ(0, parcelo("config DialUp Office").exit_code);
  EXPECT_EQ("Office\n", parcelo("config dialup").out);
  EXPECT_NE(parcelo("config").out.find("\nDialUp=Office\n"), std::string::npos);
}

}  // namespace
