// Transfer jobs: a receive job downloads the entries of a download task, a
// send job uploads those of an upload task. The walker runs on the caller's
// (user-interface) thread: it reads every entry of the task file, checks its
// URL and starts one worker thread per entry to transfer, then returns without
// waiting for the transfers. An entry whose server has as many connections as
// MaxPerServer allows waits "Queued", without a thread, until a connection to
// that server ends (engine/server_slots.h); entries start in row order. Each
// worker makes CycleDownload (CycleUpload) + 1 attempts at most, holding its
// connection slot throughout, and writes its progress into its row.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/tasklist.h"

namespace session {
struct Context;
}

namespace jobs {

// What the walker and the workers of one job leave behind. The job stays
// alive while a worker runs, however long the starter keeps its handle.
// Safe from any thread.
class Job {
 public:
  explicit Job(int mode) : mode_(mode) {}
  Job(const Job&) = delete;
  Job& operator=(const Job&) = delete;

  int mode() const { return mode_; }
  // The task had no entry; the empty-list message was shown.
  bool Empty() const;
  // Rows whose worker was started or queued, and rows marked "Bad link" (a
  // link that does not parse, or a malformed percent-escape), in walk order. A row
  // whose thread could not be created counts as started and ended at once
  // with a failure ("Failed to create thread").
  std::vector<int> StartedRows() const;
  std::vector<int> BadLinkRows() const;
  int Running() const;  // queued entries included
  // Waits until every worker of the job has ended; timeout_ms < 0 waits
  // without limit. Returns true when none runs.
  bool WaitUntilEnded(int timeout_ms) const;
  // The result of the last attempt of the row's worker (>= 0 success,
  // including a followed redirect). False while it runs or when it never
  // started.
  bool ResultOf(int row, int* result) const;

  // For the walker and the workers. Prepare makes room for every row of the
  // walk before any worker starts (it may throw std::bad_alloc), so that
  // nothing after it allocates: a worker's ending can never fail to be
  // counted and leave the job waiting.
  void Prepare(int row_count);
  void MarkEmpty();
  void MarkBadLink(int row);
  void WorkerStarting(int row);
  void WorkerNotStarted(int row) noexcept;  // ends the row with a failure
  // True the first time a thread of the job could not be made: the box that
  // tells so comes once per job.
  bool FirstThreadFailure();
  void WorkerEnded(int row, int result) noexcept;

 private:
  // results_ of a row whose worker has not ended.
  static constexpr int kNoResult = INT32_MIN;

  const int mode_;
  mutable std::mutex lock_;  // guards the fields below
  mutable std::condition_variable ended_;
  bool empty_ = false;
  std::vector<int> started_;
  std::vector<int> bad_links_;
  std::vector<int> results_;  // by row
  int running_ = 0;
  std::atomic<bool> thread_failure_told_{false};
};

using JobHandle = std::shared_ptr<Job>;

// The command entry points. task_path may be empty: then the current task,
// or after a change of mode the new mode's default task. A job of the other
// direction than the program's mode first makes the mode change; a given
// path becomes the current task and is loaded.
JobHandle StartReceiveJob(const std::string& task_path);
JobHandle StartSendJob(const std::string& task_path);

// The mode change a job makes when its direction differs from the mode: set
// the mode, make task_path (the mode's default task when empty) the current
// task and load it. The Win32 shell installs its full mode change (mode
// selector, toolbar buttons, dropped files); nullptr restores the headless
// one. User-interface thread only.
using ModeChanger = void (*)(int mode, const std::string& task_path);
void InstallModeChanger(ModeChanger changer);

// How a job starts a worker thread: threads::StartDetached unless another
// starter is installed (nullptr restores it); false when no thread could be
// created. Tests make thread creation fail through it.
using ThreadStarter = bool (*)(void (*entry)(void* argument), void* argument);
void InstallThreadStarter(ThreadStarter starter);

// The cap on connections per server and the speed limit of all transfers:
// MaxPerServer and SpeedLimit of the live settings, unless the run overrides
// them. Every job applies them as it starts; the shell again after the
// configuration sheet, so that a new limit holds for running transfers too.
void ApplyLimits();
// parcelo's --max-per-server and --limit-rate: values that stand for the
// settings for the rest of the run; a negative one leaves the setting.
void OverrideLimits(int max_per_server, std::int64_t bytes_per_second);

// Why the row's last transfer ended as it did ("404 Not Found", "Login
// incorrect", "Connection refused", "Failed to create thread"), or a note on
// one that succeeded ("Kept local name: x exists"); empty while it runs, when
// there is nothing to say, and for a row that never ran. Kept by row id, so a
// row keeps its cause while rows above it are deleted. Safe from any thread,
// the user-interface thread included: it never waits for a transfer.
std::string CauseOfRow(tasklist::RowId row);

// Test seam: called by each worker with its row as it records how its
// transfer ended; tests make it throw std::bad_alloc there.
using EndingFault = void (*)(int row);
void InstallEndingFault(EndingFault fault);

// The Stop command: marks the transfer of the first selected row that is
// running one and not yet stopped (or ends a queued one "Cancelled" at once), which then ends "Cancelled" and makes no
// further attempt (one transfer per Stop). Returns false, keeping nothing for
// later, when no selected row is transferring. User-interface thread only.
bool StopSelectedTransfer();

// Stops the transfer running in row as Stop does (its partial file stays);
// false when none runs there.
bool StopTransferOf(tasklist::RowId row);
// The Delete command: deletes the selected rows (entries::DeleteEntries) and
// stops the transfer of each deleted row, which would otherwise go on unseen
// and beyond the reach of Stop. Returns what DeleteEntries returns.
// User-interface thread only.
int DeleteSelectedRows();

// Pause before the attempt that follows failed attempt number failed (from
// 0): one second, doubled after each failure, at most 30 seconds, so that a
// server that fails at once is not hammered. Stop cuts it short.
std::uint32_t RetryPauseMs(int failed);
// Tests shorten the pauses: second_ms stands for a second (1000 restores).
void SetRetryPauseSecond(std::uint32_t second_ms);

// The job texts of the task list, shared with the front ends.
extern const char kNothingToReceive[];
extern const char kNothingToSend[];
// Status of an entry waiting for a free connection to its server.
extern const char kQueued[];

// Progress report of a transfer (the reporter of progress::InstallReporter):
// columns 2 to 5 of the context's row, only while the context's task is the
// one shown.
void ReportProgress(const session::Context& context);

// The four column texts of one report. time is empty when column 4 is to be
// left as it is (during the first second, with an unknown size, and while
// nothing new has come).
struct ProgressTexts {
  std::string status;  // "Percent=%d"
  std::string bytes;   // "Totalbyte %llu / %llu"
  std::string time;    // elapsed and time left, "%s:%s"
  std::string rate;    // bytes per second of this attempt
};
// unconfirmed: an upload not yet confirmed by the server, which stops at 99 %.
ProgressTexts ComputeProgress(std::uint64_t bytes_done, std::uint64_t total_size,
                              std::uint64_t resume_start, std::uint32_t elapsed_ms,
                              bool unconfirmed = false);

// "%02d:%02d:%02d" of hours, minutes and seconds.
std::string FormatDuration(std::uint64_t ms);

}  // namespace jobs
