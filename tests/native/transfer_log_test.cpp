// The transfer logs as the log viewer uses them: reading the three fields,
// clearing, removing an executed line while jobs append; where Execute puts
// its copy; and the built parcelo binary's log command.

#include "tasks/transfer_log.h"

#include <thread>

#include "engine/session.h"
#include "native/fixtures.h"
#include "tasks/log_viewer.h"
#include "tasks/taskfile.h"

namespace {

using namespace fixtures;
using transfer_log::LogRow;
using Rows = std::vector<LogRow>;

struct TransferLog : ::testing::Test {
  TaskEnvironment env;
  const std::string download_log = env.dir.Join("logr.txt");
  const std::string upload_log = env.dir.Join("logs.txt");
};

TEST_F(TransferLog, ReadGivesThreeFieldsPerLineUpToTheFirstEmptyLine) {
  const struct { std::string content; Rows rows; } cases[] = {
      {"03/14/26 09:00\tC:\\a.zip\tftp://h/a.zip\r\n\r\nlost\tC:\\b\tftp://h/b\r\n",
       {{"03/14/26 09:00", "C:\\a.zip", "ftp://h/a.zip"}}},
      // Runs of TABs count as one, leading ones too; missing fields are
      // empty; a fourth field is not shown.
      {"s\t\t\tf\tu\r\n\tf\tu\r\ns\tf\r\ns\r\ns\tf\tu\tmore\r\n",
       {{"s", "f", "u"}, {"f", "u", ""}, {"s", "f", ""}, {"s", "", ""}, {"s", "f", "u"}}},
      {"a\tb\tc\nlast\tline", {{"a", "b", "c"}, {"last", "line", ""}}},
      {"\r\ns\tf\tu\r\n", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content);
    WriteFile(download_log, c.content);
    EXPECT_EQ(c.rows, transfer_log::ReadLog(app::kReceiveMode));
  }
  // Each mode reads its own log; a missing one is empty and stays missing.
  EXPECT_EQ(Rows{}, transfer_log::ReadLog(app::kSendMode));
  EXPECT_FALSE(std::filesystem::exists(upload_log));
  WriteFile(upload_log, "s\tC:\\up\tftp://h/in/\r\n");
  EXPECT_EQ((Rows{{"s", "C:\\up", "ftp://h/in/"}}), transfer_log::ReadLog(app::kSendMode));
}

// A log held elsewhere for its first tries (here a directory in its place
// for 400 ms: the tries at 0, 50, 150 and 350 ms fail, the one at 750 ms
// does) still gets the line, without a box.
TEST_F(TransferLog, ALogBusyForItsFirstTriesStillGetsTheLine) {
  std::filesystem::create_directory(download_log);
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    std::filesystem::remove(download_log);
  });
  session::Context context;
  context.entry_local_file = "f";
  context.entry_url = "u";
  const int lost = transfer_log::LostLines();
  transfer_log::WriteLogLine(context);
  release.join();
  EXPECT_TRUE(Glob("*\tf\tu\r\n", ReadFile(download_log)));
  EXPECT_EQ(lost, transfer_log::LostLines());
  EXPECT_TRUE(env.sink.Shown().empty());
}

TEST_F(TransferLog, RemovingAnExecutedLineKeepsEveryOtherByte) {
  // The other lines have shapes a rewrite would not reproduce: a bare LF, a
  // doubled TAB, a fourth field, a last line without its line end.
  const std::string first = "03/14/26 09:00\tC:\\a.zip\t\tftp://h/a.zip\n";
  const std::string twin = "03/14/26 09:01\tC:\\b.zip\tftp://h/b.zip\r\n";
  const std::string last = "03/14/26 09:02\tC:\\c.zip\tftp://h/c.zip\textra";
  const LogRow b = {"03/14/26 09:01", "C:\\b.zip", "ftp://h/b.zip"};
  const struct { std::string before; int index; LogRow row; int result; std::string after; } cases[] = {
      {first + twin + last, 1, b, 0, first + last},
      // Two lines read as the row: the one at the row's index goes.
      {twin + first + twin + last, 2, b, 0, twin + first + last},
      // Lines went before the row's since the viewer read the log: the first
      // line that reads as the row goes.
      {twin + last, 1, b, 0, last},
      {first + last, 1, b, 1, first + last},
      // A line past the first empty line is not one the viewer showed.
      {first + "\r\n" + twin, 1, b, 1, first + "\r\n" + twin},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.before + " at " + std::to_string(c.index));
    WriteFile(download_log, c.before);
    EXPECT_EQ(c.result, transfer_log::RemoveLogLine(app::kReceiveMode, c.index, c.row));
    EXPECT_EQ(c.after, ReadFile(download_log));
  }
  // No temporary file is left beside the log and its lock.
  EXPECT_EQ((Texts{"logr.txt", taskfile::LockPath("logr.txt")}), Names(env.dir.path()));
  EXPECT_EQ(-1, transfer_log::RemoveLogLine(app::kSendMode, 0, b));
  EXPECT_FALSE(std::filesystem::exists(upload_log));
}

// Workers append log lines while the viewer removes executed lines and
// clears the log: no appended line is lost to a removal, none is torn.
TEST_F(TransferLog, RemovalsAndClearsWhileJobsAppendLoseAndTearNoLine) {
  constexpr int kOld = 60, kWorkers = 3, kAppends = 80;
  std::string old;
  for (int i = 0; i < kOld; ++i) {
    old += transfer_log::LogLine({2026, 3, 14, 9, 0, 0}, "C:\\old" + std::to_string(i), "u");
  }
  WriteFile(download_log, old);
  const auto append = [](int worker, int count) {
    session::Context context;
    context.mode = session::kReceive;
    context.entry_url = "ftp://h/w" + std::to_string(worker);
    for (int i = 0; i < count; ++i) {
      context.entry_local_file = "C:\\new" + std::to_string(worker) + "_" + std::to_string(i);
      transfer_log::WriteLogLine(context);
    }
  };
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) workers.emplace_back(append, w, kAppends);
  for (int i = 0; i < kOld; ++i) {
    // The viewer showed old line i at row 0 after removing those before it.
    const LogRow shown = {"03/14/26 09:00", "C:\\old" + std::to_string(i), "u"};
    EXPECT_EQ(0, transfer_log::RemoveLogLine(app::kReceiveMode, 0, shown));
  }
  for (std::thread& worker : workers) worker.join();
  Rows rows = transfer_log::ReadLog(app::kReceiveMode);
  ASSERT_EQ(static_cast<std::size_t>(kWorkers * kAppends), rows.size());
  for (int w = 0; w < kWorkers; ++w) {
    int next = 0;  // each worker's lines in its order
    for (const LogRow& row : rows) {
      if (row.url == "ftp://h/w" + std::to_string(w)) {
        EXPECT_EQ("C:\\new" + std::to_string(w) + "_" + std::to_string(next++), row.local_file);
      }
    }
    EXPECT_EQ(kAppends, next);
  }

  // A clear may take any number of appended lines, but never part of one.
  workers.clear();
  for (int w = 0; w < kWorkers; ++w) workers.emplace_back(append, w, kAppends);
  for (int i = 0; i < 20; ++i) transfer_log::ClearLog(app::kReceiveMode);
  for (std::thread& worker : workers) worker.join();
  const std::string content = ReadFile(download_log);
  rows = transfer_log::ReadLog(app::kReceiveMode);
  std::size_t bytes = 0;
  for (const LogRow& row : rows) {
    EXPECT_EQ(14u, row.stamp.size());
    EXPECT_EQ("C:\\new", row.local_file.substr(0, 6));
    EXPECT_EQ("ftp://h/w", row.url.substr(0, 9));
    bytes += (row.stamp + '\t' + row.local_file + '\t' + row.url + "\r\n").size();
  }
  EXPECT_EQ(content.size(), bytes);
}

TEST(LogExecute, CopiesIntoAFolderNamedAfterTheFileAndRefusesFoldersOutsideItsDirectory) {
  const struct { std::string local_file; bool planned; std::string drive, folder, copy; } cases[] = {
      {"C:\\Down\\setup1.exe", true, "C:", "C:\\Down\\setup1", "C:\\Down\\setup1\\setup1.exe"},
      {"d:/x/a.b.zip", true, "d:", "d:/x/a.b", "d:/x/a.b\\a.b.zip"},
      {"C:\\readme", true, "C:", "C:\\readme", "C:\\readme\\readme"},  // fails when run
      {"C:\\Down\\...zip", false, "", "", ""},  // the folder would be C:\Down\..
      {"C:\\Down\\.zip", false, "", "", ""},   // the copy would be the file itself
      {"C:\\Down\\. .exe", false, "", "", ""},
      {"C:\\Down\\a:b.exe", false, "", "", ""},
      {"Down\\a.exe", false, "", "", ""},
      {"C:a.exe", false, "", "", ""},
      {"\\\\server\\share\\a.exe", false, "", "", ""},
      {"/home/u/a.zip", false, "", "", ""},
      {"", false, "", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.local_file);
    log_viewer::ExecutePaths paths;
    EXPECT_EQ(c.planned, log_viewer::PlanExecute(c.local_file, &paths));
    EXPECT_EQ(c.drive, paths.drive);
    EXPECT_EQ(c.folder, paths.folder);
    EXPECT_EQ(c.copy, paths.copy);
  }
}

TEST(CliLog, PrintsTheFieldsTheViewerShowsAndClearsTheLogOfItsMode) {
  ScratchDir home;
  WriteFile(home.Join("logr.txt"), "03/14/26 09:00\t\t/d/a.zip\tftp://joe:******@h/a.zip\r\ns\tf\r\n\r\nlost\r\n");
  WriteFile(home.Join("logs.txt"), "03/14/26 09:05\t/d/up.txt\tftp://h/in/\r\n");
  const Outcome shown = Parcelo(home.path(), "log");
  EXPECT_EQ((Outcome{0, "03/14/26 09:00\t/d/a.zip\tftp://joe:******@h/a.zip\ns\tf\t\n", ""}), shown);
  EXPECT_EQ("03/14/26 09:05\t/d/up.txt\tftp://h/in/\n", Parcelo(home.path(), "log --send").out);
  EXPECT_EQ(0, Parcelo(home.path(), "log --send --clear").exit_code);
  EXPECT_EQ("", ReadFile(home.Join("logs.txt")));
  EXPECT_TRUE(std::filesystem::exists(home.Join("logs.txt")));
  EXPECT_EQ("", Parcelo(home.path(), "log --send").out);
  EXPECT_EQ(shown.out, Parcelo(home.path(), "log").out);  // the download log is untouched
}

}  // namespace
