// The setup program's Win32 parts: one thread, one message loop, the work
// done inside the dialog procedures.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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
  bool silent = false;    // "/S": no window shows, messages go to the log
  bool failed = false;    // the exit code is 1
  // Directories the path dialog created, shallowest first: a failed or
  // cancelled installation removes them again when they are empty.
  std::vector<std::string> created_directories;
};
State& Globals();

// Runs the program for its command line; the process's exit code.
int Run(HINSTANCE instance, const char* command_line);

// Dialog procedures, by template: IDD_LICENSE, PATHDLG, SETUPDLG, UNINSTALL.
INT_PTR CALLBACK LicenseDlgFunc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK PathDlgFunc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK SetupDlgFunc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK UninstallDlgFunc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// For a silent installation: validates and creates the main directory of
// the command line (or the default one) and its DOWN directory, as the path
// dialog would; false after logging why not.
bool PrepareSilentDirectories();

// Both modes.
void CenterOnScreen(HWND window);
// A message box, task-modal; in silent mode the text goes to the log
// instead and the answer is No (or OK for a box without that choice).
int ShowMessage(HWND owner, const std::string& text, const char* title, UINT flags);
// Appends a line to "setup.log" in the temporary directory (silent mode only).
void LogLine(const std::string& text);
// Removes the created directories that are empty, deepest first.
void RemoveCreatedDirectories();
// The names the installer puts in the main directory.
std::vector<std::string> MainDirectoryNames();
std::string SystemDirectory();
// Starts a package's companion command hidden; an empty command starts nothing.
void StartHidden(const char* command_line);

// Expands source (a file in the Windows compression format, or a plain file
// copied as it is) into target, which is created anew. keep_going is asked
// between chunks; false stops the copy. On any outcome but kDone the target
// is removed again. An empty target writes nothing: the size and digest of
// the expanded source only.
enum class CopyResult { kDone, kReadFailed, kWriteFailed, kCancelled };
struct ExpandedFile {
  uint64_t size = 0;
  std::string sha256;
  DWORD error = 0;  // the system's error code of a failed write
};
CopyResult ExpandFile(const std::string& source, const std::string& target, const std::function<bool()>& keep_going,
                      ExpandedFile* written);
// "Cannot write <file>: it is in use" and the like, for a system error code.
std::string WriteFailureText(const std::string& file, DWORD error);

// The registry entries of an installation under HKEY_LOCAL_MACHINE.
extern const char kAppPathsKey[];
extern const char kUninstallKey[];
extern const char kSettingsKey[];
// The uninstall entry's EstimatedSize is installed_bytes in KB. The download
// directory becomes the program's DOWNLOAD setting unless it has one.
void WriteRegistryEntries(const std::string& main_directory, const std::string& download_directory,
                          uint64_t installed_bytes);

// Uninstallation after the program group is gone: the installer's own files
// named in the main directory's install record, the download and main
// directories when empty, then the registry keys that point at that
// directory. owner receives the message boxes. Returns the number of record
// lines left alone, or -1 when there was no record.
int RemoveInstallation(HWND owner);

}  // namespace setup
