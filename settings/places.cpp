#include "settings/places.h"

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

std::string LocalDirectory() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_local_directory;
}

void SetLocalDirectory(const std::string& directory) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_local_directory = directory;
}

}  // namespace app
