// The setup dialog (SETUPDLG): copies the file list with progress, then
// makes the program group and registers the program.
#include <windows.h>
#include <dde.h>
#include <lzexpand.h>
#include <winver.h>

#include <cstdio>
#include <string>

#include "setup/filelist.h"
#include "setup/progman_win32.h"
#include "setup/rules.h"
#include "setup/setup_ids.h"
#include "setup/setup_win32.h"

namespace setup {
namespace {

constexpr UINT_PTR kInstallTimer = 1;
constexpr char kRecordName[] = "install.txt";
// This package starts no companion program after installing.
constexpr char kPostInstallCommand[] = "";

int g_percent = 0;

uint64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

ProductVersion VersionOf(const std::string& path) {
  ProductVersion version;
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
  if (size == 0) return version;
  std::string block(size, '\0');
  if (!GetFileVersionInfoA(path.c_str(), 0, size, &block[0])) return version;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  char root[] = "\\";
  if (!VerQueryValueA(&block[0], root, reinterpret_cast<void**>(&fixed), &length) || fixed == nullptr ||
      length < sizeof *fixed) {
    return version;
  }
  version.present = true;
  version.most_significant = fixed->dwProductVersionMS;
  return version;
}

void AppendRecord(const std::string& record, const std::string& path) {
  std::FILE* file = std::fopen(record.c_str(), "a");
  if (file == nullptr) return;
  std::fprintf(file, "%s\n", path.c_str());
  std::fclose(file);
}

void SetStatus(HWND dialog, const char* text) { SetDlgItemTextA(dialog, IDC_SETUP_STATUS, text); }

void ShowProgress(HWND dialog) {
  State& s = Globals();
  g_percent = Percent(s.copied_bytes, s.total_bytes);
  InvalidateRect(GetDlgItem(dialog, IDC_SETUP_PROGRESS), nullptr, FALSE);
  SetDlgItemTextA(dialog, IDC_SETUP_PERCENT, PercentText(g_percent).c_str());
}

void CountCopied(HWND dialog, const std::string& source) {
  Globals().copied_bytes += FileSize(source);
  ShowProgress(dialog);
}

// The left percent of the area red, the rest in the context's own brush.
void PaintProgress(const DRAWITEMSTRUCT& item) {
  const RECT& area = item.rcItem;
  const int width = area.right - area.left;
  const int red_width = width * g_percent / 100;
  RECT red = area;
  red.right = area.left + red_width;
  HBRUSH brush = CreateSolidBrush(RGB(255, 0, 0));
  FillRect(item.hDC, &red, brush);
  DeleteObject(brush);
  PatBlt(item.hDC, red.right, area.top, width - red_width, area.bottom - area.top, PATCOPY);
}

// Lets Cancel and painting through while the copy runs; stops as soon as
// Cancel was pressed.
void DrainMessages(HWND dialog) {
  State& s = Globals();
  MSG message;
  while (!s.abort && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      s.abort = true;
      break;
    }
    if (IsWindow(dialog) && IsDialogMessageA(dialog, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

void ReadError() {
  MessageBeep(MB_ICONHAND);
  MessageBoxA(nullptr, "File read error", nullptr, MB_OK | MB_TASKMODAL);
}

bool CopyExpanded(HWND dialog, const std::string& source, const std::string& destination) {
  if (SamePath(source, destination)) {
    // Installing from the main directory itself: the file is already there.
    CountCopied(dialog, source);
    return true;
  }
  if (FileSize(source) == 0 || !ExpandFile(source, destination)) {
    ReadError();
    return false;
  }
  CountCopied(dialog, source);
  return true;
}

bool CopyEntry(HWND dialog, int index) {
  State& s = Globals();
  const FileEntry& entry = kFileList[index];
  SetDlgItemTextA(dialog, IDC_SETUP_SOURCE, entry.source);
  SetDlgItemTextA(dialog, IDC_SETUP_DESTINATION, entry.destination);
  const std::string source = s.source_directory + entry.source;
  std::string destination;
  if (index >= kFirstSystemEntry) {
    destination = s.system_directory + "\\" + entry.destination;
    switch (DecideSystemFile(VersionOf(source), VersionOf(destination))) {
      case SystemFileAction::kSkip:
        CountCopied(dialog, source);
        return true;
      case SystemFileAction::kCopy:
        break;
      case SystemFileAction::kCopyRecorded:
        AppendRecord(s.source_directory + kRecordName, destination);
        break;
    }
  } else {
    destination = s.main_directory + entry.destination;
    AppendRecord(s.main_directory + kRecordName, destination);
  }
  DrainMessages(dialog);
  if (s.abort) return false;
  return CopyExpanded(dialog, source, destination);
}

bool CopyFiles(HWND dialog) {
  State& s = Globals();
  s.total_bytes = 0;
  s.copied_bytes = 0;
  for (int i = 0; kFileList[i].source[0] != '\0'; ++i) {
    s.total_bytes += FileSize(s.source_directory + kFileList[i].source);
  }
  SetStatus(dialog, "Decompressing and copying files");
  for (int i = 0; kFileList[i].source[0] != '\0'; ++i) {
    if (!CopyEntry(dialog, i)) return false;
  }
  return true;
}

void RunInstallation(HWND dialog) {
  if (!CopyFiles(dialog)) return;
  SetStatus(dialog, "Please wait, Creating program group");
  if (!InitiateProgman(dialog) || !ExecuteProgman(DeleteGroupCommand(kGroupName), DdeStep::kDeleteGroup)) {
    MessageBeep(MB_ICONHAND);
    MessageBoxA(nullptr, "Failed to create program icons.\nYou must reboot the system and install Parcelo(32) again",
                "Message", MB_OK | MB_ICONHAND | MB_TASKMODAL);
    Globals().finished = true;
  }
}

// The group is made: register the program, then let the posted press end
// the program once any registry message has been answered.
void FinishInstallation(HWND dialog) {
  State& s = Globals();
  TerminateProgman(DdeStep::kNone);
  s.finished = true;
  MessageBeep(MB_OK);
  WriteRegistryEntries(s.main_directory);
  StartHidden(kPostInstallCommand);
  SetDlgItemTextA(dialog, IDC_SETUP_BUTTON, "OK");
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_SETUP_BUTTON, BN_CLICKED), 0);
}

void OnProgmanAcknowledged(HWND dialog, WPARAM wparam, LPARAM lparam) {
  switch (OnProgmanAck(wparam, lparam)) {
    case DdeStep::kDeleteGroup:
      ExecuteProgman(CreateGroupCommand(kGroupName), DdeStep::kCreateGroup);
      break;
    case DdeStep::kCreateGroup:
      ExecuteProgman(AddItemCommand(Globals().main_directory, kProgramItem), DdeStep::kAddItem);
      break;
    case DdeStep::kAddItem:
      FinishInstallation(dialog);
      break;
    default:
      break;
  }
}

void OnSetupInit(HWND dialog) {
  CenterOnScreen(dialog);
  SetFocus(dialog);
  Globals().finished = false;
  SetDlgItemTextA(dialog, IDC_SETUP_BUTTON, "Cancel");
  SetTimer(dialog, kInstallTimer, 1, nullptr);
}

void OnSetupButton(HWND dialog) {
  State& s = Globals();
  if (s.finished) {
    DestroyWindow(dialog);
    s.setup_dialog = nullptr;
    DestroyWindow(s.main_window);
    return;
  }
  MessageBeep(MB_OK);
  SetDlgItemTextA(dialog, IDC_SETUP_SOURCE, "User aborted");
  s.abort = true;
  s.finished = true;
}

}  // namespace

bool ExpandFile(const std::string& source, const std::string& destination) {
  OFSTRUCT info = {};
  std::string from_name = source;
  const INT from = LZOpenFileA(&from_name[0], &info, OF_READ);
  if (from < 0) return false;
  // The expanded length: a compressed file's header states it, a plain
  // file's is its size. A shorter copy means a damaged source.
  const LONG expected = LZSeek(from, 0, 2);
  LZSeek(from, 0, 0);
  const std::string directory = SplitPath(destination).drive + SplitPath(destination).directory;
  char temporary[MAX_PATH] = {};
  if (expected <= 0 || GetTempFileNameA(directory.c_str(), "pst", 0, temporary) == 0) {
    LZClose(from);
    return false;
  }
  const INT to = LZOpenFileA(temporary, &info, OF_CREATE);
  const LONG copied = to < 0 ? -1 : LZCopy(from, to);
  LZClose(from);
  if (to >= 0) LZClose(to);
  bool done = copied == expected;
  if (done && !MoveFileExA(temporary, destination.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    // Windows 95 and 98 cannot replace in one step.
    done = GetLastError() == ERROR_CALL_NOT_IMPLEMENTED && DeleteFileA(destination.c_str()) &&
           MoveFileA(temporary, destination.c_str());
  }
  if (!done) DeleteFileA(temporary);
  return done;
}

INT_PTR CALLBACK SetupDlgFunc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      OnSetupInit(dialog);
      return FALSE;
    case WM_TIMER:
      if (wparam != kInstallTimer) return FALSE;
      KillTimer(dialog, kInstallTimer);
      RunInstallation(dialog);
      return TRUE;
    case WM_DRAWITEM:
      if (wparam != IDC_SETUP_PROGRESS) return FALSE;
      PaintProgress(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
      return TRUE;
    case WM_DDE_ACK:
      OnProgmanAcknowledged(dialog, wparam, lparam);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDC_SETUP_BUTTON || LOWORD(wparam) == IDCANCEL) OnSetupButton(dialog);
      return TRUE;
    case WM_CLOSE:
      OnSetupButton(dialog);
      return TRUE;
  }
  return FALSE;
}

}  // namespace setup
