// The start-up sequence that runs while the main window is being created.
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "settings/places.h"
#include "engine/jobs.h"
#include "engine/progress.h"
#include "engine/translog.h"
#include "platform/win32_owner.h"
#include "settings/dialup.h"
#include "settings/settings.h"
#include "shell/shell.h"
#include "tasks/entries.h"
#include "tasks/transfer_log.h"

namespace shell {
namespace {

constexpr char kAppPathsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\parcelo32.exe";

void CreateThreadEvents(State& s) {
  s.thread_event_receive = CreateEventA(nullptr, TRUE, FALSE, "EVENTTHREAD");
  s.thread_event_send = CreateEventA(nullptr, TRUE, FALSE, "EVENTTHREADSEND");
  ResetEvent(s.thread_event_receive);
  ResetEvent(s.thread_event_send);
}

void CheckVersion() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  if (GetVersionExA(&version) && version.dwMajorVersion < 4) {
    MessageBoxA(nullptr, "Version is less than 4", "INFO", MB_OK);
  }
}

void LoadBitmaps(State& s) {
  COLORMAP grey = {RGB(192, 192, 192), GetSysColor(COLOR_BTNFACE)};
  for (int i = 0; i < kToolbarButtons; ++i) {
    s.toolbar_bitmaps[i] = CreateMappedBitmap(s.instance, i + 1, 0, &grey, 1);
  }
  s.download_bitmap = LoadBitmapA(s.instance, "download");
  s.upload_bitmap = LoadBitmapA(s.instance, "upload");
}

// The installed program's path from the App Paths key, cut at its last
// backslash; empty when the key or its value is missing.
std::string AppPathsDirectory() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAppPathsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return std::string();
  }
  char value[1024] = {};
  DWORD size = sizeof value - 1;
  DWORD type = 0;
  LONG rc = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return std::string();
  std::string path(value);
  size_t cut = path.rfind('\\');
  return cut == std::string::npos ? path : path.substr(0, cut);
}

// A job of the other direction makes the full mode change; a job given a
// task file then shows that task instead of the mode's default one.
void ChangeModeForJob(int mode, const std::string& task_path) {
  ChangeMode(mode, false);
  if (!task_path.empty()) entries::OpenTask(task_path);
}

void InstallJobHooks() {
  progress::InstallReporter(&jobs::ReportProgress);
  translog::InstallWriter(&transfer_log::WriteLogLine);
  jobs::InstallModeChanger(&ChangeModeForJob);
}

}  // namespace

std::string FindProgramDirectory() {
  char current[MAX_PATH + 1] = {};
  GetCurrentDirectoryA(sizeof current, current);
  std::string directory(current);
  // "C:\" is the root; every other directory comes without a trailing backslash.
  while (!directory.empty() && directory.back() == '\\') directory.pop_back();
  std::string installed = AppPathsDirectory();
  return installed.empty() ? directory : installed;
}

bool RunStartup(HWND window) {
  State& s = Globals();
  CreateThreadEvents(s);
  CheckVersion();
  s.instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(window, GWLP_HINSTANCE));
  if (settings::LoadDialupLibrary() == -1) {
    PostQuitMessage(0);
    return false;
  }
  s.main_menu = s.window_mode == kFullWindow ? GetMenu(window) : nullptr;
  s.accelerators = LoadAcceleratorsA(s.instance, "Keys");
  s.panel_brush = CreateSolidBrush(RGB(192, 192, 192));
  LoadBitmaps(s);
  s.main_window = window;
  win32::SetPromptOwner(window);

  std::string program_directory = FindProgramDirectory();
  app::SetProgramDirectory(program_directory);
  s.help_file_path = program_directory + "\\Parcelo32.HLP";
  settings::Load(program_directory);
  InstallJobHooks();

  CreateChildWindows(window, s.instance);
  if (s.window_mode == kDropWindow) {
    ExtendSystemMenu();
    ApplyOnTop();
  }
  InsertColumns();
  RegisterDropTarget(window);
  app::SetCurrentMode(app::kReceiveMode);
  entries::OpenTask(app::DefaultTaskPath(app::kReceiveMode));
  return true;
}

}  // namespace shell
