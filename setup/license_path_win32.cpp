// The licence dialog (IDD_LICENSE) and the directory dialog (PATHDLG).
#include <cstdio>
#include <string>
#include <vector>

#include "setup/rules.h"
#include "resources/setup_ids.h"
#include "setup/setup_win32.h"
#include "settings/dirlist_win32.h"

namespace setup {
namespace {

constexpr char kLicenseFile[] = "license.txt";
constexpr char kMissingLicense[] = "The licence text (license.txt) could not be read.";
// Longest directory text taken from a field, without its NUL.
constexpr int kDirectoryChars = 258;
constexpr char kDefaultMainDirectory[] = "C:\\Program Files\\Parcelo(32)";

// The whole file, with lone line feeds made CR LF for the edit control;
// empty when it cannot be read.
bool ReadLicense(std::string* text) {
  std::FILE* file = std::fopen(kLicenseFile, "rb");
  if (file == nullptr) return false;
  char chunk[4096];
  std::size_t got;
  char previous = '\0';
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    for (std::size_t i = 0; i < got; ++i) {
      if (chunk[i] == '\n' && previous != '\r') *text += '\r';
      *text += chunk[i];
      previous = chunk[i];
    }
  }
  const bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}

void OnLicenseInit(HWND dialog) {
  CenterOnScreen(dialog);
  std::string text;
  const bool read = ReadLicense(&text);
  // Nobody can agree to a text they were not shown.
  if (!read) text = kMissingLicense;
  EnableWindow(GetDlgItem(dialog, IDOK), read);
  HWND edit = GetDlgItem(dialog, IDC_LICENSE_TEXT);
  SendMessageA(edit, EM_LIMITTEXT, 0, 0);
  SetWindowTextA(edit, text.c_str());
  // On the button, so the text does not open all selected.
  SetFocus(GetDlgItem(dialog, read ? IDOK : IDCANCEL));
}

// The path dialog's messages: an error beep, task-modal; no title gives the
// system's default one.
void PathError(HWND dialog, const char* text, const char* title) {
  MessageBeep(MB_ICONHAND);
  ShowMessage(dialog, text, title, MB_OK);
}

bool RootExists(const std::string& root) {
  const DWORD attributes = GetFileAttributesA(root.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CreateLevels(const std::string& directory) {
  for (const std::string& level : LevelsToCreate(directory)) {
    const DWORD attributes = GetFileAttributesA(level.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      if (!CreateDirectoryA(level.c_str(), nullptr)) return false;
      Globals().created_directories.push_back(level);
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      return false;
    }
  }
  return true;
}

using GetDiskFreeSpaceExFunction = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);

// The bytes available to this user on the drive of root ("C:\"). The
// extended call exists from Windows 95 OSR2 on; before that, the cluster
// counts, multiplied in 64 bits.
bool FreeSpace(const std::string& root, uint64_t* free) {
  const FARPROC found = GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetDiskFreeSpaceExA");
  if (found != nullptr) {
    const auto extended = reinterpret_cast<GetDiskFreeSpaceExFunction>(reinterpret_cast<void*>(found));
    ULARGE_INTEGER available = {};
    if (extended(root.c_str(), &available, nullptr, nullptr)) {
      *free = available.QuadPart;
      return true;
    }
  }
  DWORD sectors = 0, bytes = 0, clusters = 0, total = 0;
  if (!GetDiskFreeSpaceA(root.c_str(), &sectors, &bytes, &clusters, &total)) return false;
  *free = FreeBytes(clusters, sectors, bytes);
  return true;
}

std::string FieldText(HWND dialog, int id) {
  char text[kDirectoryChars + 1] = {};
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

void OnPathInit(HWND dialog) {
  CenterOnScreen(dialog);
  SendDlgItemMessageA(dialog, IDC_PATH_MAIN, EM_LIMITTEXT, kDirectoryChars, 0);
  SendDlgItemMessageA(dialog, IDC_PATH_DOWNLOAD, EM_LIMITTEXT, kDirectoryChars, 0);
  SetDlgItemTextA(dialog, IDC_PATH_MAIN, kDefaultMainDirectory);
  SetDlgItemTextA(dialog, IDC_PATH_DOWNLOAD, "C:\\Program Files\\Parcelo(32)\\DOWN");
}

void OnBrowse(HWND dialog) {
  std::string chosen;
  if (dirlist::ChooseDirectory(Globals().instance, dialog, &chosen) != 1) return;
  // The root comes back as "C:", any other directory without a final '\'.
  const std::string main = chosen + "\\Parcelo(32)";
  SetDlgItemTextA(dialog, IDC_PATH_MAIN, main.c_str());
  SetDlgItemTextA(dialog, IDC_PATH_DOWNLOAD, (main + "\\down").c_str());
}

// Validates and creates one directory; false after telling the user. The
// main directory must leave room for the longest path the installation
// writes there; that is checked before anything is created.
bool PrepareDirectory(HWND dialog, std::string* text, const char* invalid_message,
                      const std::vector<std::string>& names) {
  if (!ValidateDirectoryText(text, RootExists) || !DirectoryHoldsNames(*text, names)) {
    PathError(dialog, invalid_message, nullptr);
    return false;
  }
  if (SplitPath(*text).directory.size() > 1 && !CreateLevels(*text)) {
    PathError(dialog, "Failed to create directory", "  Check path");
    return false;
  }
  return true;
}

std::vector<std::string> MainNamesAndRecord() {
  std::vector<std::string> names = MainDirectoryNames();
  names.push_back("install.txt");
  return names;
}

bool PrepareDirectories(HWND dialog, std::string* main, std::string* download) {
  State& s = Globals();
  if (!PrepareDirectory(dialog, main, "Invalid Path Name", MainNamesAndRecord())) return false;
  s.main_directory = *main;
  if (!PrepareDirectory(dialog, download, "Invalid Path", {})) return false;
  s.download_directory = *download;
  return true;
}

bool EnoughSpace(HWND dialog, const std::string& main) {
  uint64_t free = 0;
  if (FreeSpace(SplitPath(main).drive + "\\", &free) && free >= kRequiredFreeBytes) return true;
  PathError(dialog, "No disk space", nullptr);
  return false;
}

void OnPathOk(HWND dialog) {
  std::string main = FieldText(dialog, IDC_PATH_MAIN);
  std::string download = FieldText(dialog, IDC_PATH_DOWNLOAD);
  if (!PrepareDirectories(dialog, &main, &download)) return;
  if (!EnoughSpace(dialog, main)) {
    RemoveCreatedDirectories();
    EndDialog(dialog, 1);
    return;
  }
  EndDialog(dialog, 0);
}

void OnPathCancel(HWND dialog) {
  RemoveCreatedDirectories();
  EndDialog(dialog, 1);
}

}  // namespace

bool PrepareSilentDirectories() {
  State& s = Globals();
  std::string main = s.main_directory.empty() ? kDefaultMainDirectory : s.main_directory;
  std::string download = main + (main.back() == '\\' ? "DOWN" : "\\DOWN");
  if (PrepareDirectories(nullptr, &main, &download) && EnoughSpace(nullptr, main)) return true;
  RemoveCreatedDirectories();
  return false;
}

INT_PTR CALLBACK LicenseDlgFunc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      OnLicenseInit(dialog);
      return FALSE;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK) EndDialog(dialog, 1);
      if (LOWORD(wparam) == IDCANCEL) EndDialog(dialog, 0);
      return TRUE;
    case WM_CLOSE:
      EndDialog(dialog, 0);
      return TRUE;
  }
  return FALSE;
}

INT_PTR CALLBACK PathDlgFunc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      OnPathInit(dialog);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case IDC_PATH_OK:
          OnPathOk(dialog);
          break;
        case IDC_PATH_BROWSE:
          OnBrowse(dialog);
          break;
        case IDC_PATH_CANCEL:
        case IDCANCEL:
          OnPathCancel(dialog);
          break;
      }
      return TRUE;
    case WM_CLOSE:
      OnPathCancel(dialog);
      return TRUE;
  }
  return FALSE;
}

}  // namespace setup
