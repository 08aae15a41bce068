// The setup dialog (SETUPDLG): copies the file list with progress, then
// makes the program group and registers the program.
#include <windows.h>
#include <dde.h>
#include <lzexpand.h>
#include <winver.h>

#include <cstdio>
#include <string>
#include <vector>

#include "setup/filelist.h"
#include "setup/progman_win32.h"
#include "setup/rules.h"
#include "resources/setup_ids.h"
#include "setup/setup_win32.h"
#include "setup/sha256.h"

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

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The whole of a small text file; false when it cannot be read.
bool ReadSmallFile(const std::string& path, std::string* text) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  char chunk[4096];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0 && text->size() < (1u << 20)) text->append(chunk, got);
  const bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}

// Whether the record of directory (ending in '\') names path.
bool RecordNames(const std::string& directory, const std::string& path) {
  std::string text;
  if (!ReadSmallFile(directory + kRecordName, &text)) return false;
  const std::string name = SplitPath(path).name + SplitPath(path).extension;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (!DeletableRecordPath(text.substr(start, end - start), directory, {name}).empty()) return true;
    start = end + 1;
  }
  return false;
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

// Lets Cancel and painting through while the copy runs; false as soon as
// Cancel was pressed.
bool DrainMessages(HWND dialog) {
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
  return !s.abort;
}

// One file of this run: expanded beside its destination first, moved into
// place only once every file is expanded and checked.
struct Placement {
  std::string destination;
  std::string expanded;  // empty: nothing to move (kept or already in place)
  std::string record;    // the install record that gets the destination, if any
  bool existed = false;  // a file of that name was there before this run
  bool placed = false;
};

std::vector<Placement> g_placements;
Manifest g_manifest;

std::string Name(const FileEntry& entry) { return entry.source; }

// Stops the installation: takes back everything this run did, so the disk
// is as it was before it, then tells why.
void Fail(const std::string& why) {
  State& s = Globals();
  s.failed = true;
  for (auto placement = g_placements.rbegin(); placement != g_placements.rend(); ++placement) {
    if (!placement->expanded.empty()) DeleteFileA(placement->expanded.c_str());
    if (!placement->placed) continue;
    const std::string old = placement->destination + kOldSuffix;
    if (placement->existed) {
      MoveFileExA(old.c_str(), placement->destination.c_str(), MOVEFILE_REPLACE_EXISTING);
    } else {
      DeleteFileA(placement->destination.c_str());
    }
  }
  g_placements.clear();
  RemoveCreatedDirectories();
  if (!why.empty()) {
    MessageBeep(MB_ICONHAND);
    ShowMessage(nullptr, why, nullptr, MB_OK);
  }
  if (s.silent) DestroyWindow(s.main_window);
}

bool ReadPackageList() {
  std::string text;
  if (!ReadSmallFile(Globals().source_directory + kManifestName, &text)) {
    Fail(std::string("Damaged package: ") + kManifestName + " is missing");
    return false;
  }
  if (!ParseManifest(text, &g_manifest)) {
    Fail(std::string("Damaged package: ") + kManifestName);
    return false;
  }
  return true;
}

// A file of the main directory that this program did not put there is
// replaced only when the user says so; no changes nothing.
bool ConfirmForeignFiles() {
  State& s = Globals();
  for (int i = 0; i < kFirstSystemEntry && kFileList[i].source[0] != '\0'; ++i) {
    const std::string destination = s.main_directory + kFileList[i].destination;
    if (!Exists(destination) || SamePath(destination, s.source_directory + kFileList[i].source) ||
        RecordNames(s.main_directory, destination)) {
      continue;
    }
    const std::string question = destination + "\nwas not installed by Parcelo(32). Replace it?";
    if (ShowMessage(nullptr, question, "Setup", MB_YESNO | MB_ICONQUESTION) != IDYES) {
      Fail("Installation cancelled");
      return false;
    }
  }
  return true;
}

bool Matches(const ManifestEntry& expected, uint64_t size, const std::string& sha256) {
  return size == expected.size && sha256 == expected.sha256;
}

// Expands one entry beside its destination and checks it against the
// package list; false after Fail.
bool Stage(HWND dialog, const FileEntry& entry, const std::string& destination, const std::string& record) {
  const std::string source = Globals().source_directory + entry.source;
  const ManifestEntry* expected = FindManifestEntry(g_manifest, entry.source);
  if (expected == nullptr) {
    Fail("Damaged package: " + Name(entry) + " is not listed in " + kManifestName);
    return false;
  }
  Placement placement;
  placement.destination = destination;
  placement.record = record;
  placement.existed = Exists(destination);
  if (!Exists(source)) {
    Fail("Damaged package: " + Name(entry) + " is missing");
    return false;
  }
  if (!SamePath(source, destination)) {
    placement.expanded = destination + kNewSuffix;
    ExpandedFile written;
    const CopyResult result = ExpandFile(source, placement.expanded, [dialog] { return DrainMessages(dialog); }, &written);
    if (result != CopyResult::kDone) {
      placement.expanded.clear();
      if (result == CopyResult::kCancelled) Fail("");
      if (result == CopyResult::kReadFailed) Fail("File read error: " + source);
      if (result == CopyResult::kWriteFailed) Fail(WriteFailureText(destination, written.error));
      return false;
    }
    g_placements.push_back(placement);
    if (!Matches(*expected, written.size, written.sha256)) {
      Fail("Damaged package: " + Name(entry));
      return false;
    }
  } else {
    // Setup run from the main directory: the file must already be there,
    // whole and expanded.
    ExpandedFile found;
    const CopyResult result = ExpandFile(source, "", [] { return true; }, &found);
    if (result != CopyResult::kDone || !Matches(*expected, found.size, found.sha256) ||
        FileSize(source) != expected->size) {
      Fail("Damaged package: " + Name(entry));
      return false;
    }
    g_placements.push_back(placement);
  }
  CountCopied(dialog, source);
  return true;
}

bool StageEntry(HWND dialog, int index) {
  State& s = Globals();
  const FileEntry& entry = kFileList[index];
  SetDlgItemTextA(dialog, IDC_SETUP_SOURCE, entry.source);
  SetDlgItemTextA(dialog, IDC_SETUP_DESTINATION, entry.destination);
  const std::string source = s.source_directory + entry.source;
  if (!DrainMessages(dialog)) {
    Fail("");
    return false;
  }
  if (index < kFirstSystemEntry) {
    return Stage(dialog, entry, s.main_directory + entry.destination, s.main_directory + kRecordName);
  }
  const std::string destination = s.system_directory + "\\" + entry.destination;
  switch (DecideSystemFile(VersionOf(source), VersionOf(destination))) {
    case SystemFileAction::kSkip:
      CountCopied(dialog, source);
      return true;
    case SystemFileAction::kCopy:
      return Stage(dialog, entry, destination, "");
    case SystemFileAction::kCopyRecorded:
      return Stage(dialog, entry, destination, s.source_directory + kRecordName);
  }
  return false;
}

// A file that a running program holds cannot be opened for writing.
DWORD WriteAccessError(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(file);
  return 0;
}

// Moves every expanded file into place, the one it replaces aside first;
// false after Fail, which puts the replaced ones back.
bool PlaceFiles() {
  for (Placement& placement : g_placements) {
    if (placement.expanded.empty()) continue;
    const std::string old = placement.destination + kOldSuffix;
    DWORD error = placement.existed ? WriteAccessError(placement.destination) : 0;
    if (error == 0 && placement.existed &&
        !MoveFileExA(placement.destination.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      error = GetLastError();
    }
    if (error == 0 && !MoveFileExA(placement.expanded.c_str(), placement.destination.c_str(), 0)) {
      error = GetLastError();
      if (placement.existed) MoveFileExA(old.c_str(), placement.destination.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    if (error != 0) {
      Fail(WriteFailureText(placement.destination, error));
      return false;
    }
    placement.expanded.clear();
    placement.placed = true;
  }
  for (const Placement& placement : g_placements) {
    if (placement.placed && placement.existed) DeleteFileA((placement.destination + kOldSuffix).c_str());
    if (!placement.record.empty()) AppendRecord(placement.record, placement.destination);
  }
  return true;
}

bool CopyFiles(HWND dialog) {
  State& s = Globals();
  s.total_bytes = 0;
  s.copied_bytes = 0;
  g_placements.clear();
  for (int i = 0; kFileList[i].source[0] != '\0'; ++i) {
    s.total_bytes += FileSize(s.source_directory + kFileList[i].source);
  }
  if (!ReadPackageList() || !ConfirmForeignFiles()) return false;
  SetStatus(dialog, "Decompressing and copying files");
  for (int i = 0; kFileList[i].source[0] != '\0'; ++i) {
    if (!StageEntry(dialog, i)) return false;
  }
  return PlaceFiles();
}

uint64_t InstalledBytes() {
  uint64_t total = 0;
  for (const Placement& placement : g_placements) total += FileSize(placement.destination);
  return total;
}

void RunInstallation(HWND dialog) {
  if (!CopyFiles(dialog)) return;
  SetStatus(dialog, "Please wait, Creating program group");
  if (!InitiateProgman(dialog) || !ExecuteProgman(CreateGroupCommand(kGroupName), DdeStep::kCreateGroup)) {
    MessageBeep(MB_ICONHAND);
    ShowMessage(nullptr, "Failed to create program icons.\nYou must reboot the system and install Parcelo(32) again",
                "Message", MB_OK | MB_ICONHAND);
    Globals().failed = true;
    Globals().finished = true;
    if (Globals().silent) DestroyWindow(Globals().main_window);
  }
}

// The group is made: register the program, then let the posted press end
// the program once any registry message has been answered.
void FinishInstallation(HWND dialog) {
  State& s = Globals();
  TerminateProgman(DdeStep::kNone);
  s.finished = true;
  MessageBeep(MB_OK);
  WriteRegistryEntries(s.main_directory, s.download_directory, InstalledBytes());
  StartHidden(kPostInstallCommand);
  LogLine("Installation complete: " + s.main_directory);
  SetDlgItemTextA(dialog, IDC_SETUP_BUTTON, "OK");
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_SETUP_BUTTON, BN_CLICKED), 0);
}

void OnProgmanAcknowledged(HWND dialog, WPARAM wparam, LPARAM lparam) {
  switch (OnProgmanAck(wparam, lparam)) {
    case DdeStep::kCreateGroup:
      // The group stays with the user's own items in it; only ours is replaced.
      ExecuteProgman(DeleteItemCommand(kProgramItem), DdeStep::kDeleteItem);
      break;
    case DdeStep::kDeleteItem:
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
  s.failed = true;
}

}  // namespace

std::string WriteFailureText(const std::string& file, DWORD error) {
  std::string why;
  switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
      why = "it is in use";
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      why = "disk is full";
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      why = "access denied";
      break;
    default:
      why = "system error " + std::to_string(error);
  }
  return "Cannot write " + file + ": " + why;
}

// The file is opened through a handle of its own and given to LZInit, so a
// path longer than the 128 characters of the file-structure API still works.
CopyResult ExpandFile(const std::string& source, const std::string& target, const std::function<bool()>& keep_going,
                      ExpandedFile* written) {
  *written = ExpandedFile();
  HANDLE source_handle = CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
  if (source_handle == INVALID_HANDLE_VALUE) return CopyResult::kReadFailed;
  const INT from = LZInit(static_cast<HFILE>(reinterpret_cast<INT_PTR>(source_handle)));
  if (from < 0) {
    CloseHandle(source_handle);
    return CopyResult::kReadFailed;
  }
  HANDLE to = target.empty() ? nullptr
                             : CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (to == INVALID_HANDLE_VALUE) {
    written->error = GetLastError();
    LZClose(from);
    return CopyResult::kWriteFailed;
  }
  CopyResult result = CopyResult::kDone;
  Sha256 digest;
  std::vector<char> buffer(64 * 1024);
  for (;;) {
    if (!keep_going()) {
      result = CopyResult::kCancelled;
      break;
    }
    const INT got = LZRead(from, buffer.data(), static_cast<INT>(buffer.size()));
    if (got < 0) {
      result = CopyResult::kReadFailed;
      break;
    }
    if (got == 0) break;
    DWORD put = static_cast<DWORD>(got);
    if (to != nullptr &&
        (!WriteFile(to, buffer.data(), static_cast<DWORD>(got), &put, nullptr) || put != static_cast<DWORD>(got))) {
      written->error = put != static_cast<DWORD>(got) && GetLastError() == 0 ? ERROR_DISK_FULL : GetLastError();
      result = CopyResult::kWriteFailed;
      break;
    }
    digest.Update(buffer.data(), static_cast<std::size_t>(got));
    written->size += static_cast<uint64_t>(got);
  }
  LZClose(from);
  if (to != nullptr && !CloseHandle(to) && result == CopyResult::kDone) {
    written->error = GetLastError();
    result = CopyResult::kWriteFailed;
  }
  if (to != nullptr && result != CopyResult::kDone) DeleteFileA(target.c_str());
  if (result == CopyResult::kDone) written->sha256 = digest.HexDigest();
  return result;
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
