// Runs the built parcelo binary (next to this test binary) on a scratch
// program directory and checks its output, exit codes and task file.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "native/settings_fixtures.h"

namespace {

using settings_fixtures::ReadFile;

struct Outcome { int exit_code; std::string out, err; };

class CliTasks : public ::testing::Test {
 protected:
  // Runs parcelo with PARCELO_HOME=home_; the arguments need no shell quoting.
  Outcome Parcelo(const std::string& arguments) {
    char self[PATH_MAX] = {};
    EXPECT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const std::string binary = std::filesystem::path(self).replace_filename("parcelo");
    const std::string out = scratch_.Join("out"), err = scratch_.Join("err");
    const std::string command = "PARCELO_HOME='" + home_ + "' '" + binary + "' " + arguments;
    const int status = std::system((command + " >'" + out + "' 2>'" + err + "'").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
  }

  settings_fixtures::ScratchDir scratch_;
  const std::string home_ = scratch_.Join("home");
};

TEST_F(CliTasks, AddListAndDeleteEntries) {
  // DOWNLOAD comes from settings.ini in the program directory.
  const std::string down = scratch_.Join("down");
  std::filesystem::create_directories(home_);
  settings_fixtures::WriteFile(home_ + "/settings.ini", "DOWNLOAD=" + down + "\n");
  const Outcome added = Parcelo("add http://h/dir/a.zip http://h ftp://joe:secret@h/b.gz");
  EXPECT_EQ(2, added.exit_code);
  EXPECT_EQ("Bad link: http://h\n", added.err);
  EXPECT_EQ("", added.out);
  const std::string content = ReadFile(home_ + "/Default.rcv");
  const std::string first = content.substr(0, 14), second = content.substr(content.find('\n') + 1, 14);
  EXPECT_EQ(first + "\t" + down + "/a.zip\tAwaiting_command\thttp://h/dir/a.zip\r\n" + second + "\t" + down +
                "/b.gz\tAwaiting_command\tftp://joe:secret@h/b.gz\r\n",
            content);
  const std::string second_row = down + "/b.gz\tftp://joe:******@h/b.gz\tAwaiting command\t" + second + "\n";
  EXPECT_EQ("0\t" + down + "/a.zip\thttp://h/dir/a.zip\tAwaiting command\t" + first + "\n1\t" + second_row,
            Parcelo("list").out);

  // A bad row number deletes nothing; a row given twice is deleted once.
  const Outcome refused = Parcelo("delete 0 2");
  EXPECT_EQ(2, refused.exit_code);
  EXPECT_EQ("Bad row number: 2\n", refused.err);
  EXPECT_EQ(0, Parcelo("delete 0 0").exit_code);
  EXPECT_EQ("0\t" + second_row, Parcelo("list").out);
}

}  // namespace
