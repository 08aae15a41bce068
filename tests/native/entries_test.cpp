#include "tasks/entries.h"

#include "native/fixtures.h"
#include "tasks/taskfile.h"

namespace {

using namespace fixtures;


Texts ErrorBox(const std::string& text) { return {Box("Error", text, prompts::kIconStop | prompts::kTaskModal)}; }

struct Entries : ::testing::Test { TaskEnvironment env; };

// Each row as "local file|URL|status|date".
Texts Rows() {
  tasklist::Port& list = tasklist::Current();
  Texts rows;
  for (int i = 0; i < list.RowCount(); ++i) {
    rows.push_back(list.GetCell(i, tasklist::kLocalFile) + "|" + list.GetCell(i, tasklist::kUrl) + "|" +
                   list.GetCell(i, tasklist::kStatus) + "|" + list.GetCell(i, tasklist::kDate));
  }
  return rows;
}

TEST_F(Entries, AddWritesTheClearLineAndShowsTheMaskedRow) {
  EXPECT_EQ("03/14/26 09:05", entries::FormatEntryDate({2026, 3, 14, 9, 5, 59}));
  EXPECT_EQ("12/31/99 23:59", entries::FormatEntryDate({1999, 12, 31, 23, 59, 0}));
  const std::string down = env.dir.Join("down");
  env.Use("DOWNLOAD", down);
  const std::string earliest = entries::FormatEntryDate(clock_seam::Now());
  ASSERT_EQ(0, DropLink("ftp://joe:secret@h:2121/a.zip"));
  const std::string latest = entries::FormatEntryDate(clock_seam::Now());
  const std::string content = ReadFile(app::CurrentTaskPath()), stamp = content.substr(0, 14);
  EXPECT_TRUE(stamp == earliest || stamp == latest) << stamp;
  EXPECT_EQ("\t" + down + "/a.zip\tAwaiting_command\tftp://joe:secret@h:2121/a.zip\r\n", content.substr(14));
  EXPECT_EQ(Texts{down + "/a.zip|ftp://joe:******@h:2121/a.zip|Awaiting command|" + stamp}, Rows());
  EXPECT_EQ(down, app::LocalDirectory());
  EXPECT_TRUE(env.sink.Shown().empty());
}

TEST(AddEntry, RefusesLinesThatWouldBreakTheTaskFile) {
  const struct { std::string display, path, stored, box; } cases[] = {
      {"http://h/..", "/..", "http://h/..\r\n", "Unsafe file name in link: .."},
      {"http://h/a\tb", "/a\tb", "http://h/a\tb\r\n", "Link holds a TAB or a line break"},
      {"http://h/ab", "/ab", "http://h/a\nb\r\n", "Link holds a TAB or a line break"},
  };
  for (const auto& c : cases) {
    TaskEnvironment env;
    EXPECT_EQ(-1, entries::AddEntry(c.display, c.path, c.stored));
    EXPECT_FALSE(std::filesystem::exists(app::CurrentTaskPath()));
    EXPECT_TRUE(Rows().empty());
    EXPECT_EQ(env.sink.Shown(), ErrorBox(c.box));
  }
  // date(14) TAB local TAB Awaiting_command(16) TAB URL: 1022 bytes at most,
  // the text of one line. The link is 14 bytes, the local file the directory
  // and "/a.zip".
  TaskEnvironment env;
  const std::string longest = "/" + std::string(1022 - (14 + 3 + 16 + 14 + 6) - 1, 'd');
  env.Use("DOWNLOAD", longest);
  ASSERT_EQ(0, DropLink("http://h/a.zip"));
  env.Use("DOWNLOAD", longest + "d");
  EXPECT_EQ(-1, DropLink("http://h/a.zip"));
  EXPECT_EQ(env.sink.Shown(), ErrorBox("Local file and link too long for the task file"));
  EXPECT_EQ(1u, Rows().size());
  EXPECT_EQ(1, entries::LoadTask(app::CurrentTaskPath()));  // the longest line reads back whole
}

TEST_F(Entries, LoadTaskShowsRowsUpToTheFirstEmptyLine) {
  const std::string path = env.dir.Join("Work.2.rcv");
  WriteFile(path, "03/14/26 09:05\t/d/a.zip\tAwaiting_command\tftp://joe:pw@h/a.zip\r\n"
      // Runs of TABs count as one; leading blanks are skipped.
      "03/15/26\t10:06\t\t/d/b.zip\t \x01Partly_done_now\tgopher://joe:pw@h/b.zip\r\n"
      "03/16/26\r\n\r\n"
      "03/17/26 11:07\t/d/c.zip\tAwaiting_command\thttp://h/c.zip\r\n");
  entries::AppendEntryRow("d", "s", "u", "stale");
  EXPECT_EQ(3, entries::LoadTask(path));
  EXPECT_EQ("Parcelo(32) Task Work.2", tasklist::HeadlessBody().Title());
  EXPECT_EQ((Texts{"/d/a.zip|ftp://joe:**@h/a.zip|Awaiting command|03/14/26 09:05",
                   // An unparseable URL is shown as stored, password and all.
                   "/d/b.zip|gopher://joe:pw@h/b.zip|Partly done now|03/15/26 10:06", "|||03/16/26 "}), Rows());
  EXPECT_EQ(-1, entries::LoadTask(env.dir.Join("Gone.snd")));
  EXPECT_TRUE(Rows().empty());
  EXPECT_FALSE(std::filesystem::exists(env.dir.Join("Gone.snd")));
  EXPECT_FALSE(std::filesystem::exists(taskfile::LockPath(env.dir.Join("Gone.snd"))));
  EXPECT_EQ("Parcelo(32) Task Gone", tasklist::HeadlessBody().Title());
}

TEST_F(Entries, DeleteEntriesRemovesTheSelectedRowsFromListAndFileOrNoneOnAFullDisk) {
  for (int i = 0; i < 5; ++i) ASSERT_EQ(0, DropLink("http://h/e" + std::to_string(i)));
  const std::string path = app::CurrentTaskPath(), before = ReadFile(path);
  tasklist::Port& list = tasklist::Current();
  EXPECT_EQ(0, entries::DeleteEntries());
  for (int row : {1, 2, 4}) list.SetSelected(row, true);
  {
    FullDisk full(10);
    EXPECT_EQ(0, entries::DeleteEntries());
  }
  EXPECT_EQ(env.sink.Shown(), ErrorBox("Cannot rewrite the task file " + path));
  EXPECT_EQ(before, ReadFile(path));
  EXPECT_EQ(5, list.RowCount());
  EXPECT_EQ(3, entries::DeleteEntries());
  const Texts shown = Rows();
  EXPECT_EQ(2, entries::LoadTask(path));
  EXPECT_EQ(shown, Rows());  // row i still shows line i
  EXPECT_EQ("http://h/e0 http://h/e3", list.GetCell(0, tasklist::kUrl) + " " + list.GetCell(1, tasklist::kUrl));
}

TEST_F(Entries, NewTaskEmptiesTheListOrLoadsTheExistingFile) {
  entries::AppendEntryRow("d", "s", "u", "f");
  EXPECT_EQ(env.dir.Join("Work.rcv"), entries::NewTask("Work"));
  EXPECT_TRUE(Rows().empty());
  EXPECT_FALSE(std::filesystem::exists(env.dir.Join("Work.rcv")));
  // In send mode a new entry takes the local directory the caller set.
  app::SetCurrentMode(app::kSendMode);
  const std::string old = env.dir.Join("Old.snd");
  WriteFile(old, "03/14/26 09:05\t/d/a\tAwaiting_command\tftp://h/a\r\n");
  EXPECT_EQ(old, entries::NewTask("Old"));
  app::SetLocalDirectory("/home/me/out/");
  ASSERT_EQ(0, DropLink("ftp://h/in/b"));
  EXPECT_EQ(2u, Rows().size());
  EXPECT_EQ("/home/me/out/b", taskfile::SplitTaskLine(taskfile::ReadEntryLine(old, 1)).local_file);
}

}  // namespace
