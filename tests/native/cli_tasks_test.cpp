// Runs the built parcelo binary on a scratch program directory and checks its
// output, exit codes and task file.

#include "native/fixtures.h"
#include "peers/peers.h"

namespace {

using namespace fixtures;


TEST(CliTasks, AddListAndDeleteEntries) {
  // DOWNLOAD comes from settings.ini in the program directory.
  ScratchDir home;
  const auto parcelo = [&](const std::string& arguments) { return Parcelo(home.path(), arguments); };
  const std::string down = home.Join("down");
  WriteFile(home.Join("settings.ini"), "DOWNLOAD=" + down + "\n");
  // Links whose stored form would read back as other links are bad too.
  const Outcome added = parcelo("add http://h/dir/a.zip http://h http://127.0.0.1:abc/f1 http://:secret@h/f "
                                "http://:pw@a@h/f ftp://joe:secret@h/b.gz");
  EXPECT_EQ(2, added.exit_code);
  EXPECT_EQ("Bad link: http://h\nBad link: http://127.0.0.1:abc/f1\nBad link: http://:secret@h/f\n"
            "Bad link: http://:pw@a@h/f\n", added.err);
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

// Upload links carry the file names percent-encoded, since the walk decodes
// them: a '%' in a name neither stops the walk nor names another file.
TEST(CliTasks, AddSendEncodesTheNamesThatTheWalkDecodes) {
  ScratchDir home;
  const auto parcelo = [&](const std::string& arguments) { return Parcelo(home.path(), arguments); };
  const std::string fifty = home.Join("50%off.bin"), twenty = home.Join("a%20b");
  WriteFile(fifty, "half price");
  WriteFile(twenty, "not a blank");
  const std::string created = "HTTP/1.0 201 Created\r\n\r\n";
  peers::HttpPeer peer({{created}, {created}});
  ASSERT_EQ(0, parcelo("add --send --to " + peer.Link("/in") + " " + fifty + " " + twenty).exit_code);
  const Texts links = {peer.Link("/in/50%25off.bin"), peer.Link("/in/a%2520b")};
  const std::string list = parcelo("--task " + home.Join("Default.snd") + " list").out;
  EXPECT_TRUE(Glob("0\t" + fifty + "\t" + links[0] + "\t*\n1\t" + twenty + "\t" + links[1] + "\t*\n", list)) << list;

  const Outcome sent = parcelo("send");
  EXPECT_EQ(0, sent.exit_code) << sent.out;
  Texts requests = peer.Requests();
  std::sort(requests.begin(), requests.end());
  EXPECT_TRUE(Matches({"PUT /in/50%25off.bin HTTP/1.0\r\n*\r\n\r\nhalf price",
                       "PUT /in/a%2520b HTTP/1.0\r\n*\r\n\r\nnot a blank"}, requests));
}

}  // namespace
