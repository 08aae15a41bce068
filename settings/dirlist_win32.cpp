#include "settings/dirlist_win32.h"

#include <vector>

#include "settings/dirlist.h"
#include "resources/dirlist_ids.h"

namespace dirlist {
namespace {

// The longest path handed to DlgDirList, with its NUL.
constexpr int kPathBytes = 1031;

// User-interface thread only: one chooser is open at a time.
std::string g_chosen;
bool g_pending_selection = false;

std::string LongName(const std::string& name) {
  WIN32_FIND_DATAA found = {};
  HANDLE search = FindFirstFileA(name.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return std::string();
  FindClose(search);
  return found.cFileName;
}

std::vector<std::string> RawEntries(HWND raw) {
  std::vector<std::string> entries;
  const int count = static_cast<int>(SendMessageA(raw, LB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    const LRESULT length = SendMessageA(raw, LB_GETTEXTLEN, i, 0);
    if (length == LB_ERR) continue;
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    SendMessageA(raw, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<std::size_t>(length));
    entries.push_back(text);
  }
  return entries;
}

// Lets the user scroll to the end of the widest entry.
void SetHorizontalExtent(HWND list, const std::vector<std::string>& entries) {
  HDC dc = GetDC(list);
  HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(list, WM_GETFONT, 0, 0)));
  LONG widest = 0;
  for (const std::string& entry : entries) {
    SIZE size = {};
    GetTextExtentPoint32A(dc, entry.c_str(), static_cast<int>(entry.size()), &size);
    if (size.cx > widest) widest = size.cx;
  }
  SelectObject(dc, previous);
  ReleaseDC(list, dc);
  SendMessageA(list, LB_SETHORIZONTALEXTENT, widest, 0);
}

// Lists path (empty: the current directory), which DlgDirList also makes
// the current directory, and offers its directories and the drives.
void List(HWND dialog, const std::string& path) {
  char text[kPathBytes] = {};
  path.copy(text, sizeof text - 1);
  DlgDirListA(dialog, text, IDC_DIRLIST_RAW, IDC_DIRLIST_PATH, DDL_DIRECTORY | DDL_DRIVES);
  HWND visible = GetDlgItem(dialog, IDC_DIRLIST_VISIBLE);
  SendMessageA(visible, LB_RESETCONTENT, 0, 0);
  const std::vector<std::string> entries =
      VisibleEntries(RawEntries(GetDlgItem(dialog, IDC_DIRLIST_RAW)), LongName);
  for (const std::string& entry : entries) {
    SendMessageA(visible, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
  }
  SetHorizontalExtent(visible, entries);
}

void Navigate(HWND dialog) {
  char selection[kPathBytes] = {};
  if (!DlgDirSelectExA(dialog, selection, sizeof selection - 1, IDC_DIRLIST_VISIBLE) && selection[0] == '\0') {
    return;
  }
  std::string path = selection;
  if (IsBareDrive(path)) path += "\\";
  List(dialog, path);
}

void Accept(HWND dialog) {
  char current[kPathBytes] = {};
  GetCurrentDirectoryA(sizeof current, current);
  g_chosen = AcceptedText(current);
  EndDialog(dialog, 1);
}

void OnOk(HWND dialog) {
  const LRESULT selected = SendDlgItemMessageA(dialog, IDC_DIRLIST_VISIBLE, LB_GETCURSEL, 0, 0);
  if (selected != LB_ERR && g_pending_selection) {
    g_pending_selection = false;
    Navigate(dialog);
  } else {
    Accept(dialog);
  }
}

void OnCommand(HWND dialog, WPARAM wparam) {
  switch (LOWORD(wparam)) {
    case IDOK:
      OnOk(dialog);
      break;
    case IDCANCEL:
      EndDialog(dialog, 0);
      break;
    case IDC_DIRLIST_VISIBLE:
      if (HIWORD(wparam) == LBN_SELCHANGE) g_pending_selection = true;
      if (HIWORD(wparam) == LBN_DBLCLK) Navigate(dialog);
      break;
  }
}

}  // namespace

INT_PTR CALLBACK OpenDirDlgFunc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      g_pending_selection = true;
      List(dialog, std::string());
      return TRUE;
    case WM_COMMAND:
      OnCommand(dialog, wparam);
      return TRUE;
    case WM_CLOSE:
      EndDialog(dialog, 0);
      return TRUE;
  }
  return FALSE;
}

const std::string& ChosenDirectory() { return g_chosen; }

INT_PTR ChooseDirectory(HINSTANCE instance, HWND owner, std::string* chosen) {
  const INT_PTR result = DialogBoxParamA(instance, "DIRLIST", owner, OpenDirDlgFunc, 0);
  if (result == 1) *chosen = g_chosen;
  return result == 1 ? 1 : 0;
}

}  // namespace dirlist
