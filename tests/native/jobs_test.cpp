// Transfer jobs: the walk over a task, the workers' attempts, the progress
// columns and the log line, against loopback servers.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/appstate.h"
#include "engine/jobs.h"
#include "engine/progress.h"
#include "engine/session.h"
#include "engine/timeouts.h"
#include "native/job_server.h"
#include "peers/recording_list.h"
#include "platform/prompts.h"
#include "settings/settings.h"
#include "settings/store.h"
#include "tasks/entries.h"
#include "tasks/transfer_log.h"

namespace {

using job_server::Link;
using job_server::ReadFile;

// Only the walker shows boxes in these tests, on the test's thread.
class BoxLog : public prompts::Sink {
 public:
  int Message(const std::string& text, const std::string& caption, unsigned style) override {
    boxes.push_back(caption + ": " + text);
    return prompts::DefaultAnswer(style);
  }
  void Beep(unsigned) override {}
  std::vector<std::string> boxes;
};

class JobsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "parcelo-jobs-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    app::SetProgramDirectory(dir_);
    settings::InstallStore(nullptr);
    settings::SetStoreDirectory(dir_);  // settings.ini in the scratch directory
    settings::Load(dir_);
    tasklist::Install(&list_);
    prompts::SetSink(&boxes_);
    progress::InstallReporter(&jobs::ReportProgress);
    timeouts::Set(3000, 3000, 3000);
    app::SetCurrentMode(app::kReceiveMode);
  }

  void TearDown() override {
    for (const jobs::JobHandle& job : jobs_) EXPECT_TRUE(job->WaitUntilEnded(15000));
    timeouts::RestoreDefaults();
    progress::InstallReporter(nullptr);
    prompts::SetSink(nullptr);
    tasklist::Install(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  void UseSetting(const std::string& name, const std::string& value) {
    settings::WriteText(name, value);
    settings::Load(dir_);
  }

  // A task of one entry per URL, local files a0, a1, ...; made current and loaded.
  std::string UseTask(const std::string& name, const std::vector<std::string>& urls) {
    const std::string path = dir_ + "/" + name;
    std::ofstream out(path, std::ios::binary);
    for (std::size_t i = 0; i < urls.size(); ++i) {
      out << "03/14/26 09:00\t" << dir_ << "/a" << i << "\tAwaiting_command\t" << urls[i] << "\r\n";
    }
    out.close();
    app::SetCurrentTaskPath(path);
    entries::LoadTask(path);
    return path;
  }

  jobs::JobHandle Start(bool send = false) {
    jobs_.push_back(send ? jobs::StartSendJob(std::string()) : jobs::StartReceiveJob(std::string()));
    return jobs_.back();
  }

  std::string Status(int row) { return list_.GetCell(row, tasklist::kStatus); }

  std::string dir_;
  peers::RecordingList list_;
  BoxLog boxes_;
  std::vector<jobs::JobHandle> jobs_;
};

TEST_F(JobsTest, WalkStartsTheChosenRowsMarksBadLinksAndStopsAtAMalformedEscape) {
  const std::uint16_t refused = job_server::RefusingPort();
  const std::string good = Link(refused, "/f");
  struct Case {
    const char* name;
    std::vector<std::string> urls;
    std::vector<int> selected, started, bad;
    bool stopped;
    const char* firewall;
  } cases[] = {
      {"none selected: all", {good, good, good}, {}, {0, 1, 2}, {}, false, "0"},
      {"rows 0 and 2 selected", {good, good, good}, {0, 2}, {0, 2}, {}, false, "0"},
      {"unknown scheme", {good, "gopher://h/f", good}, {}, {0, 2}, {1}, false, "0"},
      {"malformed escape", {good, Link(refused, "/a%zz"), good}, {}, {0}, {}, true, "0"},
      {"malformed user", {good, "http://a%zz@127.0.0.1/f", good}, {}, {0}, {}, true, "0"},
      // Through a proxy the user stays as written (and the proxy is missing).
      {"user kept for the proxy", {"http://a%zz@127.0.0.1/f"}, {}, {0}, {}, false, "1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UseSetting("Firewall", c.firewall);
    UseTask("Default.rcv", c.urls);
    for (int row : c.selected) list_.SetSelected(row, true);
    const jobs::JobHandle job = Start();
    EXPECT_EQ(c.started, job->StartedRows());
    EXPECT_EQ(c.bad, job->BadLinkRows());
    EXPECT_EQ(c.stopped, job->WalkStopped());
    ASSERT_TRUE(job->WaitUntilEnded(15000));
    for (int row : c.bad) EXPECT_EQ("Bad link", Status(row));
    for (int row : c.started) EXPECT_NE("Awaiting command", Status(row));
  }
  EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(JobsTest, ASendJobShowsABadLinkInABoxAndLeavesTheRow) {
  app::SetCurrentMode(app::kSendMode);
  UseTask("Default.snd", {"gopher://h/f"});
  EXPECT_EQ(std::vector<int>{0}, Start(true)->BadLinkRows());
  EXPECT_EQ("Awaiting command", Status(0));
  EXPECT_EQ(std::vector<std::string>{"error: Bad link"}, boxes_.boxes);
}

TEST_F(JobsTest, AttemptsEndAfterCycleDownloadRepeatsOrAtARedirect) {
  UseSetting("CycleDownload", "2");
  job_server::Server server({"HTTP/1.0 302 Found\r\nLocation: /moved\r\n\r\n"});
  const std::string task =
      UseTask("Default.rcv", {Link(job_server::RefusingPort(), "/f"), Link(server.port(), "/f")});
  const jobs::JobHandle job = Start();
  ASSERT_TRUE(job->WaitUntilEnded(15000));

  const std::vector<std::string> statuses = list_.Statuses(0);
  EXPECT_EQ(3, std::count(statuses.begin(), statuses.end(), "Failed to connect"));
  EXPECT_EQ("Failed to connect", statuses.back());
  int result = 0;
  ASSERT_TRUE(job->ResultOf(0, &result));
  EXPECT_LT(result, 0);

  ASSERT_TRUE(job->ResultOf(1, &result));
  EXPECT_EQ(session::kRedirected, result);
  EXPECT_EQ(1u, server.Requests().size());
  EXPECT_NE(std::string::npos, ReadFile(task).find(Link(server.port(), "/moved")));
}

TEST(JobProgress, ColumnsFollowTheRateOfThisAttempt) {
  const std::uint64_t kFiveGiB = 5ull << 30;
  struct Case {
    std::uint64_t done, total, resumed;
    std::uint32_t elapsed_ms;
    const char *status, *bytes, *time, *rate;
  } cases[] = {
      {10240, 10240, 0, 10000, "Percent=100", "Totalbyte 10240 / 10240", "00:00:10:00:00:00", "1024"},
      {500, 10240, 0, 999, "Percent=4", "Totalbyte 500 / 10240", "", "0"},
      // Only the 4000 bytes of this attempt count: 2000 per second.
      {6000, 10000, 2000, 2500, "Percent=60", "Totalbyte 6000 / 10000", "00:00:02:00:00:02", "2000"},
      {7000, 0, 0, 2000, "Percent=0", "Totalbyte 7000 / 0", "", "3500"},
      // Nothing new since the start: the time column keeps its text.
      {2000, 10000, 2000, 5000, "Percent=20", "Totalbyte 2000 / 10000", "", "0"},
      {kFiveGiB / 2, kFiveGiB, 0, 3723000, "Percent=50", "Totalbyte 2684354560 / 5368709120",
       "01:02:03:01:02:03", "721019"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    const jobs::ProgressTexts texts = jobs::ComputeProgress(c.done, c.total, c.resumed, c.elapsed_ms);
    EXPECT_EQ(c.status, texts.status);
    EXPECT_EQ(c.bytes, texts.bytes);
    EXPECT_EQ(c.time, texts.time);
    EXPECT_EQ(c.rate, texts.rate);
  }
  EXPECT_EQ("100:00:59", jobs::FormatDuration(360059999));
}

TEST_F(JobsTest, AfterATaskSwitchReportsStopButTheLogLineNamesTheWorkersEntry) {
  const std::string task = UseTask("Default.rcv", {"ftp://joe:secret@h/a.zip"});
  session::Context context;
  context.task_path = task;
  context.bytes_done = context.total_size = 10;
  context.entry_local_file = "C:\\Down\\a.zip";
  context.entry_url = "ftp://joe:******@h/a.zip";
  progress::ReportProgress(context);
  EXPECT_EQ("Percent=100", Status(0));

  UseTask("Other.rcv", {"http://h/other"});
  progress::ReportProgress(context);
  EXPECT_EQ("Awaiting command", Status(0));
  transfer_log::WriteLogLine(context);
  context.mode = session::kSend;
  transfer_log::WriteLogLine(context);
  for (const char* log : {"/logr.txt", "/logs.txt"}) {
    const std::string line = ReadFile(dir_ + log);
    ASSERT_EQ(14u, line.find('\t')) << line;  // "MM/DD/YY HH:MM"
    EXPECT_EQ("\tC:\\Down\\a.zip\tftp://joe:******@h/a.zip\r\n", line.substr(14));
  }
  EXPECT_EQ("03/04/26 05:06\tf\tu\r\n", transfer_log::LogLine({2026, 3, 4, 5, 6, 7}, "f", "u"));
}

}  // namespace
