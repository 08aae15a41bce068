// Transfer jobs: the walk over a task, the workers' attempts, the progress
// columns and the log line, against loopback peers; and the built parcelo
// binary's receive and log commands.

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <list>
#include <new>
#include <thread>

#include "engine/jobs.h"
#include "engine/rate_limit.h"
#include "engine/server_slots.h"
#include "native/fixtures.h"
#include "peers/peers.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/thread.h"
#include "tasks/entries.h"
#include "tasks/taskfile.h"
#include "tasks/transfer_log.h"

namespace {

using namespace fixtures;

// An FTP server whose one download sends "partial" and then holds the data
// connection open until Release(): its transfer runs until the test lets it end.
struct HeldDownload {
  HeldDownload()
      : peer("220 Hi", {{"USER anonymous", "331 Ok"}, {"PASS someone@example.org", "230 Ok"}, {"TYPE I", "200 Ok"},
                        {"PASV", "227 Entering Passive Mode ({pasv})"},
                        {"RETR f", "150 Ok", {peers::DataPlan::kSend, "partial", 0, false, true}, "226 Ok"}}) {}
  std::string Link() const { return "ftp://127.0.0.1:" + std::to_string(peer.port()) + "/f"; }
  peers::FtpPeer peer;
};

// An HTTP server that takes every connection at once and answers none until
// the test lets it: it counts the connections open together and the order in
// which their requests came. Each answer is "ok" and a close.
class HoldingPeer {
 public:
  HoldingPeer() {
    listener_.fd = peers::ListenLoopback(&port_);
    thread_ = std::thread([this] { Run(); });
  }
  ~HoldingPeer() {
    stopping_ = true;
    thread_.join();
  }
  std::string Link(const std::string& path) const { return peers::Link(port_, path); }
  int Peak() const { return peak_; }
  Texts Paths() {
    peers::Hold hold(lock_);
    return paths_;
  }
  void Answer(int count) { answers_ += count; }

 private:
  void Run() {
    std::list<std::pair<peers::Fd, std::string>> clients;  // each connection and its request so far
    const auto close = [this](peers::Fd& client) {
      client.Reset();
      --open_;
    };
    for (int round = 0; !stopping_ && round < 3000; ++round) {  // 30 s at most
      if (peers::Readable(listener_.fd, 0)) {
        clients.emplace_back().first.fd = accept4(listener_.fd, nullptr, nullptr, SOCK_CLOEXEC);
        peak_ = std::max(peak_.load(), ++open_);
      }
      for (auto& [client, request] : clients) {
        char buffer[512];
        if (client.fd < 0 || !peers::Readable(client.fd, 0)) continue;
        const ssize_t got = recv(client.fd, buffer, sizeof buffer, 0);
        if (got <= 0) close(client);
        if (got <= 0) continue;
        request.append(buffer, static_cast<std::size_t>(got));
        if (request.find("\r\n\r\n") == std::string::npos) continue;
        peers::Hold hold(lock_);
        paths_.push_back(request.substr(4, request.find(' ', 4) - 4));
      }
      // The oldest complete request is answered first.
      for (auto& [client, request] : clients) {
        if (answers_ == 0 || client.fd < 0 || request.find("\r\n\r\n") == std::string::npos) continue;
        --answers_;
        peers::SendText(client.fd, "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok");
        close(client);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  std::uint16_t port_ = 0;
  peers::Fd listener_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> open_{0}, peak_{0}, answers_{0};
  std::mutex lock_;  // guards paths_
  Texts paths_;
  std::thread thread_;
};

class Jobs : public TransferTest {
 protected:
  // Pauses between attempts of a hundredth of their length.
  void SetUp() override {
    TransferTest::SetUp();
    jobs::SetRetryPauseSecond(10);
  }
  void TearDown() override {
    jobs::OverrideLimits(-1, -1);
    server_slots::SetCap(0);
    rate_limit::SetBytesPerSecond(0);
    jobs::SetRetryPauseSecond(1000);
    TransferTest::TearDown();
  }
  // A task of one entry per link, local files a0, a1, ...; made current and loaded.
  std::string UseTask(const std::string& name, const Texts& links) {
    const std::string path = Path(name);
    WriteFile(path, TaskLines(links, env_.dir.path()));
    app::SetCurrentTaskPath(path);
    entries::LoadTask(path);
    return path;
  }
  // Starts a job of the current task and waits until its workers have ended.
  jobs::JobHandle Run(bool send = false) {
    const jobs::JobHandle job = send ? jobs::StartSendJob("") : jobs::StartReceiveJob("");
    EXPECT_TRUE(job->WaitUntilEnded(15000));
    return job;
  }
  // The results of the rows' workers; 1 where a row has none.
  static std::vector<int> Results(const jobs::JobHandle& job, int rows) {
    std::vector<int> results(rows, 1);
    for (int row = 0; row < rows; ++row) job->ResultOf(row, &results[row]);
    return results;
  }
  // The status of every row.
  Texts Statuses() {
    Texts texts;
    for (int row = 0; row < list_.RowCount(); ++row) texts.push_back(list_.GetCell(row, tasklist::kStatus));
    return texts;
  }
  // Every cell of every row, a row per text.
  Texts Cells() {
    Texts rows;
    for (int row = 0; row < list_.RowCount(); ++row) {
      std::string text;
      for (int column = 0; column < tasklist::kColumnCount; ++column) text += list_.GetCell(row, column) + "|";
      rows.push_back(text);
    }
    return rows;
  }
  // True once the row's transfer has written its first bytes ("partial").
  bool Receiving(int row) { return list_.GetCell(row, tasklist::kBytes) == "Totalbyte 7 / 0"; }
  // The real progress reporter and log writer, as the front ends install
  // them; every download starts afresh (no REST to the held server).
  void UseRealReporters() {
    UseSetting("ResumeOption", "1");
    progress::InstallReporter(&jobs::ReportProgress);
    translog::InstallWriter(&transfer_log::WriteLogLine);
  }
};

TEST_F(Jobs, WalkStartsTheChosenRowsAndMarksBadLinksWithoutStopping) {
  const std::string good = peers::Link(peers::RefusingPort(), "/f"), failed = "Failed to connect";
  const std::string waiting = "Awaiting command", bad = "Bad link";
  // The statuses are those of every row afterwards.
  const struct {
    const char* name; Texts links; std::vector<int> selected, started, bad; bool firewall; Texts statuses;
  } cases[] = {
      {"none selected: all", {good, good, good}, {}, {0, 1, 2}, {}, false, {failed, failed, failed}},
      {"rows 0 and 2 selected", {good, good, good}, {0, 2}, {0, 2}, {}, false, {failed, waiting, failed}},
      {"unknown scheme", {good, "gopher://h/f", good}, {}, {0, 2}, {1}, false, {failed, bad, failed}},
      {"malformed user", {good, "http://a%zz@127.0.0.1/f", good}, {}, {0, 2}, {1}, false, {failed, bad, failed}},
      {"malformed above the chosen row", {good + "%zz", good}, {1}, {1}, {0}, false, {bad, failed}},
      // Through a proxy the user stays as written (and the proxy is missing).
      {"user kept for the proxy", {"http://a%zz@127.0.0.1/f"}, {}, {0}, {}, true, {"Host not found"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UseSetting("Firewall", c.firewall ? "1" : "0");
    UseTask("Default.rcv", c.links);
    for (int row : c.selected) list_.SetSelected(row, true);
    const jobs::JobHandle job = Run();
    EXPECT_EQ(c.started, job->StartedRows());
    EXPECT_EQ(c.bad, job->BadLinkRows());
    EXPECT_EQ(c.statuses, Statuses());
  }
  EXPECT_TRUE(boxes_.Shown().empty());

  // A send job shows a bad link in a box and leaves the row as it was.
  UseTask("Default.snd", {"gopher://h/f"});
  EXPECT_EQ(std::vector<int>{0}, Run(true)->BadLinkRows());
  EXPECT_EQ(Texts{waiting}, Statuses());
  EXPECT_EQ(Texts{Box("error", "Bad link", prompts::kOk | prompts::kTaskModal)}, boxes_.Shown());
}

TEST_F(Jobs, AttemptsEndAfterCycleDownloadRepeatsOrAtARedirect) {
  UseSetting("CycleDownload", "2");
  peers::HttpPeer peer({{"HTTP/1.0 302 Found\r\nLocation: /moved\r\n\r\n"}});
  const peers::HttpAnswer ok = {"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok"};
  peers::HttpPeer done({ok, ok, ok});
  // Blanks after a link are not part of its path.
  const std::string task =
      UseTask("Default.rcv", {peers::Link(peers::RefusingPort(), "/f"), peer.Link("/f"), done.Link("/f") + "  "});
  const jobs::JobHandle job = Run();
  EXPECT_EQ((Texts{"Awaiting command", "Failed to connect", "Failed to connect", "Failed to connect"}),
            list_.Statuses(0));
  EXPECT_EQ((std::vector<int>{session::kFailure, session::kRedirected, 0}), Results(job, 3));
  EXPECT_EQ("Connection refused", jobs::CauseOfRow(list_.IdOf(0)));
  EXPECT_EQ("", jobs::CauseOfRow(list_.IdOf(1)));
  EXPECT_EQ(1u, peer.Requests().size());
  ASSERT_EQ(1u, done.Requests().size());  // a transfer that ended well is not run again
  EXPECT_TRUE(Glob("GET /f HTTP/1.0\r\n*", done.Requests()[0])) << done.Requests()[0];
  EXPECT_NE(std::string::npos, ReadFile(task).find(peer.Link("/moved")));
}

// A server that fails at once is tried again only after a pause that grows
// with each failure, and a Stop during a pause ends the row at once.
TEST_F(Jobs, AttemptsPauseLongerAfterEachFailureAndAStopEndsThePause) {
  peers::HttpPeer peer(std::vector<peers::HttpAnswer>(30));  // each closes without a byte
  UseSetting("CycleDownload", "3");
  UseTask("Default.rcv", {peer.Link("/f")});
  const auto start = std::chrono::steady_clock::now();
  Run();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(10 + 20 + 40));
  EXPECT_EQ(4u, peer.Requests().size());
  std::vector<std::uint32_t> pauses;
  for (int failed = 0; failed < 8; ++failed) pauses.push_back(jobs::RetryPauseMs(failed));
  EXPECT_EQ((std::vector<std::uint32_t>{1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000}), pauses);

  jobs::SetRetryPauseSecond(1000);
  UseSetting("CycleDownload", "20");
  UseTask("Default.rcv", {peer.Link("/f")});
  list_.SetSelected(0, true);
  const jobs::JobHandle job = jobs::StartReceiveJob("");
  ASSERT_TRUE(Eventually([&] { return peer.Requests().size() >= 5; }));
  EXPECT_TRUE(jobs::StopSelectedTransfer());
  EXPECT_TRUE(job->WaitUntilEnded(500));
  EXPECT_EQ(5u, peer.Requests().size());
  EXPECT_EQ("Cancelled", list_.GetCell(0, tasklist::kStatus));
}

TEST_F(Jobs, ProgressFollowsTheRateOfThisAttempt) {
  const std::uint64_t kFiveGiB = 5ull << 30;
  // The columns are status|bytes|time|rate; the time column was "kept".
  const struct { std::uint64_t done, total, resumed; std::uint32_t elapsed_ms; const char* columns; } cases[] = {
      {10240, 10240, 0, 10000, "Percent=100|Totalbyte 10240 / 10240|00:00:10:00:00:00|1024"},
      {500, 10240, 0, 900, "Percent=4|Totalbyte 500 / 10240|kept|0"},
      // Only the 4000 bytes of this attempt count: 2000 per second.
      {6000, 10000, 2000, 2500, "Percent=60|Totalbyte 6000 / 10000|00:00:02:00:00:02|2000"},
      {7000, 0, 0, 2000, "Percent=0|Totalbyte 7000 / 0|kept|3500"},
      // Nothing new since the start: the time column keeps its text.
      {2000, 10000, 2000, 5000, "Percent=20|Totalbyte 2000 / 10000|kept|0"},
      {kFiveGiB / 2, kFiveGiB, 0, 3723000, "Percent=50|Totalbyte 2684354560 / 5368709120|01:02:03:01:02:03|721019"},
  };
  session::Context context;
  context.task_path = UseTask("Default.rcv", {"http://h/a.zip", "http://h/b.zip"});
  context.row_id = list_.IdOf(1);
  for (const auto& c : cases) {
    list_.SetCell(1, tasklist::kTime, "kept");
    context.bytes_done = c.done;
    context.total_size = c.total;
    context.resume_start = c.resumed;
    context.start_tick = clock_seam::TickCount() - c.elapsed_ms;
    jobs::ReportProgress(context);
    std::string columns = list_.GetCell(1, tasklist::kStatus);
    for (int column : {tasklist::kBytes, tasklist::kTime, tasklist::kRate}) columns += "|" + list_.GetCell(1, column);
    EXPECT_EQ(c.columns, columns);
    EXPECT_EQ("Awaiting command", list_.GetCell(0, tasklist::kStatus));
  }
  EXPECT_EQ("100:00:59", jobs::FormatDuration(360059999));
}

// A transfer runs on while the user shows another task and then its own task
// again (loaded anew): the rows of either show nothing of it, and its log line
// names its own entry.
TEST_F(Jobs, ATransferAcrossATaskSwitchWritesOnlyItsOwnRowAndLogsItsEntry) {
  UseRealReporters();
  for (bool back_to_its_task : {false, true}) {
    SCOPED_TRACE(back_to_its_task ? "its task shown again" : "another task shown");
    HeldDownload server;
    const std::string task = UseTask("Default.rcv", {server.Link()});
    const jobs::JobHandle job = jobs::StartReceiveJob("");
    ASSERT_TRUE(Eventually([&] { return Receiving(0); }));
    UseTask("Other.rcv", {"http://h/other", "http://h/more"});
    if (back_to_its_task) {
      app::SetCurrentTaskPath(task);
      entries::LoadTask(task);
    }
    const Texts shown = Cells();
    server.peer.Release();
    ASSERT_TRUE(job->WaitUntilEnded(15000));
    EXPECT_EQ(std::vector<int>{0}, Results(job, 1));
    if (back_to_its_task) {
      // Shown again, its entry's row follows the transfer to its end.
      ASSERT_EQ(1u, Cells().size());
      EXPECT_EQ("Done", list_.GetCell(0, tasklist::kStatus));
      EXPECT_EQ(shown[0].substr(0, shown[0].find("|")), list_.GetCell(0, tasklist::kLocalFile));
    } else {
      EXPECT_EQ(shown, Cells());
    }
  }
  const std::string log = ReadFile(Path("logr.txt"));
  const std::string line = "\t" + Path("a0") + "\tftp://127.0.0.1:*/f\r\n";
  ASSERT_EQ(2, std::count(log.begin(), log.end(), '\n')) << log;
  EXPECT_TRUE(Glob("*/*/* *:*" + line + "*/*/* *:*" + line, log)) << log;
}

// Stop cancels a transfer that runs with its row selected when Stop is
// pressed, one per press, and leaves nothing behind for a later transfer.
TEST_F(Jobs, StopCancelsOneSelectedRunningTransferPerPressAndNeverALaterOne) {
  UseRealReporters();
  // Pressed while nothing runs, the row selected: the transfer started
  // afterwards runs to its end.
  HeldDownload later;
  UseTask("Default.rcv", {later.Link()});
  list_.SetSelected(0, true);
  EXPECT_FALSE(jobs::StopSelectedTransfer());
  jobs::JobHandle job = jobs::StartReceiveJob("");
  ASSERT_TRUE(Eventually([&] { return Receiving(0); }));
  later.peer.Release();
  ASSERT_TRUE(job->WaitUntilEnded(15000));
  EXPECT_EQ("Done", list_.GetCell(0, tasklist::kStatus));

  // Three transfers run, rows 0 and 1 selected: each press cancels one of
  // those two, none cancels row 2, and a press with no selected row left
  // running marks nothing.
  HeldDownload servers[3];
  UseTask("Default.rcv", {servers[0].Link(), servers[1].Link(), servers[2].Link()});
  job = jobs::StartReceiveJob("");
  ASSERT_TRUE(Eventually([&] { return Receiving(0) && Receiving(1) && Receiving(2); }));
  list_.SetSelected(0, true);
  list_.SetSelected(1, true);
  for (int press = 1; press <= 2; ++press) {
    EXPECT_TRUE(jobs::StopSelectedTransfer());
    EXPECT_TRUE(Eventually([&] { return job->Running() == 3 - press; }));
  }
  for (int row : {0, 1}) {
    const Texts seen = list_.Statuses(row);
    EXPECT_TRUE(Matches({"Cancelled", "FTP failed"}, {seen.end() - 2, seen.end()})) << row;
  }
  EXPECT_EQ("Percent=0", list_.GetCell(2, tasklist::kStatus));
  EXPECT_FALSE(jobs::StopSelectedTransfer());
  list_.SetSelected(2, true);  // selected only after the press: not stopped by it
  list_.SetSelected(0, false);
  list_.SetSelected(1, false);
  servers[2].peer.Release();
  ASSERT_TRUE(job->WaitUntilEnded(15000));
  EXPECT_EQ("Done", list_.GetCell(2, tasklist::kStatus));
  for (int row : {0, 1}) EXPECT_EQ("partial", ReadFile(Path("a" + std::to_string(row))));
  for (auto& server : servers) server.peer.Release();
}

// With MaxPerServer 2, five entries of one server run two at a time: the
// others wait "Queued" without a thread and start in row order as
// connections end, a Stop ends a queued one at once, and another server's
// entry waits for none of them.
TEST_F(Jobs, EntriesBeyondMaxPerServerWaitQueuedWithoutAThreadAndStartInRowOrder) {
  static std::atomic<int> threads_made;
  threads_made = 0;
  jobs::InstallThreadStarter([](void (*entry)(void*), void* argument) {
    ++threads_made;
    return threads::StartDetached(entry, argument);
  });
  UseSetting("MaxPerServer", "2");
  HoldingPeer held;
  peers::HttpPeer other({{"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok"}});
  UseTask("Default.rcv", {held.Link("/0"), held.Link("/1"), held.Link("/2"), held.Link("/3"), held.Link("/4"),
                          other.Link("/5")});
  const jobs::JobHandle job = jobs::StartReceiveJob("");
  EXPECT_EQ(3, threads_made.load());
  EXPECT_TRUE(Matches({"*", "*", jobs::kQueued, jobs::kQueued, jobs::kQueued, "*"}, Statuses()));
  ASSERT_TRUE(Eventually([&] { return held.Paths().size() == 2 && Statuses()[5] == "Done"; }));
  list_.SetSelected(3, true);
  EXPECT_TRUE(jobs::StopSelectedTransfer());
  EXPECT_EQ("Cancelled", jobs::CauseOfRow(list_.IdOf(3)));
  EXPECT_EQ("Cancelled", Statuses()[3]);
  held.Answer(1);
  ASSERT_TRUE(Eventually([&] { return held.Paths().size() == 3; }));
  entries::LoadTask(app::CurrentTaskPath());  // shown anew, a waiting row still says so
  EXPECT_TRUE(Matches({"*", "*", "*", "Awaiting command", jobs::kQueued, "*"}, Statuses()));
  held.Answer(3);
  ASSERT_TRUE(job->WaitUntilEnded(15000));
  jobs::InstallThreadStarter(nullptr);
  const Texts paths = held.Paths();
  EXPECT_EQ((Texts{"/2", "/4"}), Texts(paths.begin() + 2, paths.end()));
  EXPECT_EQ(2, held.Peak());
  EXPECT_EQ(5, threads_made.load());
  // Rows that had ended show their task lines since the task was shown anew.
  EXPECT_TRUE(Matches({"*", "*", "Done", "Awaiting command", "Done", "Awaiting command"}, Statuses()));
  EXPECT_EQ((std::vector<int>{0, 0, 0, session::kFailure, 0, 0}), Results(job, 6));
}

// Under a speed limit a pump waits its turn; a Stop during the wait ends the
// transfer at once and keeps what came.
TEST_F(Jobs, UnderASpeedLimitAStopDuringTheWaitEndsTheTransferKeepingWhatCame) {
  UseSetting("SpeedLimit", "1");  // a tenth of a KiB now and then
  const std::string header = "HTTP/1.0 200 OK\r\nContent-Length: 200000\r\n\r\n";
  peers::HttpPeer peer({{header, std::string(200000, 'x')}});
  UseTask("Default.rcv", {peer.Link("/f")});
  list_.SetSelected(0, true);
  const jobs::JobHandle job = jobs::StartReceiveJob("");
  ASSERT_TRUE(Eventually([&] { return !ReadFile(Path("a0")).empty(); }));
  EXPECT_TRUE(jobs::StopSelectedTransfer());
  ASSERT_TRUE(job->WaitUntilEnded(2000));
  EXPECT_EQ("Cancelled", Statuses()[0]);
  EXPECT_LT(ReadFile(Path("a0")).size(), 2000u);
}

// MaxPerServer set by config holds for parcelo's runs; --max-per-server and
// --limit-rate stand for the settings in one run, and a bad value is refused
// before anything runs.
TEST_F(Jobs, ParceloKeepsToTheCapPerServerAndRefusesBadLimits) {
  HoldingPeer held;
  held.Answer(3);
  UseTask("Default.rcv", {held.Link("/0"), held.Link("/1"), held.Link("/2")});
  const struct { const char* arguments; int exit_code; std::string err; } runs[] = {
      {"receive --max-per-server x", 2, "parcelo: bad count for --max-per-server: 'x' (0 for no cap)\n"},
      {"send --limit-rate 5X", 2, "parcelo: bad rate for --limit-rate: '5X' (bytes per second, or with K, M or G)\n"},
      {"config maxperserver 1", 0, ""},
      {"receive --limit-rate 1M", 0, ""},
  };
  for (const auto& r : runs) {
    const Outcome outcome = Parcelo(env_.dir.path(), r.arguments);
    EXPECT_EQ(r.exit_code, outcome.exit_code) << r.arguments;
    EXPECT_EQ(r.err, outcome.err) << r.arguments;
  }
  EXPECT_EQ(1, held.Peak());
  EXPECT_EQ((Texts{"/0", "/1", "/2"}), held.Paths());
}

// While a download writes its local file it holds it: another entry of that
// file, in this process or another, fails at once and changes nothing.
TEST_F(Jobs, ASecondDownloadIntoAHeldLocalFileFailsAtOnceAndLeavesIt) {
  {  // The seam: a writer's open, kept or emptying, is refused while another holds the file.
    fileio::File first, second;
    ASSERT_TRUE(first.Open(Path("f"), fileio::File::kCreate) && first.WriteAll("abc", 3));
    for (auto mode : {fileio::File::kCreate, fileio::File::kReadWrite}) {
      EXPECT_FALSE(second.Open(Path("f"), mode));
      EXPECT_TRUE(second.InUse());
    }
    EXPECT_EQ("abc", ReadFile(Path("f")));
    first.Close();
    EXPECT_TRUE(second.Open(Path("f"), fileio::File::kReadWrite));
  }
  UseRealReporters();
  HeldDownload held;
  peers::HttpPeer peer({{"HTTP/1.0 200 OK\r\n\r\nother bytes"}});
  const std::string entry = "03/14/26 09:00\t" + Path("x.bin") + "\tAwaiting_command\t";
  WriteFile(Path("Default.rcv"), entry + held.Link() + "\r\n" + entry + peer.Link("/x.bin") + "\r\n");
  app::SetCurrentTaskPath(Path("Default.rcv"));
  entries::LoadTask(Path("Default.rcv"));
  list_.SetSelected(0, true);
  const jobs::JobHandle first = jobs::StartReceiveJob("");
  ASSERT_TRUE(Eventually([&] { return Receiving(0); }));
  list_.SetSelected(0, false);
  list_.SetSelected(1, true);
  Run();
  EXPECT_EQ(jobs::CauseOfRow(list_.IdOf(1)), session::kFileInUse);
  // Another parcelo on the same task, its second row: the same.
  EXPECT_EQ((Outcome{1, "1\tFile in use by another transfer\t\t\t\n", "row 1: File in use by another transfer\n"}),
            Parcelo(env_.dir.path(), "receive 1"));
  EXPECT_TRUE(peer.Requests().empty());
  held.peer.Release();
  ASSERT_TRUE(first->WaitUntilEnded(15000));
  EXPECT_EQ((Texts{"Done", session::kFileInUse}), Statuses());
  EXPECT_EQ("partial", ReadFile(Path("x.bin")));
}

// Rows above a running transfer are deleted: its progress and "Done" stay in
// its own row, and the transfer of a deleted row is stopped.
TEST_F(Jobs, DeletingRowsAboveARunningTransferLeavesItInItsOwnRow) {
  UseRealReporters();
  HeldDownload third, fifth;
  const std::string task = UseTask("Default.rcv", {"http://h/0", "http://h/1", "http://h/2", third.Link(),
                                                   "http://h/4", fifth.Link()});
  list_.SetSelected(3, true);
  list_.SetSelected(5, true);
  const jobs::JobHandle job = jobs::StartReceiveJob("");
  ASSERT_TRUE(Eventually([&] { return Receiving(3) && Receiving(5); }));
  list_.SetSelected(5, false);
  // The deleted row's transfer ends (its server sees the close) and keeps
  // what it has received.
  EXPECT_EQ(1, jobs::DeleteSelectedRows());
  EXPECT_TRUE(Eventually([&] { return job->Running() == 1; }));
  EXPECT_TRUE(third.peer.WaitSessionsEnded(5000));
  EXPECT_EQ("partial", ReadFile(Path("a3")));
  fifth.peer.Release();
  ASSERT_TRUE(job->WaitUntilEnded(15000));
  EXPECT_EQ((Texts{"Awaiting command", "Awaiting command", "Awaiting command", "Awaiting command", "Done"}),
            Statuses());
  EXPECT_EQ("Totalbyte 7 / 0", list_.GetCell(4, tasklist::kBytes));
  EXPECT_EQ("", list_.GetCell(3, tasklist::kBytes));
  std::vector<std::string> lines;
  ASSERT_EQ(5, taskfile::ReadLines(task, &lines));
  for (int row = 0; row < 5; ++row) EXPECT_EQ(Path("a" + std::to_string(row < 3 ? row : row + 1)), list_.GetCell(row, tasklist::kLocalFile));
  for (int row = 0; row < 5; ++row) EXPECT_EQ(taskfile::SplitTaskLine(lines[row]).local_file, list_.GetCell(row, tasklist::kLocalFile));
}

// Rows whose worker thread or socket cannot be made say so; the job counts
// them as failed, and the thread box comes once for the walk.
TEST_F(Jobs, ThreadsAndSocketsThatCannotBeMadeAreToldInTheirRowsAndFailTheJob) {
  static int calls;
  static rlimit old_limit;
  calls = 0;
  getrlimit(RLIMIT_NOFILE, &old_limit);
  // Rows 0 and 2 get no thread; row 1's worker starts when no descriptor is
  // free, after the walk has read the task file.
  jobs::InstallThreadStarter([](void (*entry)(void*), void* argument) {
    if (calls++ % 2 == 0) return false;
    const int lowest_free = dup(0);
    close(lowest_free);
    const rlimit none_free{static_cast<rlim_t>(lowest_free), old_limit.rlim_max};
    setrlimit(RLIMIT_NOFILE, &none_free);
    return threads::StartDetached(entry, argument);
  });
  const std::string link = peers::Link(peers::RefusingPort(), "/f");
  UseTask("Default.rcv", {link, link, link});
  const jobs::JobHandle job = Run();
  setrlimit(RLIMIT_NOFILE, &old_limit);
  jobs::InstallThreadStarter(nullptr);
  EXPECT_EQ((Texts{"Failed to create thread", "Failed to create socket", "Failed to create thread"}), Statuses());
  for (int row = 0; row < 3; ++row) EXPECT_EQ(Statuses()[row], jobs::CauseOfRow(list_.IdOf(row)));
  EXPECT_EQ((std::vector<int>{0, 1, 2}), job->StartedRows());
  for (int result : Results(job, 3)) EXPECT_LT(result, 0);
  EXPECT_EQ(Texts{Box("Error", "Failed to create thread", prompts::kOk | prompts::kTaskModal)}, boxes_.Shown());
}

// A worker whose bookkeeping runs out of memory as its transfer ends still
// ends its row and the job.
TEST_F(Jobs, AWorkerOutOfMemoryEndsItsRowFailedAndNeverLeavesTheJobWaiting) {
  jobs::InstallEndingFault([](int row) {
    if (row == 1) throw std::bad_alloc();
  });
  const std::string link = peers::Link(peers::RefusingPort(), "/f");
  UseTask("Default.rcv", {link, link});
  const jobs::JobHandle job = jobs::StartReceiveJob("");
  const bool ended = job->WaitUntilEnded(5000);
  jobs::InstallEndingFault(nullptr);
  ASSERT_TRUE(ended);
  EXPECT_EQ((Texts{"Failed to connect", "Failed: out of memory"}), Statuses());
  EXPECT_LT(Results(job, 2)[1], 0);
}

TEST_F(Jobs, ParceloReceiveExitsByTheOutcomeAndPrintsTheFinalColumnsOfStartedAndRefusedRows) {
  const auto run = [&](const std::string& arguments) { return Parcelo(env_.dir.path(), arguments).exit_code; };
  const auto ok = [](const std::string& body) { return "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\n" + body; };
  peers::HttpPeer peer({{ok("hello")}, {ok("again")}, {ok("third")}, {ok("fours")}});
  const Texts three = {peer.Link("/a"), peers::Link(peers::RefusingPort(), "/b"), "gopher://h/c"};
  const std::string done = "0\tDone\tTotalbyte 5 / 5\t\t0\n", bad = "2\tBad link\t\t\t\n";
  const struct { Texts links; const char* arguments; int exit_code; std::string out, file; } runs[] = {
      {{}, "receive", 2, "", ""},  // nothing to receive
      {three, "receive", 1, done + "1\tFailed to connect\t\t\t\n" + bad, "hello"},
      {three, "receive 0", 1, done + bad, "again"},  // the walk checks every link, chosen or not
      {{three[0]}, "receive", 0, done, "third"},
  };
  for (const auto& r : runs) {
    SCOPED_TRACE(r.arguments + (" of " + std::to_string(r.links.size()) + " rows"));
    UseTask("Default.rcv", r.links);
    EXPECT_EQ(r.exit_code, run(r.arguments));
    EXPECT_EQ(r.out, ReadFile(Path("out")));
    EXPECT_EQ(r.file, ReadFile(Path("a0")));
  }

  // Each transfer done is logged with the entry's local file and link.
  EXPECT_EQ(0, run("log"));
  const std::string log = ReadFile(Path("out")), line = "\t" + Path("a0") + "\t" + three[0] + "\n";
  ASSERT_EQ(3 * (14 + line.size()), log.size()) << log;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(line, log.substr(i * (14 + line.size()) + 14, line.size()));

  // A log that cannot be written is told on stderr, naming it, and fails the run.
  std::filesystem::remove(Path("logr.txt"));
  std::filesystem::create_directory(Path("logr.txt"));
  UseTask("Default.rcv", {three[0]});
  EXPECT_EQ((Outcome{1, done, "Error: Cannot write the log file " + Path("logr.txt") + ": " + Path("a0") +
                                  " was transferred but is not logged\n"}),
            Parcelo(env_.dir.path(), "receive"));
  EXPECT_EQ("fours", ReadFile(Path("a0")));
}

// An upload answered by a redirect takes the new link, and send follows it
// as receive does; with --no-follow the entry only takes the new link.
TEST_F(Jobs, ParceloSendFollowsAnUploadsRedirect) {
  WriteFile(Path("up.bin"), "payload");
  const std::string moved = "HTTP/1.0 302 Found\r\nLocation: /dav/up.bin\r\n\r\n";
  peers::HttpPeer peer({{moved}, {"HTTP/1.0 201 Created\r\n\r\n"}, {moved}});
  for (const bool follow : {true, false}) {
    SCOPED_TRACE(follow ? "followed" : "--no-follow");
    WriteFile(Path("Default.snd"), "03/14/26 09:00\t" + Path("up.bin") + "\tAwaiting_command\t" + peer.Link("/up.bin") + "\r\n");
    const Outcome sent = Parcelo(env_.dir.path(), follow ? "send" : "send --no-follow");
    EXPECT_EQ(0, sent.exit_code) << sent.err;
    EXPECT_EQ(follow ? "0\tDone\t" : "0\tAwaiting command\t", sent.out.substr(0, follow ? 7 : 19));
    EXPECT_NE(std::string::npos, ReadFile(Path("Default.snd")).find(peer.Link("/dav/up.bin")));
  }
  const Texts requests = peer.Requests();
  ASSERT_EQ(3u, requests.size());
  EXPECT_TRUE(Glob("PUT /dav/up.bin HTTP/1.0\r\n*payload", requests[1])) << requests[1];
}

}  // namespace
