// Shared set-up of the transfer tests: settings from an in-memory store, a
// recording task list with two rows, recorded message boxes, recorded
// progress reports and log calls, short time-outs, and a scratch directory.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "engine/appstate.h"
#include "engine/progress.h"
#include "engine/session.h"
#include "engine/timeouts.h"
#include "engine/translog.h"
#include "engine/url.h"
#include "peers/recording_list.h"
#include "settings_fixtures.h"
#include "platform/prompts.h"
#include "platform/tasklist.h"
#include "settings/settings.h"
#include "settings/store.h"

namespace transfer_fixture {

struct Box {
  std::string text;
  std::string caption;
  unsigned style;
};

class BoxRecorder : public prompts::Sink {
 public:
  int Message(const std::string& text, const std::string& caption, unsigned style) override {
    std::lock_guard<std::mutex> hold(lock_);
    boxes_.push_back({text, caption, style});
    return prompts::DefaultAnswer(style);
  }
  void Beep(unsigned) override {}
  std::vector<Box> Boxes() {
    std::lock_guard<std::mutex> hold(lock_);
    return boxes_;
  }

 private:
  std::mutex lock_;
  std::vector<Box> boxes_;
};

// What the pumps told the job layer, per row.
struct Report {
  std::uint64_t bytes_done;
  std::uint64_t total_size;
};

class HookRecorder {
 public:
  static HookRecorder& Instance() {
    static HookRecorder recorder;
    return recorder;
  }
  static void OnProgress(const session::Context& context) {
    HookRecorder& self = Instance();
    std::lock_guard<std::mutex> hold(self.lock_);
    self.reports_[context.Row()].push_back({context.bytes_done, context.total_size});
  }
  static void OnLog(const session::Context& context) {
    HookRecorder& self = Instance();
    std::lock_guard<std::mutex> hold(self.lock_);
    self.logs_[context.Row()].push_back(context.bytes_done);
  }
  void Clear() {
    std::lock_guard<std::mutex> hold(lock_);
    reports_.clear();
    logs_.clear();
  }
  std::vector<Report> Reports(int row) {
    std::lock_guard<std::mutex> hold(lock_);
    return reports_[row];
  }
  // Bytes done at each log call of the row.
  std::vector<std::uint64_t> Logs(int row) {
    std::lock_guard<std::mutex> hold(lock_);
    return logs_[row];
  }

 private:
  std::mutex lock_;
  std::map<int, std::vector<Report>> reports_;
  std::map<int, std::vector<std::uint64_t>> logs_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// Bytes that differ from position to position, so a shifted or repeated block
// shows up in a comparison.
inline std::string Pattern(std::size_t size, unsigned seed = 1) {
  std::string bytes(size, '\0');
  std::uint32_t state = seed * 2654435761u + 1;
  for (char& c : bytes) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 16);
  }
  return bytes;
}

// True when text matches pattern, where each '*' stands for any run of
// characters (a socket number, a port).
inline bool Glob(const std::string& pattern, const std::string& text) {
  std::size_t star = pattern.find('*');
  if (star == std::string::npos) return pattern == text;
  if (text.compare(0, star, pattern, 0, star) != 0) return false;
  std::string rest = pattern.substr(star + 1);
  for (std::size_t from = star; from <= text.size(); ++from) {
    if (Glob(rest, text.substr(from))) return true;
  }
  return false;
}

// Compares texts one by one with Glob.
inline ::testing::AssertionResult Matches(const std::vector<std::string>& expected,
                                          const std::vector<std::string>& actual) {
  bool same = expected.size() == actual.size();
  for (std::size_t i = 0; same && i < expected.size(); ++i) same = Glob(expected[i], actual[i]);
  if (same) return ::testing::AssertionSuccess();
  std::string text = "expected:\n";
  for (const std::string& e : expected) text += "  [" + e + "]\n";
  text += "actual:\n";
  for (const std::string& a : actual) text += "  [" + a + "]\n";
  return ::testing::AssertionFailure() << text;
}

class TransferTest : public ::testing::Test {
 protected:
  static constexpr const char* kTask = "/tasks/Default.rcv";

  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "parcelo-transfer-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    settings::InstallStore(&store_);
    store_.Put("email", "someone@example.org");
    settings::Load(dir_);
    tasklist::Install(&list_);
    list_.InsertRow(0, "first");
    list_.InsertRow(1, "second");
    app::SetCurrentTaskPath(kTask);
    app::ClearStopRequest();
    prompts::SetSink(&boxes_);
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
    prompts::SetSink(nullptr);
    tasklist::Install(nullptr);
    settings::InstallStore(nullptr);
    app::ClearStopRequest();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // Sets a stored value and reloads the live settings.
  void UseSetting(const std::string& name, const std::string& value) {
    store_.Put(name, value);
    settings::Load(dir_);
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

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

  std::string dir_;
  settings_fixtures::RecordingStore store_;
  peers::RecordingList list_;
  BoxRecorder boxes_;
  session::Context context_;
};

}  // namespace transfer_fixture
