// Transfer jobs: the walk over a task, the workers' attempts, the progress
// columns and the log line, against loopback servers.
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/appstate.h"
#include "engine/jobs.h"
#include "engine/progress.h"
#include "engine/session.h"
#include "engine/timeouts.h"
#include "engine/translog.h"
#include "native/job_server.h"
#include "peers/recording_list.h"
#include "platform/prompts.h"
#include "settings/settings.h"
#include "settings/store.h"
#include "tasks/entries.h"
#include "tasks/transfer_log.h"

namespace {

class MapStore : public settings::Store {
 public:
  bool Read(const std::string& name, std::string* value) override {
    auto found = values.find(name);
    if (found == values.end()) return false;
    *value = found->second;
    return true;
  }
  bool Write(const std::string& name, const std::string& value) override {
    values[name] = value;
    return true;
  }
  std::map<std::string, std::string> values;
};

class BoxLog : public prompts::Sink {
 public:
  int Message(const std::string& text, const std::string& caption, unsigned style) override {
    std::lock_guard<std::mutex> hold(lock_);
    boxes_.push_back(caption + ": " + text);
    return prompts::DefaultAnswer(style);
  }
  void Beep(unsigned) override {}
  std::vector<std::string> Boxes() {
    std::lock_guard<std::mutex> hold(lock_);
    return boxes_;
  }

 private:
  std::mutex lock_;
  std::vector<std::string> boxes_;
};

std::string ReadFile(const std::string& path) {
  std::ostringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
  return content.str();
}

class JobsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "parcelo-jobs-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    app::SetProgramDirectory(dir_);
    settings::InstallStore(&store_);
    settings::Load(dir_);
    tasklist::Install(&list_);
    prompts::SetSink(&boxes_);
    progress::InstallReporter(&jobs::ReportProgress);
    translog::InstallWriter(&transfer_log::WriteLogLine);
    timeouts::Set(3000, 3000, 3000);
    app::SetCurrentMode(app::kReceiveMode);
    app::ClearStopRequest();
  }

  void TearDown() override {
    for (const jobs::JobHandle& job : jobs_) EXPECT_TRUE(job->WaitUntilEnded(15000));
    timeouts::RestoreDefaults();
    translog::InstallWriter(nullptr);
    progress::InstallReporter(nullptr);
    prompts::SetSink(nullptr);
    tasklist::Install(nullptr);
    settings::InstallStore(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  void UseSetting(const std::string& name, const std::string& value) {
    store_.values[name] = value;
    settings::Load(dir_);
  }

  // Writes a task of one entry per URL (local files a0, a1, ... in the
  // scratch directory), makes it current and loads it.
  std::string UseTask(const std::string& name, const std::vector<std::string>& urls) {
    const std::string path = dir_ + "/" + name;
    std::ofstream out(path, std::ios::binary);
    for (std::size_t i = 0; i < urls.size(); ++i) {
      out << "03/14/26 09:00\t" << Local(i) << "\tAwaiting_command\t" << urls[i] << "\r\n";
    }
    out.close();
    app::SetCurrentTaskPath(path);
    entries::LoadTask(path);
    return path;
  }

  std::string Local(std::size_t i) const { return dir_ + "/a" + std::to_string(i); }

  jobs::JobHandle Receive() {
    jobs_.push_back(jobs::StartReceiveJob(std::string()));
    return jobs_.back();
  }

  std::string Cell(int row, int column) { return list_.GetCell(row, column); }

  std::string dir_;
  MapStore store_;
  peers::RecordingList list_;
  BoxLog boxes_;
  std::vector<jobs::JobHandle> jobs_;
};

std::string Link(std::uint16_t port, const std::string& path) {
  return "http://127.0.0.1:" + std::to_string(port) + path;
}

TEST_F(JobsTest, WalkStartsTheChosenRowsMarksBadLinksAndStopsAtAMalformedEscape) {
  const std::uint16_t refused = job_server::RefusingPort();
  const std::string good = Link(refused, "/f");
  struct Case {
    const char* name;
    std::vector<std::string> urls;
    std::vector<int> selected;
    std::vector<int> started;
    std::vector<int> bad;
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
    const jobs::JobHandle job = Receive();
    EXPECT_EQ(c.started, job->StartedRows());
    EXPECT_EQ(c.bad, job->BadLinkRows());
    EXPECT_EQ(c.stopped, job->WalkStopped());
    ASSERT_TRUE(job->WaitUntilEnded(15000));
    for (int row : c.bad) EXPECT_EQ("Bad link", Cell(row, tasklist::kStatus));
    for (int row : c.started) EXPECT_NE("Awaiting command", Cell(row, tasklist::kStatus));
  }
  EXPECT_TRUE(boxes_.Boxes().empty());
}

TEST_F(JobsTest, SendJobSwitchesModeShowsBadLinkInABoxAndRefusesAnEmptyTask) {
  // No Default.snd yet: the mode change loads an empty task.
  jobs_.push_back(jobs::StartSendJob(std::string()));
  EXPECT_TRUE(jobs_.back()->Empty());
  EXPECT_EQ(app::kSendMode, app::CurrentMode());
  EXPECT_EQ(app::DefaultTaskPath(app::kSendMode), app::CurrentTaskPath());

  UseTask("Default.snd", {"gopher://h/f"});
  jobs_.push_back(jobs::StartSendJob(std::string()));
  EXPECT_EQ(std::vector<int>{0}, jobs_.back()->BadLinkRows());
  EXPECT_EQ("Awaiting command", Cell(0, tasklist::kStatus));
  EXPECT_EQ((std::vector<std::string>{"Message: " + std::string(jobs::kNothingToSend), "error: Bad link"}),
            boxes_.Boxes());
}

TEST_F(JobsTest, AFailingEntryIsTriedCycleDownloadPlusOneTimes) {
  UseSetting("CycleDownload", "2");
  UseTask("Default.rcv", {Link(job_server::RefusingPort(), "/f")});
  const jobs::JobHandle job = Receive();
  ASSERT_TRUE(job->WaitUntilEnded(15000));
  const std::vector<std::string> statuses = list_.Statuses(0);
  EXPECT_EQ(3, std::count(statuses.begin(), statuses.end(), "Failed to connect"));
  EXPECT_EQ("Failed to connect", statuses.back());
  int result = 0;
  ASSERT_TRUE(job->ResultOf(0, &result));
  EXPECT_LT(result, 0);
}

TEST_F(JobsTest, ARedirectEndsTheWorkerAfterItsFirstAttempt) {
  UseSetting("CycleDownload", "2");
  job_server::Server server(std::vector<job_server::Answer>{{"HTTP/1.0 302 Found\r\nLocation: /moved\r\n\r\n", ""}});
  const std::string task = UseTask("Default.rcv", {Link(server.port(), "/f")});
  const jobs::JobHandle job = Receive();
  ASSERT_TRUE(job->WaitUntilEnded(15000));
  int result = 0;
  ASSERT_TRUE(job->ResultOf(0, &result));
  EXPECT_EQ(session::kRedirected, result);
  EXPECT_EQ(1u, server.Requests().size());
  EXPECT_NE(std::string::npos, ReadFile(task).find(Link(server.port(), "/moved")));
}

TEST(JobProgress, ColumnsFollowTheRateOfThisAttempt) {
  const std::uint64_t kFiveGiB = 5ull << 30;
  struct Case {
    std::uint64_t done, total, resumed;
    std::uint32_t elapsed_ms;
    const char* status;
    const char* bytes;
    const char* time;
    const char* rate;
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

TEST_F(JobsTest, LogLinesGoToTheLogOfTheirDirection) {
  EXPECT_EQ("03/04/26 05:06\tC:\\Down\\a.zip\tftp://joe:******@h/a.zip\r\n",
            transfer_log::LogLine({2026, 3, 4, 5, 6, 7}, "C:\\Down\\a.zip", "ftp://joe:******@h/a.zip"));
  session::Context upload;
  upload.mode = session::kSend;
  upload.entry_local_file = "/up/b.txt";
  upload.entry_url = "ftp://h/in/b.txt";
  transfer_log::WriteLogLine(upload);
  transfer_log::WriteLogLine(upload);
  const std::string tail = "\t/up/b.txt\tftp://h/in/b.txt\r\n";
  const std::string log = ReadFile(dir_ + "/logs.txt");
  ASSERT_EQ(2 * (14 + tail.size()), log.size()) << log;
  EXPECT_EQ(tail, log.substr(14, tail.size()));
  EXPECT_EQ(tail, log.substr(28 + tail.size()));
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/logr.txt"));
}

TEST_F(JobsTest, AfterATaskSwitchTheTransferGoesOnUnseenAndIsStillLogged) {
  // The pump reports whole blocks: the first part holds several.
  const std::string first(200000, 'x'), second(100000, 'y');
  const std::string header = "HTTP/1.0 200 OK\r\nContent-Length: 300000\r\n\r\n";
  job_server::Server server(std::vector<job_server::Answer>{{header + first, second}});
  UseTask("Default.rcv", {Link(server.port(), "/pub/f.bin")});
  const jobs::JobHandle job = Receive();
  for (int waited = 0; waited < 10000 && Cell(0, tasklist::kBytes).empty(); waited += 10) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_NE(std::string::npos, Cell(0, tasklist::kBytes).find(" / 300000"));
  EXPECT_EQ(0u, Cell(0, tasklist::kStatus).find("Percent="));

  UseTask("Other.rcv", {"http://h/other"});
  server.Release();
  ASSERT_TRUE(job->WaitUntilEnded(15000));
  int result = -1;
  ASSERT_TRUE(job->ResultOf(0, &result));
  EXPECT_EQ(0, result);
  EXPECT_TRUE(ReadFile(Local(0)) == first + second);
  EXPECT_EQ("Awaiting command", Cell(0, tasklist::kStatus));
  EXPECT_EQ("", Cell(0, tasklist::kBytes));
  const std::string log = ReadFile(dir_ + "/logr.txt");
  ASSERT_EQ(14u + 1 + Local(0).size() + 1 + Link(server.port(), "/pub/f.bin").size() + 2, log.size()) << log;
  EXPECT_EQ("\t" + Local(0) + "\t" + Link(server.port(), "/pub/f.bin") + "\r\n", log.substr(14));
}

}  // namespace
