#include "tasks/entries.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <regex>
#include <string>
#include <vector>

#include "engine/appstate.h"
#include "engine/url.h"
#include "platform/fs.h"
#include "platform/tasklist.h"
#include "task_fixtures.h"
#include "tasks/taskfile.h"

namespace {

using task_fixtures::Exists;
using task_fixtures::ReadFile;
using task_fixtures::TaskEnvironment;
using task_fixtures::WriteFile;

TEST(FormatEntryDate, UsesTwoDigitYears) {
  struct Case {
    clock_seam::LocalTime time;
    const char* text;
  } cases[] = {
      {{2026, 3, 14, 9, 5, 59}, "03/14/26 09:05"},
      {{1999, 12, 31, 23, 59, 0}, "12/31/99 23:59"},
      {{1995, 1, 2, 0, 0, 0}, "01/02/95 00:00"},
      {{2000, 1, 1, 0, 0, 0}, "01/01/00 00:00"},
      {{2009, 10, 9, 12, 30, 0}, "10/09/09 12:30"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.text, entries::FormatEntryDate(c.time));
}

struct Row {
  std::string local_file, url, status, date;
  bool operator==(const Row& o) const {
    return local_file == o.local_file && url == o.url && status == o.status && date == o.date;
  }
};

std::ostream& operator<<(std::ostream& out, const Row& row) {
  return out << '{' << row.local_file << " | " << row.url << " | " << row.status << " | "
             << row.date << '}';
}

std::vector<Row> Rows() {
  tasklist::Port& list = tasklist::Current();
  std::vector<Row> rows;
  for (int i = 0; i < list.RowCount(); ++i) {
    rows.push_back({list.GetCell(i, tasklist::kLocalFile), list.GetCell(i, tasklist::kUrl),
                    list.GetCell(i, tasklist::kStatus), list.GetCell(i, tasklist::kDate)});
  }
  return rows;
}

// Parses text and adds it as a drop would.
int Drop(const std::string& text) {
  url::Record record;
  std::string display, stored;
  if (url::Parse(text, &record, &display, &stored) != 0) return -2;
  return entries::AddEntry(display, record.path, stored);
}

const std::regex kStamp("\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d");

TEST(AddEntry, AppendsTheTaskLineAndTheRow) {
  TaskEnvironment env;
  const std::string down = env.dir.Join("down");
  env.SetDownload(down);
  const std::string earliest = entries::FormatEntryDate(clock_seam::Now());
  ASSERT_EQ(0, Drop("http://h/dir/a.zip"));
  const std::string latest = entries::FormatEntryDate(clock_seam::Now());

  const std::string content = ReadFile(env.TaskPath());
  ASSERT_GT(content.size(), 14u);
  const std::string stamp = content.substr(0, 14);
  EXPECT_TRUE(stamp == earliest || stamp == latest) << stamp;
  EXPECT_EQ("\t" + down + "/a.zip\tAwaiting_command\thttp://h/dir/a.zip\r\n", content.substr(14));
  EXPECT_EQ((std::vector<Row>{{down + "/a.zip", "http://h/dir/a.zip", "Awaiting command", stamp}}),
            Rows());
  EXPECT_EQ(down, app::LocalDirectory());
  EXPECT_TRUE(env.sink.shown.empty());
}

TEST(AddEntry, WritesTheClearPasswordAndShowsItMasked) {
  TaskEnvironment env;
  env.SetDownload(env.dir.path() + "/");  // no second separator
  ASSERT_EQ(0, Drop("ftp://joe:secret@h:2121/pub/a.zip"));
  const std::string line = taskfile::ReadEntryLine(env.TaskPath(), 0);
  const taskfile::TaskLine fields = taskfile::SplitTaskLine(line);
  EXPECT_EQ(env.dir.path() + "/a.zip", fields.local_file);
  EXPECT_EQ("ftp://joe:secret@h:2121/pub/a.zip", fields.url);
  ASSERT_EQ(1u, Rows().size());
  EXPECT_EQ("ftp://joe:******@h:2121/pub/a.zip", Rows()[0].url);
}

TEST(AddEntry, SendModeUsesTheCallersLocalDirectory) {
  TaskEnvironment env;
  env.SetDownload(env.dir.Join("down"));
  app::SetCurrentMode(app::kSendMode);
  app::SetCurrentTaskPath(env.dir.Join("Default.snd"));
  app::SetLocalDirectory("/home/me/out/");
  ASSERT_EQ(0, Drop("ftp://h/incoming/report.txt"));
  EXPECT_EQ("/home/me/out/report.txt",
            taskfile::SplitTaskLine(taskfile::ReadEntryLine(env.TaskPath(), 0)).local_file);
  EXPECT_EQ("/home/me/out/", app::LocalDirectory());
}

TEST(AddEntry, UrlEndingInSlashGivesTheDirectory) {
  TaskEnvironment env;
  ASSERT_EQ(0, Drop("http://h/dir/"));
  EXPECT_EQ(env.dir.path() + "/", Rows().at(0).local_file);
}

TEST(AddEntry, RefusesLinesThatWouldBreakTheTaskFile) {
  struct Case {
    const char* name;
    std::string display, path, stored;
    std::string box;
  } cases[] = {
      {"unsafe name", "http://h/..", "/..", "http://h/..\r\n", "Unsafe file name in link: .."},
      {"backslash name", "http://h/..\\x", "/..\\x", "http://h/..\\x\r\n",
       "Unsafe file name in link: ..\\x"},
      {"TAB in the URL", "http://h/a\tb", "/a\tb", "http://h/a\tb\r\n",
       "Link holds a TAB or a line break"},
      {"line break in the URL", "http://h/a\r\nb", "/a\r\nb", "http://h/a\r\nb\r\n",
       "Link holds a TAB or a line break"},
      {"line break in the stored form only", "http://h/ab", "/ab", "http://h/a\nb\r\n",
       "Link holds a TAB or a line break"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TaskEnvironment env;
    EXPECT_EQ(-1, entries::AddEntry(c.display, c.path, c.stored));
    EXPECT_FALSE(Exists(env.TaskPath()));
    EXPECT_TRUE(Rows().empty());
    ASSERT_EQ(1u, env.sink.shown.size());
    EXPECT_EQ(c.box, env.sink.shown[0].text);
    EXPECT_EQ("Error", env.sink.shown[0].caption);
  }
}

TEST(AddEntry, LongestLineStillReadsBackWhole) {
  TaskEnvironment env;
  // date(14) TAB local TAB Awaiting_command(16) TAB URL = 1021 bytes.
  const std::string url_text = "http://h/" + std::string(100, 'p') + "/a.zip";
  const std::size_t fixed = 14 + 1 + 1 + 16 + 1 + url_text.size() + std::string("/a.zip").size();
  const std::string longest_dir = "/" + std::string(1021 - fixed - 1, 'd');
  env.SetDownload(longest_dir);
  ASSERT_EQ(0, Drop(url_text));
  ASSERT_EQ(0, Drop("http://h/b.zip"));
  EXPECT_EQ(2, entries::LoadTask(env.TaskPath()));
  EXPECT_EQ(longest_dir + "/a.zip", Rows().at(0).local_file);
  EXPECT_EQ("http://h/b.zip", Rows().at(1).url);

  // One byte more would leave the LF to a further, empty line.
  env.SetDownload(longest_dir + "d");
  EXPECT_EQ(-1, Drop(url_text));
  ASSERT_EQ(1u, env.sink.shown.size());
  EXPECT_EQ("Local file and link too long for the task file", env.sink.shown[0].text);
  EXPECT_EQ(2u, Rows().size());
  std::vector<std::string> lines;
  EXPECT_EQ(2, taskfile::ReadLines(env.TaskPath(), &lines));
}

TEST(AddEntry, UnwritableTaskFileAddsNoRow) {
  TaskEnvironment env;
  app::SetCurrentTaskPath(env.dir.Join("missing/dir/Default.rcv"));
  EXPECT_EQ(-1, Drop("http://h/a.zip"));
  EXPECT_TRUE(Rows().empty());
  ASSERT_EQ(1u, env.sink.shown.size());
  EXPECT_EQ("Cannot write the task file " + env.dir.Join("missing/dir/Default.rcv"),
            env.sink.shown[0].text);
}

TEST(InsertEntryRow, InsertsAtTheIndex) {
  TaskEnvironment env;
  entries::AppendEntryRow("d0", "s0", "u0", "f0");
  entries::AppendEntryRow("d2", "s2", "u2", "f2");
  EXPECT_EQ(1, entries::InsertEntryRow(1, "d1", "s1", "u1", "f1"));
  EXPECT_EQ((std::vector<Row>{{"f0", "u0", "s0", "d0"}, {"f1", "u1", "s1", "d1"}, {"f2", "u2", "s2", "d2"}}),
            Rows());
}

TEST(LoadTask, ShowsRowsUpToTheFirstEmptyLine) {
  TaskEnvironment env;
  const std::string path = env.dir.Join("Work.rcv");
  WriteFile(path,
            "03/14/26 09:05\t/d/a.zip\tAwaiting_command\tftp://joe:pw@h/a.zip\r\n"
            "03/15/26 10:06\t/d/b.zip\tPartly_done_now\tgopher://joe:pw@h/b.zip\r\n"
            "\r\n"
            "03/16/26 11:07\t/d/c.zip\tAwaiting_command\thttp://h/c.zip\r\n");
  tasklist::HeadlessBody().InsertRow(0, "stale row");
  EXPECT_EQ(2, entries::LoadTask(path));
  EXPECT_EQ("Parcelo(32) Task Work", tasklist::HeadlessBody().Title());
  EXPECT_EQ((std::vector<Row>{
                {"/d/a.zip", "ftp://joe:**@h/a.zip", "Awaiting command", "03/14/26 09:05"},
                // An unparseable URL is shown as stored, password and all.
                {"/d/b.zip", "gopher://joe:pw@h/b.zip", "Partly done now", "03/15/26 10:06"},
            }),
            Rows());
}

TEST(LoadTask, ShortLinesGiveEmptyCells) {
  TaskEnvironment env;
  const std::string path = env.dir.Join("Short.rcv");
  WriteFile(path, "03/14/26\r\n");
  EXPECT_EQ(1, entries::LoadTask(path));
  EXPECT_EQ((std::vector<Row>{{"", "", "", "03/14/26 "}}), Rows());
}

TEST(LoadTask, LongLineLoadsAsTwoEntries) {
  TaskEnvironment env;
  const std::string path = env.dir.Join("Long.rcv");
  const std::string head = "03/14/26 09:05\t/d/";
  const std::string tail = "x\tAwaiting_command\thttp://h/t";
  WriteFile(path, head + std::string(1500 - head.size() - tail.size(), 'n') + tail + "\r\n");
  EXPECT_EQ(2, entries::LoadTask(path));
  ASSERT_EQ(2u, Rows().size());
  EXPECT_EQ("/d/" + std::string(1022 - head.size(), 'n'), Rows()[0].local_file);
  EXPECT_EQ("03/14/26 09:05", Rows()[0].date);
  // The second entry is the bytes after the 1023rd, split as a line of its own.
  EXPECT_EQ(std::string(1500 - 1023 - tail.size(), 'n') + "x Awaiting_command", Rows()[1].date);
  EXPECT_EQ("http://h/t", Rows()[1].local_file);
}

TEST(LoadTask, MissingFileLeavesAnEmptyListAndNoFile) {
  TaskEnvironment env;
  entries::AppendEntryRow("d", "s", "u", "f");
  const std::string path = env.dir.Join("Gone.snd");
  EXPECT_EQ(-1, entries::LoadTask(path));
  EXPECT_TRUE(Rows().empty());
  EXPECT_FALSE(Exists(path));
  EXPECT_EQ("Parcelo(32) Task Gone", tasklist::HeadlessBody().Title());
}

TEST(TaskTitle, UsesTheNameWithoutDirectoryAndExtension) {
  EXPECT_EQ("Parcelo(32) Task Work", entries::TaskTitle("/p/Work.rcv"));
  EXPECT_EQ("Parcelo(32) Task Default", entries::TaskTitle("Default.snd"));
  EXPECT_EQ("Parcelo(32) Task my.old", entries::TaskTitle("/p.q/my.old.rcv"));
  EXPECT_EQ("Parcelo(32) Task plain", entries::TaskTitle("/p.q/plain"));
}

// Five entries e0..e4 in the current task, in the file and in the list.
void MakeFiveEntries() {
  for (int i = 0; i < 5; ++i) ASSERT_EQ(0, Drop("http://h/e" + std::to_string(i)));
}

std::vector<std::string> LocalNamesInFile(const std::string& path) {
  std::vector<std::string> lines, names;
  taskfile::ReadLines(path, &lines);
  for (const std::string& line : lines) {
    names.push_back(fs::BaseName(taskfile::SplitTaskLine(line).local_file));
  }
  return names;
}

std::vector<std::string> LocalNamesInList() {
  std::vector<std::string> names;
  for (const Row& row : Rows()) names.push_back(fs::BaseName(row.local_file));
  return names;
}

TEST(DeleteEntries, RemovesTheSelectedRowsFromListAndFile) {
  TaskEnvironment env;
  MakeFiveEntries();
  tasklist::Port& list = tasklist::Current();
  for (int row : {1, 2, 4}) list.SetSelected(row, true);
  EXPECT_EQ(3, entries::DeleteEntries());
  EXPECT_EQ((std::vector<std::string>{"e0", "e3"}), LocalNamesInList());
  EXPECT_EQ((std::vector<std::string>{"e0", "e3"}), LocalNamesInFile(env.TaskPath()));
  EXPECT_EQ(0, list.SelectedCount());
}

TEST(DeleteEntries, NothingSelectedDeletesNothing) {
  TaskEnvironment env;
  MakeFiveEntries();
  const std::string before = ReadFile(env.TaskPath());
  EXPECT_EQ(0, entries::DeleteEntries());
  EXPECT_EQ(5u, Rows().size());
  EXPECT_EQ(before, ReadFile(env.TaskPath()));
}

TEST(DeleteEntries, KeepsRowsWhenTheFileCannotBeRewritten) {
  TaskEnvironment env;
  MakeFiveEntries();
  const std::string before = ReadFile(env.TaskPath());
  tasklist::Current().SetSelected(0, true);
  tasklist::Current().SetSelected(3, true);
  {
    // Writes fail as on a full disk.
    void (*old_handler)(int) = signal(SIGXFSZ, SIG_IGN);
    rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit lowered = old;
    lowered.rlim_cur = 10;
    setrlimit(RLIMIT_FSIZE, &lowered);
    EXPECT_EQ(0, entries::DeleteEntries());
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, old_handler);
  }
  EXPECT_EQ(before, ReadFile(env.TaskPath()));
  EXPECT_EQ(5u, Rows().size());
  ASSERT_EQ(1u, env.sink.shown.size());
  EXPECT_EQ("Cannot rewrite the task file " + env.TaskPath(), env.sink.shown[0].text);
}

TEST(NewTask, EmptiesTheListForANewName) {
  TaskEnvironment env;
  entries::AppendEntryRow("d", "s", "u", "f");
  const std::string path = entries::NewTask("Work");
  EXPECT_EQ(env.dir.Join("Work.rcv"), path);
  EXPECT_EQ(path, app::CurrentTaskPath());
  EXPECT_TRUE(Rows().empty());
  EXPECT_EQ("Parcelo(32) Task Work", tasklist::HeadlessBody().Title());
  EXPECT_FALSE(Exists(path));
}

TEST(NewTask, LoadsAnExistingFileSoRowsMatchLines) {
  TaskEnvironment env;
  app::SetCurrentMode(app::kSendMode);
  WriteFile(env.dir.Join("Old.snd"), "03/14/26 09:05\t/d/a\tAwaiting_command\tftp://h/a\r\n");
  entries::NewTask("Old");
  EXPECT_EQ(env.dir.Join("Old.snd"), app::CurrentTaskPath());
  app::SetLocalDirectory("/d/");
  ASSERT_EQ(0, Drop("ftp://h/b"));
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), LocalNamesInList());
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), LocalNamesInFile(app::CurrentTaskPath()));
}

}  // namespace
