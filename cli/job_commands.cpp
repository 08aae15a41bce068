// receive, send and add --send: the transfer jobs run from the command line.
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "settings/places.h"
#include "settings/settings.h"
#include "engine/jobs.h"
#include "engine/rate_limit.h"
#include "engine/session.h"
#include "engine/split_download.h"
#include "engine/text_format.h"
#include "tasks/url.h"
#include "platform/atol.h"
#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/tasklist.h"
#include "tasks/entries.h"
#include "tasks/schedule.h"
#include "tasks/transfer_log.h"

namespace cli {
namespace {

// The live lines are redrawn this often while transfers run (at most ten
// times a second, or a large task spends its time drawing).
constexpr int kRedrawMs = 250;
// Rounds run again for rows that ended in a redirect; a chain longer than
// this (or a loop) ends the row as failed.
constexpr int kRedirectRounds = 5;
constexpr char kTooManyRedirects[] = "Too many redirects";

// The row's texts as the task list shows them: status, bytes, time, rate.
std::string RowTexts(int row) {
  tasklist::Port& list = tasklist::Current();
  return list.GetCell(row, tasklist::kStatus) + "\t" + list.GetCell(row, tasklist::kBytes) + "\t" +
         list.GetCell(row, tasklist::kTime) + "\t" + list.GetCell(row, tasklist::kRate);
}

// The terminal's size on stderr; 80 by 24 when it cannot be told.
winsize TerminalSize() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) size = winsize{};
  if (size.ws_col == 0) size.ws_col = 80;
  if (size.ws_row == 0) size.ws_row = 24;
  return size;
}

// The live lines on stderr, redrawn in place: the cursor goes back up over
// the lines drawn before. They never outgrow the terminal, whatever the
// count of rows: a line per running row that fits, then one total line, the
// cursor below them all (a cursor movement cannot reach lines scrolled off
// the top). Lines are cut to the terminal's width so that none wraps and
// throws the count off.
class LiveLines {
 public:
  explicit LiveLines(const jobs::Job& job) : job_(job), rows_(job.StartedRows()) {}

  void Draw() {
    const winsize size = TerminalSize();
    const std::size_t width = static_cast<std::size_t>(size.ws_col - 1);
    const int room = std::max(0, size.ws_row - 2);
    std::string out;
    if (drawn_ > 0) out += "\x1b[" + std::to_string(drawn_) + "A";
    int lines = 0, unended = 0, queued = 0, failed = 0;
    for (int row : rows_) {
      int result = 0;
      if (job_.ResultOf(row, &result)) {
        failed += result < 0 ? 1 : 0;
        continue;
      }
      queued += tasklist::Current().GetCell(row, tasklist::kStatus) == jobs::kQueued ? 1 : 0;
      if (unended++ < room) AddLine(std::to_string(row) + "  " + RowTexts(row), width, &out, &lines);
    }
    const int ended = static_cast<int>(rows_.size()) - unended;
    AddLine(text::Format("%d of %d running, %d queued, %d done, %d failed", unended - queued,
                         static_cast<int>(rows_.size()), queued, ended - failed, failed),
            width, &out, &lines);
    // Lines left from a longer drawing go.
    if (lines < drawn_) out += "\x1b[J";
    drawn_ = lines;
    std::fputs(out.c_str(), stderr);
    std::fflush(stderr);
  }

  void Erase() {
    if (drawn_ == 0) return;
    std::fprintf(stderr, "\x1b[%dA\r\x1b[J", drawn_);
    std::fflush(stderr);
    drawn_ = 0;
  }

 private:
  static void AddLine(std::string line, std::size_t width, std::string* out, int* lines) {
    std::replace(line.begin(), line.end(), '\t', ' ');
    if (line.size() > width) line.resize(width);
    *out += "\r" + line + "\x1b[K\n";
    ++*lines;
  }

  const jobs::Job& job_;
  const std::vector<int> rows_;
  int drawn_ = 0;
};

void WaitForJob(const jobs::Job& job) {
  if (!isatty(STDERR_FILENO)) {
    job.WaitUntilEnded(-1);
    return;
  }
  LiveLines live(job);
  while (!job.WaitUntilEnded(kRedrawMs)) live.Draw();
  live.Erase();
}

// Exit status: 0 when every started row ended "Done" or in a followed
// redirect, nothing was refused and every log line was written, else 1.
int Outcome(const jobs::Job& job) {
  if (transfer_log::LostLines() > 0) return kExitFailed;
  for (int row : job.StartedRows()) {
    int result = -1;
    if (!job.ResultOf(row, &result) || result < 0) return kExitFailed;
  }
  // A row marked "Bad link" fails the job too; 2 is kept for bad usage and
  // an empty task.
  return job.BadLinkRows().empty() ? kExitOk : kExitFailed;
}

// Started rows of the job whose entry a redirect rewrote.
std::vector<int> RedirectedRows(const jobs::Job& job) {
  std::vector<int> redirected;
  for (int row : job.StartedRows()) {
    int result = -1;
    if (job.ResultOf(row, &result) && result == session::kRedirected) redirected.push_back(row);
  }
  return redirected;
}

// After the summary, why each row that has a cause ended as it did.
void PrintCauses(const std::vector<int>& rows) {
  tasklist::Port& list = tasklist::Current();
  for (int row : rows) {
    const std::string cause = jobs::CauseOfRow(list.IdOf(row));
    if (!cause.empty()) std::fprintf(stderr, "row %d: %s\n", row, cause.c_str());
  }
}

// Marks the given rows selected (none given: no selection, so all rows run).
bool SelectRows(const std::vector<std::string>& arguments) {
  tasklist::Port& list = tasklist::Current();
  const int row_count = list.RowCount();
  std::vector<bool> chosen(static_cast<std::size_t>(row_count), false);
  bool all_good = true;
  for (const std::string& text : arguments) {
    int row;
    if (ReadRow(text, row_count, &row)) {
      chosen[row] = true;
    } else {
      std::fprintf(stderr, "Bad row number: %s\n", text.c_str());
      all_good = false;
    }
  }
  if (!all_good) return false;
  for (int row = 0; row < row_count; ++row) list.SetSelected(row, chosen[row]);
  return true;
}

// The task is the one opened for the invocation (without --task, the default
// task of the command's mode); its mode must be the command's.
bool PrepareTask(const Invocation& /*invocation*/, int mode) {
  if (app::CurrentMode() == mode) return true;
  std::fprintf(stderr, "parcelo: %s is %s task\n", app::CurrentTaskPath().c_str(),
               mode == app::kSendMode ? "a download task; send runs an upload"
                                      : "an upload task; receive runs a download");
  return false;
}

// Runs the prepared task's job, waits for it and prints the rows. With
// follow, rows that ended in a redirect run again at once with their new
// link, only they, for up to kRedirectRounds rounds; a row still redirected
// after the last round fails with kTooManyRedirects.
int RunPreparedJob(int mode, bool follow) {
  const auto start = [mode] {
    return mode == app::kSendMode ? jobs::StartSendJob(std::string()) : jobs::StartReceiveJob(std::string());
  };
  jobs::JobHandle job = start();
  if (job->Empty()) return kExitRefused;
  WaitForJob(*job);

  std::vector<int> rows = job->StartedRows();
  const std::vector<int> marked = job->BadLinkRows();
  rows.insert(rows.end(), marked.begin(), marked.end());
  int outcome = Outcome(*job);
  std::vector<int> redirected = follow ? RedirectedRows(*job) : std::vector<int>();
  for (int round = 1; !redirected.empty(); ++round) {
    tasklist::Port& list = tasklist::Current();
    if (round > kRedirectRounds) {
      for (int row : redirected) list.SetCell(row, tasklist::kStatus, kTooManyRedirects);
      outcome = kExitFailed;
      break;
    }
    for (int row = 0; row < list.RowCount(); ++row) {
      list.SetSelected(row, std::find(redirected.begin(), redirected.end(), row) != redirected.end());
    }
    job = start();
    if (job->Empty()) break;
    WaitForJob(*job);
    const std::vector<int> bad = job->BadLinkRows();
    rows.insert(rows.end(), bad.begin(), bad.end());
    if (Outcome(*job) != kExitOk) outcome = kExitFailed;
    redirected = RedirectedRows(*job);
  }
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  for (int row : rows) std::printf("%d\t%s\n", row, RowTexts(row).c_str());
  std::fflush(stdout);
  PrintCauses(rows);
  return outcome;
}

// --- receive/send --at HH:MM [--every N] ---

struct Timing {
  bool scheduled = false;
  int hour = 0, minute = 0, every = 0;
};

// H:MM or HH:MM and nothing else: the time parser of the schedule dialog
// stops at the first character that is not part of a number, so "12:30xyz"
// and "12:30:45" would pass it as 12:30.
bool IsClockTime(const std::string& text) {
  const std::size_t colon = text.find(':');
  const auto digits = [&](std::size_t from, std::size_t count) {
    return text.find_first_not_of("0123456789", from) >= from + count;
  };
  return (colon == 1 || colon == 2) && text.size() == colon + 3 && digits(0, colon) && digits(colon + 1, 2);
}

// Takes each "OPTION VALUE" pair whose option is first or second out of the
// arguments and hands it to take, in order; false after saying why (a
// missing value, or one that take refused and said so).
bool TakeValues(std::vector<std::string>* arguments, const char* first, const char* second,
                const std::function<bool(const std::string& option, const std::string& value)>& take) {
  for (std::size_t i = 0; i < arguments->size();) {
    const std::string option = (*arguments)[i];
    if (option != first && option != second) {
      ++i;
      continue;
    }
    if (i + 1 == arguments->size()) {
      std::fprintf(stderr, "parcelo: %s needs a value\n", option.c_str());
      return false;
    }
    const std::string value = (*arguments)[i + 1];
    arguments->erase(arguments->begin() + i, arguments->begin() + i + 2);
    if (!take(option, value)) return false;
  }
  return true;
}

// True when value is 1 to most digits.
bool IsCount(const std::string& value, std::size_t most) {
  return !value.empty() && value.size() <= most && value.find_first_not_of("0123456789") == std::string::npos;
}

// Takes --at and --every out of the arguments; false after saying why.
bool ReadTiming(std::vector<std::string>* arguments, Timing* timing) {
  bool every_given = false;
  const bool taken = TakeValues(arguments, "--at", "--every", [&](const std::string& option, const std::string& value) {
    if (option == "--at") {
      timing->scheduled = true;
      if (!IsClockTime(value) || !schedule::ParseTime(value, &timing->hour, &timing->minute)) {
        std::fprintf(stderr, "parcelo: bad time for --at: '%s' (HH:MM, from 00:00 to 23:59)\n", value.c_str());
        return false;
      }
      return true;
    }
    every_given = true;
    if (!IsCount(value, 6)) {
      std::fprintf(stderr, "parcelo: bad repeat for --every: '%s' (minutes, 0 or more)\n", value.c_str());
      return false;
    }
    timing->every = numbers::ReadLikeAtol(value);
    return true;
  });
  if (!taken) return false;
  if (every_given && !timing->scheduled) {
    std::fprintf(stderr, "parcelo: --every needs --at\n");
    return false;
  }
  return true;
}

volatile std::sig_atomic_t g_interrupted = 0;
void OnInterrupt(int) { g_interrupted = 1; }

// Ctrl-C while waiting ends the wait; during a run it acts as in receive.
void CatchInterrupt(bool catching) {
  struct sigaction action {};
  action.sa_handler = catching ? OnInterrupt : SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
}

// PARCELO_CLOCK=HH:MM:SS[*N] makes the time of day start at HH:MM:SS of
// today and run N times as fast, so that tests need not wait for the time.
struct TestClock {
  std::int64_t start_seconds = 0;  // local time at start, in seconds
  std::chrono::steady_clock::time_point started;
  int speed = 1;
};
TestClock g_test_clock;

clock_seam::LocalTime TestClockNow() {
  const auto real = std::chrono::steady_clock::now() - g_test_clock.started;
  const std::int64_t seconds =
      g_test_clock.start_seconds +
      std::chrono::duration_cast<std::chrono::milliseconds>(real).count() * g_test_clock.speed / 1000;
  clock_seam::LocalTime now = schedule::FromMinuteNumber(seconds / 60);
  now.second = static_cast<int>(seconds % 60);
  return now;
}

void InstallTestClock() {
  const char* text = std::getenv("PARCELO_CLOCK");
  int hour = 0, minute = 0, second = 0, speed = 1;
  if (!text || std::sscanf(text, "%2d:%2d:%2d*%6d", &hour, &minute, &second, &speed) < 3 || speed < 1) return;
  const std::int64_t today = schedule::MinuteNumber(clock_seam::SystemNow()) / (24 * 60) * (24 * 60);
  g_test_clock.start_seconds = (today + hour * 60 + minute) * 60 + second;
  g_test_clock.started = std::chrono::steady_clock::now();
  g_test_clock.speed = speed;
  clock_seam::OverrideNow(&TestClockNow);
}

std::string StartText(const schedule::Job& job) {
  const clock_seam::LocalTime start = schedule::FromMinuteNumber(job.due);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", start.year, start.month, start.day, start.hour,
                start.minute);
  return text;
}

// Waits in the foreground for each start, ticking once a second of the
// clock, and runs the job as receive/send do. A one-off schedule exits by
// the run's outcome; a repeating one runs until Ctrl-C.
int RunScheduled(const Invocation& invocation, int mode, const Timing& timing, bool follow) {
  const std::string task_path = app::CurrentTaskPath();
  if (tasklist::Current().RowCount() == 0) {
    std::fprintf(stderr, "parcelo: %s has no entry to schedule\n", task_path.c_str());
    return kExitRefused;
  }
  InstallTestClock();
  const int tick_ms = std::max(1, 1000 / g_test_clock.speed);
  schedule::Scheduler scheduler;
  const int timer = scheduler.Schedule(task_path, timing.hour, timing.minute, timing.every);
  int outcome = kExitOk;
  std::string start_text;  // of the next start
  bool start_skipped = false;
  auto start = [&](const std::string& path, bool) {
    CatchInterrupt(false);
    // A Ctrl-C that came just before the start cancels it (the wait below
    // tells so).
    if (g_interrupted) {
      start_skipped = true;
      return;
    }
    // The task is read afresh at each start; one that can no longer be read
    // is told as at any other start. Chosen rows that no longer exist make
    // the start run nothing: an empty selection would run every row.
    if (!OpenTask(path, !invocation.task_given)) {
      outcome = kExitRefused;
    } else if (!SelectRows(invocation.arguments)) {
      std::fprintf(stderr, "parcelo: the start at %s runs nothing: a chosen row no longer exists\n",
                   start_text.c_str());
      outcome = kExitRefused;
    } else {
      outcome = RunPreparedJob(mode, follow);
    }
    CatchInterrupt(true);
  };
  CatchInterrupt(true);
  const auto cancelled = [&] {
    std::fprintf(stderr, "parcelo: interrupted; the start at %s is cancelled\n", start_text.c_str());
    return kExitInterrupted;
  };
  for (;;) {
    start_text = StartText(*scheduler.Find(task_path));
    std::fprintf(stderr, "parcelo: next start at %s\n", start_text.c_str());
    std::fflush(stderr);
    schedule::Scheduler::TickResult result = schedule::Scheduler::TickResult::kNotYet;
    do {
      if (g_interrupted) return cancelled();
      usleep(static_cast<useconds_t>(tick_ms) * 1000);
      if (!g_interrupted) result = scheduler.Tick(timer, start);
    } while (result == schedule::Scheduler::TickResult::kNotYet);
    if (start_skipped) return cancelled();
    if (result != schedule::Scheduler::TickResult::kStartedAgainLater) return outcome;
  }
}

// Takes flag out of the arguments; true when it was there.
bool TakeFlag(std::vector<std::string>* arguments, const char* flag) {
  const auto found = std::find(arguments->begin(), arguments->end(), flag);
  if (found == arguments->end()) return false;
  arguments->erase(std::remove(arguments->begin(), arguments->end(), flag), arguments->end());
  return true;
}

// Takes --max-per-server N and --limit-rate RATE out of the arguments and
// makes them stand for the settings in this run; false after saying why.
bool ReadLimits(std::vector<std::string>* arguments) {
  int max_per_server = -1;
  std::int64_t rate = -1;
  const bool taken =
      TakeValues(arguments, "--max-per-server", "--limit-rate", [&](const std::string& option, const std::string& value) {
        std::uint64_t number = 0;
        if (option == "--limit-rate") {
          if (!rate_limit::ParseRate(value, &number)) {
            std::fprintf(stderr, "parcelo: bad rate for --limit-rate: '%s' (bytes per second, or with K, M or G)\n",
                         value.c_str());
            return false;
          }
          rate = static_cast<std::int64_t>(number);
          return true;
        }
        if (!IsCount(value, 4)) {
          std::fprintf(stderr, "parcelo: bad count for --max-per-server: '%s' (0 for no cap)\n", value.c_str());
          return false;
        }
        max_per_server = numbers::ReadLikeAtol(value);
        return true;
      });
  if (!taken) return false;
  jobs::OverrideLimits(max_per_server, rate);
  return true;
}

// Takes --split N out of the arguments and makes N the connections of each
// download of this run; false after saying why.
bool TakeSplit(std::vector<std::string>* arguments) {
  const auto found = std::find(arguments->begin(), arguments->end(), "--split");
  if (found == arguments->end()) return true;
  const std::string value = found + 1 == arguments->end() ? std::string() : *(found + 1);
  const long connections = IsCount(value, 2) ? numbers::ReadLikeAtol(value) : 0;
  if (connections < 1 || connections > split::kMostConnections) {
    std::fprintf(stderr, "parcelo: bad count for --split: '%s' (1 to %d connections)\n", value.c_str(),
                 split::kMostConnections);
    return false;
  }
  arguments->erase(found, found + 2);
  split::OverrideConnections(static_cast<int>(connections));
  return true;
}

int RunJob(const Invocation& invocation, int mode) {
  Invocation rows = invocation;
  Timing timing;
  const bool follow = !TakeFlag(&rows.arguments, "--no-follow");
  if (TakeFlag(&rows.arguments, "--no-server-names")) settings::SetLiveServerNames(0);
  if (!ReadLimits(&rows.arguments)) return kExitRefused;
  if (mode == app::kReceiveMode && !TakeSplit(&rows.arguments)) return kExitRefused;
  if (!ReadTiming(&rows.arguments, &timing)) return kExitRefused;
  if (!PrepareTask(rows, mode) || !SelectRows(rows.arguments)) return kExitRefused;
  return timing.scheduled ? RunScheduled(rows, mode, timing, follow) : RunPreparedJob(mode, follow);
}

}  // namespace

int RunReceive(const Invocation& invocation) { return RunJob(invocation, app::kReceiveMode); }

int RunSend(const Invocation& invocation) { return RunJob(invocation, app::kSendMode); }

int RunAddUploads(const Invocation& invocation) {
  const std::vector<std::string>& arguments = invocation.arguments;
  if (arguments.size() < 4 || arguments[1] != "--to") {
    std::fprintf(stderr, "parcelo: add --send needs --to URL and at least one FILE\n");
    return kExitRefused;
  }
  if (!PrepareTask(invocation, app::kSendMode)) return kExitRefused;
  std::string destination = arguments[2];
  if (destination.empty() || destination.back() != '/') destination += '/';

  int result = kExitOk;
  for (std::size_t i = 3; i < arguments.size(); ++i) {
    const std::string file = Absolute(arguments[i]);
    if (!fs::FileExists(file)) {
      std::fprintf(stderr, "parcelo: no such file: %s\n", arguments[i].c_str());
      result = kExitRefused;
      continue;
    }
    app::SetLocalDirectory(fs::DirectoryOf(file));
    // The walk decodes the link's path, so the name goes in encoded: a '%'
    // taken as an escape would name another file or stop the walk.
    const std::string name = fs::BaseName(file);
    if (!AddLink(destination + url::PercentEncodeName(name), name)) result = kExitRefused;
  }
  return result;
}

}  // namespace cli
