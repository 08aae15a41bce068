// Uninstallation (the UNINSTALL dialog): the program group, the recorded
// files, the directories and the registry keys.
#include <windows.h>
#include <dde.h>

#include <cstdio>
#include <string>

#include "setup/progman_win32.h"
#include "setup/rules.h"
#include "setup/setup_ids.h"
#include "setup/setup_win32.h"

namespace setup {
namespace {

constexpr UINT_PTR kUninstallTimer = 1;
// This package starts no companion program after uninstalling.
constexpr char kPostUninstallCommand[] = "";
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

// Deletes the recorded files that lie inside the main or the system
// directory; false when there is no record.
bool RemoveRecordedFiles(HWND owner, const std::string& main_directory) {
  const std::string record = main_directory + "install.txt";
  std::FILE* file = std::fopen(record.c_str(), "r");
  if (file == nullptr) {
    MessageBoxA(owner, record.c_str(), "", MB_OK);
    return false;
  }
  const std::string system_directory = SystemDirectory();
  const std::string running = OwnPath();
  std::string line;
  while (ReadLine(file, &line)) {
    const std::string path = DeletableRecordPath(line, main_directory, system_directory);
    if (path.empty() || SamePath(path, running)) continue;
    DeleteFileA(path.c_str());
  }
  std::fclose(file);
  return true;
}

void DeleteSubkey(const char* parent_path, const char* name, HWND owner) {
  HKEY parent = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, parent_path, 0, KEY_ALL_ACCESS, &parent) != ERROR_SUCCESS) {
    MessageBoxA(owner, "Failed to delete key", "", MB_OK);
    return;
  }
  RegDeleteKeyA(parent, name);
  RegCloseKey(parent);
}

void DeleteRegistryKeys(HWND owner) {
  DeleteSubkey("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths", "parcelo32.exe", owner);
  DeleteSubkey("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", "parcelo32", owner);
  // The transfer program's settings.
  DeleteSubkey("SOFTWARE", "Parcelo(32)", owner);
}

void SetStatus(HWND dialog, const char* text) { SetDlgItemTextA(dialog, IDC_UNINSTALL_STATUS, text); }

void OnUninstallTimer(HWND dialog) {
  SetStatus(dialog, "Removing program group");
  if (!InitiateProgman(dialog) || !ExecuteProgman(DeleteGroupCommand(kGroupName), DdeStep::kDeleteGroup)) {
    MessageBeep(MB_ICONHAND);
    MessageBoxA(nullptr,
                "Failed to delete program icons.\nYou must reboot the system and uninstall Parcelo(32) again",
                "Message", MB_OK | MB_ICONHAND | MB_TASKMODAL);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  }
}

void OnGroupRemoved(HWND dialog) {
  Progman().step = DdeStep::kNone;
  SetStatus(dialog, "Removing all installed files");
  RemoveInstallation(dialog);
  MessageBeep(MB_OK);
  StartHidden(kPostUninstallCommand);
  SetStatus(dialog, "Uninstall complete");
  SetDlgItemTextA(dialog, IDCANCEL, "OK");
}

void CloseUninstall(HWND dialog) {
  Conversation& c = Progman();
  if (c.step != DdeStep::kNone && c.step != DdeStep::kAwaitTerminate) TerminateProgman(DdeStep::kNone);
  c.step = DdeStep::kNone;
  KillTimer(dialog, kUninstallTimer);
  EndDialog(dialog, 0);
}

}  // namespace

void RemoveInstallation(HWND owner) {
  std::string main_directory = ReadValue(kAppPathsKey, "Path", "C:\\Parcelo(32)");
  if (main_directory.back() != '\\') main_directory += '\\';
  // Read before the settings key goes with the others. Without the value,
  // the directory the installer offers for downloads: DOWN in the main one.
  const std::string download_directory = ReadValue(kSettingsKey, "DOWN", main_directory + "DOWN");
  if (RemoveRecordedFiles(owner, main_directory)) {
    // Only empty directories go; a directory still in use stays silently.
    RemoveDirectoryA(download_directory.c_str());
    RemoveDirectoryA(main_directory.c_str());
  }
  DeleteRegistryKeys(owner);
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
