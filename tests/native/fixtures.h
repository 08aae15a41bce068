// Doubles and environments shared by the native tests: a settings store that
// logs every write, a prompts sink that records the boxes, a scratch directory,
// the task environment of portable code, a task list that records status texts,
// recorded progress and log calls, and the transfer test fixture.
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "settings/places.h"
#include "engine/progress.h"
#include "engine/session.h"
#include "engine/timeouts.h"
#include "engine/translog.h"
#include "tasks/entries.h"
#include "tasks/url.h"
#include "platform/prompts.h"
#include "platform/tasklist_headless.h"
#include "settings/settings.h"
#include "settings/store.h"

namespace fixtures {

using Hold = std::lock_guard<std::mutex>;
using Texts = std::vector<std::string>;

// Value names compare without regard to case, as in the registry. Workers
// read the store (the FTP login reads email), hence the lock.
class RecordingStore : public settings::Store {
 public:
  bool Read(const std::string& name, std::string* value) override {
    Hold hold(lock_);
    auto found = values_.find(Key(name));
    if (found != values_.end()) *value = found->second;
    return found != values_.end();
  }
  bool Write(const std::string& name, const std::string& value) override {
    Put(name, value);
    Hold hold(lock_);
    writes_.emplace_back(name, value);
    return true;
  }
  // Seeds a value without logging it.
  void Put(const std::string& name, const std::string& value) { Hold hold(lock_); values_[Key(name)] = value; }
  using Log = std::vector<std::pair<std::string, std::string>>;  // name, value
  Log Writes() { Hold hold(lock_); return writes_; }

 private:
  static std::string Key(std::string name) {
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
  }

  std::mutex lock_;
  std::map<std::string, std::string> values_;
  Log writes_;
};

inline std::string Box(const std::string& caption, const std::string& text, unsigned style) {
  return caption + ": " + text + " (style " + std::to_string(style) + ")";
}

// Records each box as Box(caption, text, style) and gives it the default answer.
class RecordingSink : public prompts::Sink {
 public:
  int Message(const std::string& text, const std::string& caption, unsigned style) override {
    Hold hold(lock_);
    shown_.push_back(Box(caption, text, style));
    return prompts::DefaultAnswer(style);
  }
  void Beep(unsigned) override {}
  Texts Shown() { Hold hold(lock_); return shown_; }

 private:
  std::mutex lock_;
  Texts shown_;
};

// A fresh directory, removed with everything in it at the end of the test.
class ScratchDir {
 public:
  ScratchDir() : path_((std::filesystem::temp_directory_path() / "parcelo-test-XXXXXX").string()) {
    if (!mkdtemp(path_.data())) throw std::runtime_error("cannot make " + path_);
  }
  ~ScratchDir() { std::error_code ignored; std::filesystem::remove_all(path_, ignored); }
  ScratchDir(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string Join(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The names in a directory, to catch stray temporary files.
inline Texts Names(const std::string& directory) {
  Texts names;
  for (const auto& e : std::filesystem::directory_iterator(directory)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}
inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}
inline std::string ReadFile(const std::string& path) {
  std::ostringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
  return content.str();
}

// Parses link and adds it to the current task as a drop would; -2 when it
// does not parse.
inline int DropLink(const std::string& link) {
  url::Record record;
  std::string display, stored;
  if (url::Parse(link, &record, &display, &stored) != 0) return -2;
  return entries::AddEntry(display, record.path, stored);
}

// Task file lines, one waiting entry per link, into the local files
// directory/a0, directory/a1, ...
inline std::string TaskLines(const Texts& links, const std::string& directory) {
  std::string lines;
  for (std::size_t i = 0; i < links.size(); ++i) {
    lines += "03/14/26 09:00\t" + directory + "/a" + std::to_string(i) + "\tAwaiting_command\t" + links[i] + "\r\n";
  }
  return lines;
}

struct Outcome {
  int exit_code;
  std::string out, err;
  bool operator==(const Outcome& o) const { return exit_code == o.exit_code && out == o.out && err == o.err; }
};
inline void PrintTo(const Outcome& o, std::ostream* out) {
  *out << "exit " << o.exit_code << ", out [" << o.out << "], err [" << o.err << "]";
}

// Runs the built parcelo, next to this test binary, with PARCELO_HOME=home;
// its output goes through files in home. The arguments need no shell quoting.
// before goes between PARCELO_HOME=home and the binary: further variables
// ("HOME=/x", or PARCELO_HOME again to override it) or a command that runs the
// rest ("prlimit --nofile=12: env").
inline Outcome Parcelo(const std::string& home, const std::string& arguments, const std::string& before = "") {
  const std::string binary = std::filesystem::read_symlink("/proc/self/exe").replace_filename("parcelo");
  const std::string out = home + "/out", err = home + "/err";
  const int status = std::system(("PARCELO_HOME='" + home + "' " + before + " '" + binary + "' " + arguments +
                                  " >'" + out + "' 2>'" + err + "'").c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
}

// The environment of tests of portable code: a scratch program directory as
// the app state's, a recording settings store and prompts sink installed, the
// settings loaded, an empty headless task list, receive mode with Default.rcv
// current.
struct TaskEnvironment {
  TaskEnvironment() {
    prompts::SetSink(&sink);
    settings::InstallStore(&store);
    tasklist::HeadlessBody().DeleteAllRows();
    app::SetProgramDirectory(dir.path());
    app::SetCurrentMode(app::kReceiveMode);
    app::SetCurrentTaskPath(dir.Join("Default.rcv"));
    settings::Load(dir.path());
  }
  ~TaskEnvironment() {
    tasklist::HeadlessBody().DeleteAllRows();
    settings::InstallStore(nullptr);
    prompts::SetSink(nullptr);
    app::SetCurrentTaskPath("");
    app::SetProgramDirectory("");
    app::SetCurrentMode(app::kReceiveMode);
  }
  // Stores a value and reloads the live settings.
  void Use(const std::string& name, const std::string& value) {
    store.Put(name, value);
    settings::Load(dir.path());
  }

  ScratchDir dir;
  RecordingSink sink;
  RecordingStore store;
};

// While it lives, writes past limit bytes fail as on a full disk (EFBIG rather
// than SIGXFSZ), also for root.
struct FullDisk {
  explicit FullDisk(rlim_t limit) : old_handler(signal(SIGXFSZ, SIG_IGN)) {
    getrlimit(RLIMIT_FSIZE, &old);
    const rlimit lowered{limit, old.rlim_max};
    setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~FullDisk() { setrlimit(RLIMIT_FSIZE, &old); signal(SIGXFSZ, old_handler); }
  void (*old_handler)(int);
  rlimit old;
};

// A task list body: the headless table, plus the status texts that each row
// was given, in order.
class RecordingList : public tasklist::Headless {
 public:
  void SetCell(int row, int column, const std::string& text) override {
    if (column == tasklist::kStatus) {
      Hold hold(record_lock_);
      statuses_[row].push_back(text);
    }
    Headless::SetCell(row, column, text);
  }
  Texts Statuses(int row) { Hold hold(record_lock_); return statuses_[row]; }
  void ClearStatuses() { Hold hold(record_lock_); statuses_.clear(); }

 private:
  std::mutex record_lock_;
  std::map<int, Texts> statuses_;
};

// What the pumps told the job layer, per row (the context's start row):
// progress reports, and the bytes done at each log call.
class HookRecorder {
 public:
  struct Report { std::uint64_t bytes_done, total_size; };
  static HookRecorder& Instance() { static HookRecorder recorder; return recorder; }
  static void OnProgress(const session::Context& c) {
    Hold hold(Instance().lock_);
    Instance().reports_[c.start_row].push_back({c.bytes_done, c.total_size});
  }
  static void OnLog(const session::Context& c) {
    Hold hold(Instance().lock_);
    Instance().logs_[c.start_row].push_back(c.bytes_done);
  }
  void Clear() { Hold hold(lock_); reports_.clear(); logs_.clear(); }
  std::vector<Report> Reports(int row) { Hold hold(lock_); return reports_[row]; }
  std::vector<std::uint64_t> Logs(int row) { Hold hold(lock_); return logs_[row]; }

 private:
  std::mutex lock_;
  std::map<int, std::vector<Report>> reports_;
  std::map<int, std::vector<std::uint64_t>> logs_;
};

// Polls until done() holds, at most about five seconds.
inline bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 500 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

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
inline ::testing::AssertionResult Matches(const Texts& expected, const Texts& actual) {
  bool same = expected.size() == actual.size();
  for (std::size_t i = 0; same && i < expected.size(); ++i) same = Glob(expected[i], actual[i]);
  if (same) return ::testing::AssertionSuccess();
  std::string text;
  for (const std::string& e : expected) text += "\n  expected [" + e + "]";
  for (const std::string& a : actual) text += "\n  actual [" + a + "]";
  return ::testing::AssertionFailure() << text;
}

// The task environment, a recording task list with two rows, recorded
// progress reports and log calls, short time-outs.
class TransferTest : public ::testing::Test {
 protected:
  static constexpr const char* kTask = "/tasks/Default.rcv";

  void SetUp() override {
    UseSetting("email", "someone@example.org");
    tasklist::Install(&list_);
    list_.InsertRow(0, "first");
    list_.InsertRow(1, "second");
    app::SetCurrentTaskPath(kTask);
    HookRecorder::Instance().Clear();
    progress::InstallReporter(&HookRecorder::OnProgress);
    translog::InstallWriter(&HookRecorder::OnLog);
    timeouts::Set(3000, 3000, 3000);
    context_.task_path = kTask;
    UseRow(0);
  }
  void TearDown() override {
    timeouts::RestoreDefaults();
    translog::InstallWriter(nullptr);
    progress::InstallReporter(nullptr);
    tasklist::Install(nullptr);
  }

  // The context's entry is the one in row (as a worker started on it).
  void UseRow(int row) {
    context_.start_row = row;
    context_.row_id = list_.IdOf(row);
  }
  void UseSetting(const std::string& name, const std::string& value) { env_.Use(name, value); }
  // Makes the task `name` in the scratch directory current, as the task of
  // the context's entry on host; returns its path.
  std::string UseTaskFile(const std::string& name, const std::string& host) {
    const std::string task = Path(name);
    app::SetCurrentTaskPath(task);
    context_.task_path = task;
    context_.host_name = host;
    return task;
  }
  std::string Path(const std::string& name) const { return env_.dir.Join(name); }
  session::AttemptParams Params(std::uint16_t port, const std::string& remote_path,
                                const std::string& local_name, int protocol = url::kFtp) const {
    session::AttemptParams params;
    params.host = "127.0.0.1";
    params.port = port;
    params.protocol = protocol;
    params.remote_path = remote_path;
    params.local_file = Path(local_name);
    return params;
  }
  // The same through an HTTP proxy on 127.0.0.1 at proxy_port.
  session::AttemptParams ProxiedParams(std::uint32_t proxy_port, const std::string& remote_path,
                                       const std::string& local_name, int protocol) const {
    session::AttemptParams params = Params(protocol == url::kHttps ? 443 : 80, remote_path, local_name, protocol);
    params.http_proxy_host = "127.0.0.1";
    params.http_proxy_port = proxy_port;
    return params;
  }

  TaskEnvironment env_;
  RecordingStore& store_ = env_.store;
  RecordingSink& boxes_ = env_.sink;
  RecordingList list_;
  session::Context context_;
};

}  // namespace fixtures
