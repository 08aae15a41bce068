#include "engine/running.h"

#include <map>
#include <mutex>
#include <set>

namespace app {
namespace {
std::mutex g_transfers_lock;  // guards the two below
// Workers per row: a row may run two at once when its job was started twice.
struct Running {
  int workers = 0;
  int queued = 0;  // of the workers, those waiting for a connection
  std::string task_path;
  int start_row = 0;
  std::string start_line;
};
std::map<tasklist::RowId, Running> g_running;
std::set<tasklist::RowId> g_stop_marks;
}  // namespace

void TransferStarted(tasklist::RowId row, const std::string& task_path, int start_row,
                     const std::string& start_line) {
  // Until a first transfer starts none runs, so the task list needs no
  // answer before then.
  entries::InstallRunningTransfers(&RunningTransfersOf);
  std::lock_guard<std::mutex> hold(g_transfers_lock);
  Running& running = g_running[row];
  ++running.workers;
  running.task_path = task_path;
  running.start_row = start_row;
  running.start_line = start_line;
}

std::vector<RunningTransfer> RunningTransfersOf(const std::string& task_path) {
  std::lock_guard<std::mutex> hold(g_transfers_lock);
  std::vector<RunningTransfer> found;
  for (const auto& [row, running] : g_running) {
    if (running.task_path != task_path) continue;
    // A row whose every worker waits says so; one that runs is written soon.
    const bool waiting = running.queued == running.workers;
    found.push_back({row, running.start_row, running.start_line, waiting ? "Queued" : ""});
  }
  return found;
}

void TransferEnded(tasklist::RowId row) {
  std::lock_guard<std::mutex> hold(g_transfers_lock);
  auto found = g_running.find(row);
  if (found == g_running.end()) return;
  if (--found->second.workers > 0) return;
  g_running.erase(found);
  g_stop_marks.erase(row);
}

void SetQueued(tasklist::RowId row, bool queued) {
  std::lock_guard<std::mutex> hold(g_transfers_lock);
  auto found = g_running.find(row);
  if (found != g_running.end()) found->second.queued += queued ? 1 : -1;
}

bool MarkStop(tasklist::RowId row) {
  std::lock_guard<std::mutex> hold(g_transfers_lock);
  if (row == tasklist::kNoRow || g_running.count(row) == 0) return false;
  return g_stop_marks.insert(row).second;
}

bool StopMarked(tasklist::RowId row) {
  std::lock_guard<std::mutex> hold(g_transfers_lock);
  return g_stop_marks.count(row) > 0;
}

}  // namespace app
