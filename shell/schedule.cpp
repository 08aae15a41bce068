// Receive Later and Send Later: the time dialog makes a scheduled job, and a
// 60-second timer of the main window per job starts it when its time comes.
#include <windows.h>

#include <string>

#include "settings/places.h"
#include "engine/jobs.h"
#include "platform/tasklist.h"
#include "shell/shell.h"
#include "tasks/later_dialog.h"
#include "tasks/schedule.h"

namespace shell {
namespace {

constexpr UINT kTickMs = 60000;

void StartScheduledJob(const std::string& task_path, bool receive) {
  TrackJob(receive ? jobs::StartReceiveJob(task_path) : jobs::StartSendJob(task_path));
}

}  // namespace

void ScheduleTransfer(HWND window, int mode) {
  if (app::CurrentMode() != mode) ChangeMode(mode, false);
  if (tasklist::Current().RowCount() == 0) {
    MessageBoxA(window, "No item in the listbox to schedule", "Message", MB_OK | MB_ICONINFORMATION | MB_TASKMODAL);
    return;
  }
  const std::string task_path = app::CurrentTaskPath();
  later_dialog::Request request;
  request.mode = mode;
  request.job = schedule::Jobs().Find(task_path);
  request.help_file = Globals().help_file_path;
  if (later_dialog::Run(Globals().instance, window, &request) != 1) return;
  const int timer_id = schedule::Jobs().Schedule(task_path, request.hour, request.minute, request.repeat);
  SetTimer(window, static_cast<UINT_PTR>(timer_id), kTickMs, nullptr);
}

void OnScheduleTimer(HWND window, UINT_PTR timer_id) {
  using Result = schedule::Scheduler::TickResult;
  const Result result = schedule::Jobs().Tick(static_cast<int>(timer_id), &StartScheduledJob);
  // A replaced job's timer has nothing left to check.
  if (result == Result::kStartedOnce || result == Result::kNoJob) KillTimer(window, timer_id);
}

}  // namespace shell
