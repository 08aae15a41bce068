#include "tasks/log_dialog_win32.h"

#include <commctrl.h>
#include <shellapi.h>

#include <vector>

#include "engine/appstate.h"
#include "settings/store.h"
#include "shell/ids.h"
#include "tasks/log_viewer.h"
#include "tasks/transfer_log.h"

namespace log_viewer {
namespace {

constexpr int kColumnWidth = 120;
// Room for a cell of 1023 characters and its NUL.
constexpr int kCellBytes = 1024;
constexpr char kRemoveLog[] = "RemoveLog";
constexpr char kFailedToRun[] = "Failed to run";
constexpr char kNoAssociation[] = "No executable is associated with this file type";

// Set by ShowLog for the dialog it opens; user-interface thread only.
std::string g_help_file;

int ModeOf(HWND dialog) { return static_cast<int>(GetWindowLongPtrA(dialog, DWLP_USER)); }

HWND ListOf(HWND dialog) { return GetDlgItem(dialog, IDC_LOG_LIST); }

void InsertColumns(HWND list) {
  const char* const titles[] = {"Date", "Local file", "URL"};
  for (int i = 0; i < 3; ++i) {
    LVCOLUMNA column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = kColumnWidth;
    column.pszText = const_cast<char*>(titles[i]);
    column.iSubItem = i;
    SendMessageA(list, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&column));
  }
}

void SetCell(HWND list, int row, int column, const std::string& text) {
  LVITEMA item = {};
  item.iSubItem = column;
  item.pszText = const_cast<char*>(text.c_str());
  SendMessageA(list, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
}

void FillRows(HWND list, int mode) {
  const std::vector<transfer_log::LogRow> rows = transfer_log::ReadLog(mode);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    LVITEMA item = {};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(i);
    item.pszText = const_cast<char*>(rows[i].stamp.c_str());
    const int row = static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    SetCell(list, row, 1, rows[i].local_file);
    SetCell(list, row, 2, rows[i].url);
  }
}

std::string Cell(HWND list, int row, int column) {
  char text[kCellBytes] = {};
  LVITEMA item = {};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = kCellBytes;
  SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
  return text;
}

void OnInit(HWND dialog, int mode) {
  SetWindowLongPtrA(dialog, DWLP_USER, mode);
  HWND list = ListOf(dialog);
  InsertColumns(list);
  FillRows(list, mode);
  // The upload log has no check box; the message then goes nowhere.
  if (settings::ReadNumber(kRemoveLog, 0) != 0) CheckDlgButton(dialog, IDC_LOG_REMOVE, BST_CHECKED);
}

void OnClearAll(HWND dialog) {
  SendMessageA(ListOf(dialog), LVM_DELETEALLITEMS, 0, 0);
  transfer_log::ClearLog(ModeOf(dialog));
}

// The upload log has no check box and leaves the setting as it is.
void OnClose(HWND dialog) {
  if (GetDlgItem(dialog, IDC_LOG_REMOVE)) {
    settings::WriteText(kRemoveLog, IsDlgButtonChecked(dialog, IDC_LOG_REMOVE) == BST_CHECKED ? "1" : "0");
  }
  EndDialog(dialog, 0);
}

void Warn(HWND dialog, const char* text) { MessageBoxA(dialog, text, "Warning", MB_OK | MB_TASKMODAL); }

// The row leaves the list, and its line the log as the log is now: lines
// that jobs appended while the dialog was open stay.
void StrikeRow(HWND dialog, int row, const transfer_log::LogRow& shown) {
  SendMessageA(ListOf(dialog), LVM_DELETEITEM, row, 0);
  transfer_log::RemoveLogLine(ModeOf(dialog), row, shown);
}

// Copies the first selected row's file into a folder beside it and opens the
// copy there. What existed before is never removed: a failed copy runs
// nothing, and a failed run removes only the copy and a folder made for it.
void OnExecute(HWND dialog) {
  HWND list = ListOf(dialog);
  const int row = static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  if (row < 0) return;
  const transfer_log::LogRow shown = {Cell(list, row, 0), Cell(list, row, 1), Cell(list, row, 2)};
  ExecutePaths paths;
  if (!PlanExecute(shown.local_file, &paths)) {
    Warn(dialog, kFailedToRun);
    return;
  }
  SetCurrentDirectoryA(paths.drive.c_str());
  const bool made_folder = CreateDirectoryA(paths.folder.c_str(), nullptr) != 0;
  if (!CopyFileA(shown.local_file.c_str(), paths.copy.c_str(), FALSE)) {
    if (made_folder) RemoveDirectoryA(paths.folder.c_str());
    Warn(dialog, kFailedToRun);
    return;
  }
  const INT_PTR result = reinterpret_cast<INT_PTR>(
      ShellExecuteA(dialog, "open", paths.copy.c_str(), nullptr, paths.folder.c_str(), SW_SHOWNORMAL));
  if (result > 32) {
    if (IsDlgButtonChecked(dialog, IDC_LOG_REMOVE) == BST_CHECKED) StrikeRow(dialog, row, shown);
    return;
  }
  Warn(dialog, result == SE_ERR_NOASSOC ? kNoAssociation : kFailedToRun);
  DeleteFileA(paths.copy.c_str());
  if (made_folder) RemoveDirectoryA(paths.folder.c_str());
}

void OnCommand(HWND dialog, WPARAM wparam) {
  switch (LOWORD(wparam)) {
    case IDOK:  // "Clear All"
      OnClearAll(dialog);
      break;
    case IDCANCEL:  // "Close"
      OnClose(dialog);
      break;
    case IDC_LOG_EXECUTE:
      OnExecute(dialog);
      break;
    case IDC_LOG_HELP:
      WinHelpA(dialog, g_help_file.c_str(), HELP_CONTEXT, HELP_CONTEXT_LOG);
      break;
  }
}

}  // namespace

void ShowLog(HINSTANCE instance, HWND owner, const std::string& help_file) {
  g_help_file = help_file;
  const int mode = app::CurrentMode();
  DialogBoxParamA(instance, mode == app::kSendMode ? "UPLOADLOG" : "DOWNLOG", owner, LogDlgFunc, mode);
}

INT_PTR CALLBACK LogDlgFunc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      OnInit(dialog, static_cast<int>(lparam));
      break;
    case WM_COMMAND:
      OnCommand(dialog, wparam);
      break;
  }
  return 0;
}

}  // namespace log_viewer
