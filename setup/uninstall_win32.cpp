// Uninstallation (the UNINSTALL dialog): the program group, the recorded
// files, the directories and the registry keys of the installation the
// uninstaller belongs to.
#include <windows.h>
#include <dde.h>

#include <cstdio>
#include <string>
#include <vector>

#include "setup/progman_win32.h"
#include "setup/rules.h"
#include "resources/setup_ids.h"
#include "setup/setup_win32.h"

namespace setup {
namespace {

constexpr UINT_PTR kUninstallTimer = 1;
// This package starts no companion program after uninstalling.
constexpr char kPostUninstallCommand[] = "";
// The transfer program's main window.
constexpr char kProgramWindowClass[] = "myprog";
// Registry texts longer than this are not supported.
constexpr DWORD kValueBytes = 520;

std::string ReadValue(const char* key_path, const char* name, const std::string& fallback) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, KEY_READ, &key) != ERROR_SUCCESS) return fallback;
  char value[kValueBytes] = {};
  DWORD size = sizeof value - 1;
  DWORD type = 0;
  const LONG result = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS || type != REG_SZ || value[0] == '\0') return fallback;
  return value;
}

std::string OwnPath() {
  char module[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, module, sizeof module - 1);
  return module;
}

// One line of any length, with its line end; false at the end of the file.
bool ReadLine(std::FILE* file, std::string* line) {
  line->clear();
  char chunk[512];
  while (std::fgets(chunk, sizeof chunk, file) != nullptr) {
    *line += chunk;
    if (!line->empty() && line->back() == '\n') return true;
  }
  return !line->empty();
}

// Deletes the files of the record that the installer put in the main
// directory; every other line stays untouched and is counted in kept.
// False when there is no record.
bool RemoveRecordedFiles(HWND owner, const std::string& main_directory, int* kept) {
  const std::string record = main_directory + "install.txt";
  std::FILE* file = std::fopen(record.c_str(), "r");
  if (file == nullptr) {
    ShowMessage(owner, record, "", MB_OK);
    return false;
  }
  const std::vector<std::string> own_names = MainDirectoryNames();
  const std::string running = OwnPath();
  std::string line;
  while (ReadLine(file, &line)) {
    const std::string path = DeletableRecordPath(line, main_directory, own_names);
    if (path.empty() && !IsBlankRecordLine(line)) ++*kept;
    if (path.empty() || SamePath(path, running)) continue;
    DeleteFileA(path.c_str());
  }
  std::fclose(file);
  return true;
}

void DeleteSubkey(const char* parent_path, const char* name, HWND owner) {
  HKEY parent = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, parent_path, 0, KEY_ALL_ACCESS, &parent) != ERROR_SUCCESS) {
    ShowMessage(owner, "Failed to delete key", "", MB_OK);
    return;
  }
  RegDeleteKeyA(parent, name);
  RegCloseKey(parent);
}

bool KeyExists(const char* key_path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// The keys go only when they belong to the installation in main_directory:
// another copy registered elsewhere keeps its own.
void DeleteRegistryKeys(HWND owner, const std::string& main_directory) {
  const bool app_paths = KeyExists(kAppPathsKey);
  const bool app_paths_here = SamePath(ReadValue(kAppPathsKey, "Path", ""), main_directory);
  const std::string location = ReadValue(kUninstallKey, "InstallLocation", "");
  const bool uninstall_here =
      SamePath(location.empty() ? UninstallCommandDirectory(ReadValue(kUninstallKey, "UnInstallString", ""))
                                : location,
               main_directory);
  if (app_paths_here) DeleteSubkey("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths", "parcelo32.exe", owner);
  if (uninstall_here) DeleteSubkey("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", "parcelo32", owner);
  // The transfer program's settings, when this was the registered copy.
  if (app_paths_here || (!app_paths && uninstall_here)) DeleteSubkey("SOFTWARE", "Parcelo(32)", owner);
}

void SetStatus(HWND dialog, const std::string& text) { SetDlgItemTextA(dialog, IDC_UNINSTALL_STATUS, text.c_str()); }

bool ProgramRunning() { return FindWindowA(kProgramWindowClass, nullptr) != nullptr; }

// The running program would keep its files; the user closes it first.
bool ProgramClosed(HWND dialog) {
  if (!ProgramRunning()) return true;
  ShowMessage(dialog, "Parcelo(32) is running. Please close it, then press OK.", "UnInstall Parcelo(32)",
              MB_OK | MB_ICONEXCLAMATION);
  for (int i = 0; i < 20 && ProgramRunning(); ++i) Sleep(100);
  return !ProgramRunning();
}

void EndUninstall(HWND dialog, const std::string& status, bool failed) {
  State& s = Globals();
  s.failed = failed;
  SetStatus(dialog, status);
  LogLine(status);
  SetDlgItemTextA(dialog, IDCANCEL, "OK");
  if (s.silent) PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

void OnUninstallTimer(HWND dialog) {
  if (!ProgramClosed(dialog)) {
    EndUninstall(dialog, "Parcelo(32) is still running; nothing was removed", true);
    return;
  }
  SetStatus(dialog, "Removing program group");
  if (!InitiateProgman(dialog) || !ExecuteProgman(DeleteGroupCommand(kGroupName), DdeStep::kDeleteGroup)) {
    MessageBeep(MB_ICONHAND);
    ShowMessage(nullptr,
                "Failed to delete program icons.\nYou must reboot the system and uninstall Parcelo(32) again",
                "Message", MB_OK | MB_ICONHAND);
    Globals().failed = true;
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  }
}

void OnGroupRemoved(HWND dialog) {
  Progman().step = DdeStep::kNone;
  SetStatus(dialog, "Removing all installed files");
  const int kept = RemoveInstallation(dialog);
  MessageBeep(MB_OK);
  StartHidden(kPostUninstallCommand);
  EndUninstall(dialog, kept < 0 ? "Uninstall incomplete: install.txt could not be read" : UninstallCompleteText(kept),
               kept < 0);
}

void CloseUninstall(HWND dialog) {
  Conversation& c = Progman();
  if (c.step != DdeStep::kNone && c.step != DdeStep::kAwaitTerminate) TerminateProgman(DdeStep::kNone);
  c.step = DdeStep::kNone;
  KillTimer(dialog, kUninstallTimer);
  if (Globals().silent) {
    DestroyWindow(dialog);
  } else {
    EndDialog(dialog, 0);
  }
}

// The directory setup.exe runs from when it holds an install record (each
// installed copy uninstalls itself), else the registered one, else the default.
std::string UninstallDirectory() {
  const std::string own = Globals().source_directory;
  if (!own.empty() && GetFileAttributesA((own + "install.txt").c_str()) != INVALID_FILE_ATTRIBUTES) return own;
  std::string registered = ReadValue(kAppPathsKey, "Path", "C:\\Parcelo(32)");
  if (registered.back() != '\\') registered += '\\';
  return registered;
}

}  // namespace

int RemoveInstallation(HWND owner) {
  const std::string main_directory = UninstallDirectory();
  // Read before the settings key goes with the others. Without the value,
  // the directory the installer offers for downloads: DOWN in the main one.
  const std::string download_directory = ReadValue(kSettingsKey, "DOWN", main_directory + "DOWN");
  int kept = 0;
  const bool removed = RemoveRecordedFiles(owner, main_directory, &kept);
  if (removed) {
    // Only empty directories go; a directory still in use stays silently.
    RemoveDirectoryA(download_directory.c_str());
    RemoveDirectoryA(main_directory.c_str());
  }
  DeleteRegistryKeys(owner, main_directory);
  return removed ? kept : -1;
}

INT_PTR CALLBACK UninstallDlgFunc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      CenterOnScreen(dialog);
      SetDlgItemTextA(dialog, IDCANCEL, "Cancel");
      SetTimer(dialog, kUninstallTimer, 1, nullptr);
      return TRUE;
    case WM_TIMER:
      if (wparam != kUninstallTimer) return FALSE;
      KillTimer(dialog, kUninstallTimer);
      OnUninstallTimer(dialog);
      return TRUE;
    case WM_DDE_ACK:
      if (OnProgmanAck(wparam, lparam) == DdeStep::kDeleteGroup) TerminateProgman(DdeStep::kAwaitTerminate);
      return TRUE;
    case WM_DDE_TERMINATE:
      if (Progman().step == DdeStep::kAwaitTerminate && reinterpret_cast<HWND>(wparam) == Progman().server) {
        OnGroupRemoved(dialog);
      }
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDCANCEL) CloseUninstall(dialog);
      return TRUE;
    case WM_CLOSE:
      CloseUninstall(dialog);
      return TRUE;
  }
  return FALSE;
}

}  // namespace setup
