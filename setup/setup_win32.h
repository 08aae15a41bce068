// The setup program's Win32 parts: one thread, one message loop, the work
// done inside the dialog procedures.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace setup {

// Process-wide state of the one user-interface thread.
struct State {
  HINSTANCE instance = nullptr;
  HWND main_window = nullptr;
  HWND setup_dialog = nullptr;
  std::string source_directory;  // where setup.exe runs from, ending in '\'
  std::string system_directory;  // without a trailing '\'
  std::string main_directory;    // validated, ending in '\'
  std::string download_directory;
  uint64_t total_bytes = 0;
  uint64_t copied_bytes = 0;
  bool abort = false;     // Cancel pressed: the copy loop stops at the next file
  bool finished = false;  // the next press of the dialog's button ends the program
};
State& Globals();

// Runs the program for its command line; the process's exit code.
int Run(HINSTANCE instance, const char* command_line);

// Dialog procedures, by template: IDD_LICENSE, PATHDLG, SETUPDLG, UNINSTALL.
INT_PTR CALLBACK LicenseDlgFunc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK PathDlgFunc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK SetupDlgFunc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK UninstallDlgFunc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Both modes.
void CenterOnScreen(HWND window);
std::string SystemDirectory();
// Starts a package's companion command hidden; an empty command starts nothing.
void StartHidden(const char* command_line);

// Copies source to destination, expanding a file compressed in the Windows
// compression format. The copy goes to a temporary file beside the
// destination that replaces it only once complete, so a failure (an
// unreadable, damaged or empty source, a destination in use) leaves an
// existing destination as it was.
bool ExpandFile(const std::string& source, const std::string& destination);

// The registry entries of an installation under HKEY_LOCAL_MACHINE.
extern const char kAppPathsKey[];
extern const char kUninstallKey[];
extern const char kSettingsKey[];
void WriteRegistryEntries(const std::string& main_directory);

// Uninstallation after the program group is gone: the files of the main
// directory's install record, the download and main directories when empty,
// then the registry keys. owner receives the message boxes.
void RemoveInstallation(HWND owner);

}  // namespace setup
