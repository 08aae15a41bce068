#include "tasks/log_dialog_win32.h"

#include <commctrl.h>
#include <shellapi.h>

#include <vector>

#include "settings/places.h"
#include "settings/store.h"
#include "resources/parcelo32_ids.h"
#include "tasks/log_viewer.h"
#include "tasks/transfer_log.h"

namespace log_viewer {
namespace {

constexpr int kColumnWidth = 120;
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

// The rows the dialog shows. The list is virtual (owner data): it asks for a
// cell only when it draws it, so a log of 100,000 lines opens at once.
// User-interface thread only; one log dialog is open at a time.
std::vector<transfer_log::LogRow> g_rows;

const std::string& Field(const transfer_log::LogRow& row, int column) {
  return column == 0 ? row.stamp : column == 1 ? row.local_file : row.url;
}

void ShowRowCount(HWND list) {
  SendMessageA(list, LVM_SETITEMCOUNT, g_rows.size(), LVSICF_NOSCROLL);
  InvalidateRect(list, nullptr, TRUE);
}

void FillRows(HWND list, int mode) {
  g_rows = transfer_log::ReadLog(mode);
  ShowRowCount(list);
}

// The list asks for a cell's text (in ANSI: the dialog is an ANSI window);
// a cell too long for its buffer is cut there, as a list cell always is.
void OnGetCell(NMLVDISPINFOA* info) {
  LVITEMA& item = info->item;
  if (!(item.mask & LVIF_TEXT) || item.cchTextMax <= 0) return;
  const bool known = item.iItem >= 0 && static_cast<size_t>(item.iItem) < g_rows.size();
  lstrcpynA(item.pszText, known ? Field(g_rows[item.iItem], item.iSubItem).c_str() : "", item.cchTextMax);
}

void OnInit(HWND dialog, int mode) {
  SetWindowLongPtrA(dialog, DWLP_USER, mode);
  HWND list = ListOf(dialog);
  InsertColumns(list);
  FillRows(list, mode);
  // The upload log has no check box; the message then goes nowhere.
  if (settings::ReadNumber(kRemoveLog, 0) != 0) CheckDlgButton(dialog, IDC_LOG_REMOVE, BST_CHECKED);
}

void Warn(HWND dialog, const char* text) { MessageBoxA(dialog, text, "Warning", MB_OK | MB_TASKMODAL); }

// The list shows the log as it is: a log that cannot be rewritten keeps its
// rows, and the user is told.
void WarnCannotRewrite(HWND dialog) {
  Warn(dialog, ("Cannot rewrite the log " + transfer_log::LogPath(ModeOf(dialog))).c_str());
}

void OnClearAll(HWND dialog) {
  if (transfer_log::ClearLog(ModeOf(dialog)) != 0) {
    WarnCannotRewrite(dialog);
    return;
  }
  g_rows.clear();
  ShowRowCount(ListOf(dialog));
}

// The upload log has no check box and leaves the setting as it is.
void OnClose(HWND dialog) {
  if (GetDlgItem(dialog, IDC_LOG_REMOVE)) {
    settings::WriteText(kRemoveLog, IsDlgButtonChecked(dialog, IDC_LOG_REMOVE) == BST_CHECKED ? "1" : "0");
  }
  EndDialog(dialog, 0);
}

// The row leaves the list, and its line the log as the log is now: lines
// that jobs appended while the dialog was open stay.
void StrikeRow(HWND dialog, int row, const transfer_log::LogRow& shown) {
  if (transfer_log::RemoveLogLine(ModeOf(dialog), row, shown) < 0) {
    WarnCannotRewrite(dialog);
    return;
  }
  g_rows.erase(g_rows.begin() + row);
  ShowRowCount(ListOf(dialog));
}

// Copies the first selected row's file into a folder beside it and opens the
// copy there. What existed before is never removed: a failed copy runs
// nothing, and a failed run removes only the copy and a folder made for it.
void OnExecute(HWND dialog) {
  HWND list = ListOf(dialog);
  const int row = static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  if (row < 0) return;
  if (static_cast<size_t>(row) >= g_rows.size()) return;
  const transfer_log::LogRow shown = g_rows[row];
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

void OnNotify(NMHDR* header) {
  if (header->idFrom != IDC_LOG_LIST) return;
  if (header->code == LVN_GETDISPINFOA) OnGetCell(reinterpret_cast<NMLVDISPINFOA*>(header));
}

}  // namespace

void ShowLog(HINSTANCE instance, HWND owner, const std::string& help_file) {
  g_help_file = help_file;
  const int mode = app::CurrentMode();
  DialogBoxParamA(instance, mode == app::kSendMode ? "UPLOADLOG" : "DOWNLOG", owner, LogDlgFunc, mode);
  g_rows.clear();
  g_rows.shrink_to_fit();
}

INT_PTR CALLBACK LogDlgFunc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      OnInit(dialog, static_cast<int>(lparam));
      break;
    case WM_COMMAND:
      OnCommand(dialog, wparam);
      break;
    case WM_NOTIFY:
      OnNotify(reinterpret_cast<NMHDR*>(lparam));
      break;
    case WM_HELP:  // F1
      OnCommand(dialog, IDC_LOG_HELP);
      return TRUE;
  }
  return 0;
}

}  // namespace log_viewer
