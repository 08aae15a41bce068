// receive, send and add --send: the transfer jobs run from the command line.
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "engine/appstate.h"
#include "engine/jobs.h"
#include "tasks/url.h"
#include "platform/fs.h"
#include "platform/tasklist.h"
#include "tasks/entries.h"
#include "tasks/transfer_log.h"

namespace cli {
namespace {

// The live lines are redrawn this often while transfers run.
constexpr int kRedrawMs = 250;

// The row's texts as the task list shows them: status, bytes, time, rate.
std::string RowTexts(int row) {
  tasklist::Port& list = tasklist::Current();
  return list.GetCell(row, tasklist::kStatus) + "\t" + list.GetCell(row, tasklist::kBytes) + "\t" +
         list.GetCell(row, tasklist::kTime) + "\t" + list.GetCell(row, tasklist::kRate);
}

int TerminalWidth() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

// One line per started row on stderr, redrawn in place: the cursor goes back
// up over the lines drawn before. Lines are cut to the terminal's width so
// that none wraps and throws the count off.
class LiveLines {
 public:
  explicit LiveLines(std::vector<int> rows) : rows_(std::move(rows)) {}

  void Draw() {
    const std::size_t width = static_cast<std::size_t>(TerminalWidth() - 1);
    std::string out;
    if (drawn_ > 0) out += "\x1b[" + std::to_string(drawn_) + "A";
    for (int row : rows_) {
      std::string line = std::to_string(row) + "  " + RowTexts(row);
      std::replace(line.begin(), line.end(), '\t', ' ');
      if (line.size() > width) line.resize(width);
      out += "\r" + line + "\x1b[K\n";
    }
    drawn_ = static_cast<int>(rows_.size());
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
  const std::vector<int> rows_;
  int drawn_ = 0;
};

void WaitForJob(const jobs::Job& job) {
  if (!isatty(STDERR_FILENO)) {
    job.WaitUntilEnded(-1);
    return;
  }
  LiveLines live(job.StartedRows());
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
  // A row marked "Bad link", or a walk stopped by a malformed escape, fails the
  // job too; 2 is kept for bad usage and an empty task.
  return job.BadLinkRows().empty() && !job.WalkStopped() ? kExitOk : kExitFailed;
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

int RunJob(const Invocation& invocation, int mode) {
  if (!PrepareTask(invocation, mode) || !SelectRows(invocation.arguments)) return kExitRefused;
  const jobs::JobHandle job = mode == app::kSendMode ? jobs::StartSendJob(std::string())
                                                     : jobs::StartReceiveJob(std::string());
  if (job->Empty()) return kExitRefused;
  WaitForJob(*job);

  std::vector<int> rows = job->StartedRows();
  const std::vector<int> marked = job->BadLinkRows();
  rows.insert(rows.end(), marked.begin(), marked.end());
  std::sort(rows.begin(), rows.end());
  for (int row : rows) std::printf("%d\t%s\n", row, RowTexts(row).c_str());
  std::fflush(stdout);
  return Outcome(*job);
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
    if (!AddLink(destination + fs::BaseName(file))) result = kExitRefused;
  }
  return result;
}

}  // namespace cli
