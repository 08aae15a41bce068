// Shared set-up of the transfer tests: the task environment (a recording
// settings store and prompts sink, a scratch directory dir_), a recording task
// list with two rows, recorded progress reports and log calls, short time-outs.
#pragma once

#include <gtest/gtest.h>

#include "engine/progress.h"
#include "engine/session.h"
#include "engine/timeouts.h"
#include "engine/translog.h"
#include "engine/url.h"
#include "native/task_fixtures.h"
#include "peers/recording_list.h"

namespace transfer_fixture {

using settings_fixtures::Hold;
using settings_fixtures::ReadFile;
using settings_fixtures::WriteFile;

// What the pumps told the job layer, per row: progress reports, and the bytes
// done at each log call.
class HookRecorder {
 public:
  struct Report { std::uint64_t bytes_done, total_size; };
  static HookRecorder& Instance() { static HookRecorder recorder; return recorder; }
  static void OnProgress(const session::Context& context) {
    Hold hold(Instance().lock_);
    Instance().reports_[context.Row()].push_back({context.bytes_done, context.total_size});
  }
  static void OnLog(const session::Context& context) {
    Hold hold(Instance().lock_);
    Instance().logs_[context.Row()].push_back(context.bytes_done);
  }
  void Clear() { Hold hold(lock_); reports_.clear(); logs_.clear(); }
  std::vector<Report> Reports(int row) { Hold hold(lock_); return reports_[row]; }
  std::vector<std::uint64_t> Logs(int row) { Hold hold(lock_); return logs_[row]; }

 private:
  std::mutex lock_;
  std::map<int, std::vector<Report>> reports_;
  std::map<int, std::vector<std::uint64_t>> logs_;
};

// Bytes that differ from position to position, so that a shifted or repeated
// block shows up in a comparison.
inline std::string Pattern(std::size_t size, unsigned seed = 1) {
  std::string bytes(size, '\0');
  std::uint32_t state = seed * 2654435761u + 1;
  for (char& c : bytes) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 16);
  return bytes;
}

// True when text matches pattern, where each '*' stands for any run of
// characters (a socket number, a port).
inline bool Glob(const std::string& pattern, const std::string& text) {
  std::size_t star = pattern.find('*');
  if (star == std::string::npos) return pattern == text;
  if (text.compare(0, star, pattern, 0, star) != 0) return false;
  for (std::size_t from = star; from <= text.size(); ++from) {
    if (Glob(pattern.substr(star + 1), text.substr(from))) return true;
  }
  return false;
}

// Compares texts one by one with Glob; on a difference, lists both.
inline ::testing::AssertionResult Matches(const std::vector<std::string>& expected,
                                          const std::vector<std::string>& actual) {
  bool same = expected.size() == actual.size();
  for (std::size_t i = 0; same && i < expected.size(); ++i) same = Glob(expected[i], actual[i]);
  if (same) return ::testing::AssertionSuccess();
  std::string text;
  for (const std::string& e : expected) text += "\n  expected [" + e + "]";
  for (const std::string& a : actual) text += "\n  actual [" + a + "]";
  return ::testing::AssertionFailure() << text;
}

class TransferTest : public ::testing::Test {
 protected:
  static constexpr const char* kTask = "/tasks/Default.rcv";

  void SetUp() override {
    UseSetting("email", "someone@example.org");
    tasklist::Install(&list_);
    list_.InsertRow(0, "first");
    list_.InsertRow(1, "second");
    app::SetCurrentTaskPath(kTask);
    app::ClearStopRequest();
    HookRecorder::Instance().Clear();
    progress::InstallReporter(&HookRecorder::OnProgress);
    translog::InstallWriter(&HookRecorder::OnLog);
    timeouts::Set(3000, 3000, 3000);
    context_.task_path = kTask;
  }

  void TearDown() override {
    timeouts::RestoreDefaults();
    translog::InstallWriter(nullptr);
    progress::InstallReporter(nullptr);
    tasklist::Install(nullptr);
    app::ClearStopRequest();
  }

  void UseSetting(const std::string& name, const std::string& value) { env_.Use(name, value); }
  std::string Path(const std::string& name) const { return env_.dir.Join(name); }

  session::AttemptParams Params(std::uint16_t port, const std::string& remote_path,
                                const std::string& local_name) const {
    session::AttemptParams params;
    params.host = "127.0.0.1";
    params.port = port;
    params.protocol = url::kFtp;
    params.remote_path = remote_path;
    params.local_file = Path(local_name);
    return params;
  }

  task_fixtures::TaskEnvironment env_;
  const std::string dir_ = env_.dir.path();
  settings_fixtures::RecordingStore& store_ = env_.store;
  settings_fixtures::RecordingSink& boxes_ = env_.sink;
  peers::RecordingList list_;
  session::Context context_;
};

}  // namespace transfer_fixture
