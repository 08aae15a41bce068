// Scheduled transfers: one job per task file that starts the task's download
// or upload at a time of day, once or again every N minutes. Jobs live in
// memory only. The owner runs a periodic tick per job (a 60-second window
// timer in the Win32 program) and calls Tick with the job's timer id; the
// time of day comes from the clock seam.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace schedule {

// The time text of the time dialog: "h:m" with hour 0-23 and minute 0-59,
// blanks allowed around each number ("7:5" is 07:05). False for anything else.
bool ParseTime(const std::string& text, int* hour, int* minute);
// The repeat text, read like atol (no number is 0). False when negative.
bool ParseRepeat(const std::string& text, int* repeat);
// "%2.2d:%2.2d".
std::string FormatTime(int hour, int minute);

// The marks that the exit question reads: set by accepting the time dialog
// with Schedule checked in that mode, cleared by accepting it unchecked.
// Nothing else changes them. User-interface thread only.
void SetMark(int mode, bool marked);
bool Marked(int mode);
bool AnyMarked();

// Minutes since a fixed day, of a local date and time; seconds are dropped.
std::int64_t MinuteNumber(const clock_seam::LocalTime& time);
clock_seam::LocalTime FromMinuteNumber(std::int64_t minutes);

struct Job {
  std::string task_path;
  int hour = 0;    // of the next start, 0-23
  int minute = 0;  // 0-59
  int repeat = 0;  // minutes between starts; 0: start once
  int timer_id = 0;
  std::int64_t due = 0;  // MinuteNumber of the next start
};

// The scheduled jobs in insertion order. Not thread-safe: one owner thread.
class Scheduler {
 public:
  // Starts the task's transfer: its path, and whether it is a download.
  using Starter = std::function<void(const std::string& task_path, bool receive)>;

  enum class TickResult {
    kNoJob,        // no job has this timer (any more): the timer can stop
    kNotYet,       // the job's time has not come
    kStartedOnce,  // started and removed: the timer can stop
    kStartedAgainLater,  // started; the job waits for its next start
  };

  // Replaces the task's job, if any, by a new one whose first start is the
  // next time the clock shows hour:minute (now, when it shows it already).
  // Returns the new job's timer id; ids are never reused.
  int Schedule(const std::string& task_path, int hour, int minute, int repeat);

  // The job of the task (exact path comparison), or nullptr.
  const Job* Find(const std::string& task_path) const;
  const std::vector<Job>& jobs() const { return jobs_; }

  // A job starts at the first tick at or after its time, once, however far
  // the ticks drift or the program was suspended; a repeating job then waits
  // for its next start after the current minute, skipping any that passed
  // unseen. The job is removed or advanced before start runs, so a tick
  // arriving while start is busy (a modal message box) cannot start it again.
  TickResult Tick(int timer_id, const Starter& start);

 private:
  std::vector<Job> jobs_;
  int next_timer_id_ = 0;
};

// The process-wide scheduler of the Win32 program.
Scheduler& Jobs();
// Ends every job of Jobs() and clears both marks, as the end of the program
// does (the Win32 tests create several main windows in one process).
void ForgetAll();

}  // namespace schedule
