#include "engine/appstate.h"

#include <atomic>
#include <mutex>

#include "platform/fs.h"

namespace app {
namespace {
std::mutex g_lock;  // guards the strings below
std::string g_program_directory;
std::string g_current_task_path;
std::string g_local_directory;
std::atomic<int> g_mode{kReceiveMode};
std::atomic<int> g_stop_request{0};
}  // namespace

std::string ProgramDirectory() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_program_directory;
}

void SetProgramDirectory(const std::string& directory) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_program_directory = directory;
}

int CurrentMode() { return g_mode.load(); }
void SetCurrentMode(int mode) { g_mode.store(mode); }

std::string CurrentTaskPath() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_current_task_path;
}

void SetCurrentTaskPath(const std::string& path) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_current_task_path = path;
}

bool IsCurrentTaskPath(const std::string& path) {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_current_task_path == path;
}

std::string DefaultTaskPath(int mode) {
  return ProgramDirectory() + fs::Separator() + (mode == kSendMode ? "Default.snd" : "Default.rcv");
}

void RequestStop() { g_stop_request.store(1); }
bool TakeStopRequest() { return g_stop_request.exchange(0) != 0; }
bool StopRequested() { return g_stop_request.load() != 0; }
void ClearStopRequest() { g_stop_request.store(0); }

std::string LocalDirectory() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_local_directory;
}

void SetLocalDirectory(const std::string& directory) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_local_directory = directory;
}

}  // namespace app
