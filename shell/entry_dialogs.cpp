// The Enter URL dialog (NEWDIALOG) and the edit dialog (EDITDIALOG).
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "settings/places.h"
#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/tasklist.h"
#include "resources/parcelo32_ids.h"
#include "shell/shell.h"
#include "tasks/entries.h"
#include "tasks/entry_rules.h"
#include "tasks/taskfile.h"
#include "tasks/url.h"

namespace shell {
namespace {

constexpr int kUrlBuffer = 1024;
constexpr int kTaskLineLimit = 1022;
constexpr INT_PTR kNoAssociation = 31;  // ShellExecute: no program for the type

// Lives while one Enter URL dialog is open (the dialogs are modal).
std::vector<std::string> upload_history;

std::string ControlText(HWND dialog, int id, int limit) {
  std::vector<char> text(static_cast<size_t>(limit) + 1, '\0');
  GetDlgItemTextA(dialog, id, text.data(), limit + 1);
  return text.data();
}

std::string HistoryPath() { return app::ProgramDirectory() + "\\url.txt"; }

bool SendModeDialog() { return app::CurrentMode() == app::kSendMode; }

void InitNewDialog(HWND dialog) {
  const bool send = SendModeDialog();
  ShowWindow(GetDlgItem(dialog, IDC_NEW_URL), send ? SW_HIDE : SW_SHOW);
  ShowWindow(GetDlgItem(dialog, IDC_NEW_HISTORY), send ? SW_SHOW : SW_HIDE);
  SendDlgItemMessageA(dialog, IDC_NEW_URL, EM_LIMITTEXT, kUrlBuffer - 1, 0);
  SendDlgItemMessageA(dialog, IDC_NEW_HISTORY, CB_LIMITTEXT, kUrlBuffer - 1, 0);
  upload_history.clear();
  if (!send) return;
  if (entry_rules::ReadHistory(HistoryPath(), &upload_history) < 0) return;
  for (const std::string& line : upload_history) {
    SendDlgItemMessageA(dialog, IDC_NEW_HISTORY, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
  }
  SendDlgItemMessageA(dialog, IDC_NEW_HISTORY, CB_SETCURSEL, 0, 0);
}

// Receive mode: the URL becomes an entry. An entry AddEntry refuses (it says
// why) keeps the dialog open, so that the user can mend the URL.
void OnNewReceiveOk(HWND dialog) {
  const std::string text = LinkText(dialog, IDC_NEW_URL);
  url::Record record;
  std::string display;
  std::string stored;
  if (url::Parse(text, &record, &display, &stored) != 0) {
    MessageBeep(0);
    return;
  }
  EnteredUrl() = display;
  if (entries::AddEntry(display, record.path, stored) != 0) return;
  EndDialog(dialog, 1);
}

void OnNewSendOk(HWND dialog) {
  const std::string text = entry_rules::AsDirectoryUrl(LinkText(dialog, IDC_NEW_HISTORY));
  url::Record record;
  if (url::ParseForEditing(text, &record) != 0) {
    MessageBeep(0);
    MessageBoxA(dialog, "Bad URL", "Message", MB_OK | MB_ICONINFORMATION | MB_TASKMODAL);
    return;
  }
  EnteredUrl() = text;
  if (entry_rules::RememberUrl(HistoryPath(), &upload_history, text) == 1) {
    SendDlgItemMessageA(dialog, IDC_NEW_HISTORY, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  EndDialog(dialog, 1);
}

void OnNewBrowse(HWND dialog) {
  const int visible = SendModeDialog() ? IDC_NEW_HISTORY : IDC_NEW_URL;
  std::string text = ControlText(dialog, visible, kUrlBuffer - 1);
  text = text.empty() ? std::string("ftp://") : entry_rules::AsDirectoryUrl(text);
  const INT_PTR result =
      reinterpret_cast<INT_PTR>(ShellExecuteA(dialog, "open", text.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (result == kNoAssociation) {
    MessageBoxA(dialog, "No executable is associated with this file type", "Warning", MB_OK | MB_TASKMODAL);
  }
}

// The edit dialog's state; it lives while the dialog is open.
struct EditState {
  int entry_count = 0;  // the selected rows, or all rows
  int cursor = 0;       // position among those entries
  bool edit_all = false;
  tasklist::RowId shown_row = tasklist::kNoRow;
  std::string shown_line;  // the task line as read when it was shown
  std::string status_word;
};

EditState& Edit(HWND dialog) { return *reinterpret_cast<EditState*>(GetWindowLongPtrA(dialog, DWLP_USER)); }

// The list index of the cursor-th entry being edited, or -1.
int RowAtCursor(const EditState& state) {
  tasklist::Port& list = tasklist::Current();
  const int rows = list.RowCount();
  const bool all = state.edit_all || list.SelectedCount() == rows;
  int seen = 0;
  for (int row = 0; row < rows; ++row) {
    if (!all && !list.IsSelected(row)) continue;
    if (seen++ == state.cursor) return row;
  }
  return -1;
}

void ShowEntry(HWND dialog, EditState* state) {
  const int row = RowAtCursor(*state);
  const std::string title =
      "Edit Item " + std::to_string(state->cursor + 1) + " of " + std::to_string(state->entry_count);
  SetWindowTextA(dialog, title.c_str());
  state->shown_row = tasklist::Current().IdOf(row);
  state->shown_line = taskfile::ReadEntryLine(app::CurrentTaskPath(), row);
  const taskfile::TaskLine line = taskfile::SplitTaskLine(state->shown_line);
  state->status_word = line.status_word;
  SetDlgItemTextA(dialog, IDC_EDIT_URL, line.url.c_str());
  url::Record record;
  const bool parsed = url::Parse(line.url, &record, nullptr, nullptr) == 0;
  SendDlgItemMessageA(dialog, IDC_EDIT_PROTOCOL, CB_SETCURSEL, parsed ? record.protocol : -1, 0);
  SetDlgItemTextA(dialog, IDC_EDIT_HOST, record.host.c_str());
  SetDlgItemTextA(dialog, IDC_EDIT_PORT, record.port_text.c_str());
  SetDlgItemTextA(dialog, IDC_EDIT_USER, record.user.c_str());
  SetDlgItemTextA(dialog, IDC_EDIT_PASSWORD, record.password.c_str());
  SetDlgItemTextA(dialog, IDC_EDIT_REMOTE, record.path.c_str());
  SetDlgItemTextA(dialog, IDC_EDIT_LOCAL, line.local_file.c_str());
}

void InitEditDialog(HWND dialog, EditState* state) {
  SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
  tasklist::Port& list = tasklist::Current();
  const int selected = list.SelectedCount();
  state->edit_all = selected == 0;
  state->entry_count = state->edit_all ? list.RowCount() : selected;
  state->cursor = 0;
  // In the order of the protocol codes: the list is indexed by them.
  for (const char* protocol : {"ftp", "http", "https"}) {
    SendDlgItemMessageA(dialog, IDC_EDIT_PROTOCOL, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(protocol));
  }
  ShowEntry(dialog, state);
  // The backup of the task as it was when the dialog opened.
  CopyFileA(app::CurrentTaskPath().c_str(), (app::ProgramDirectory() + "\\urltemp.txt").c_str(), FALSE);
}

void OnEditScroll(HWND dialog, WPARAM wparam) {
  EditState& state = Edit(dialog);
  const int request = LOWORD(wparam);
  if (request == SB_LINEUP && state.cursor < state.entry_count - 1) {
    ++state.cursor;
  } else if (request == SB_LINEDOWN && state.cursor >= 1) {
    --state.cursor;
  } else {
    return;
  }
  ShowEntry(dialog, &state);
}

// A line that reads back as other fields than those written would shift or
// merge the task's entries.
bool LineReadsBack(const std::string& line, const std::string& local_file, const std::string& url_field) {
  if (line.size() > static_cast<size_t>(kTaskLineLimit)) return false;
  if (line.find_first_of("\r\n") != std::string::npos) return false;
  const taskfile::TaskLine fields = taskfile::SplitTaskLine(line);
  return fields.local_file == local_file && fields.url == url_field;
}

// The link the edit dialog's fields make, as a task keeps it (without CR LF),
// and its display form; false when it is no link Parse accepts as composed
// (a port of letters would be dropped and the entry would go to port 80).
bool ComposedLink(HWND dialog, std::string* display, std::string* url_field) {
  const std::string port = LinkText(dialog, IDC_EDIT_PORT);
  std::string stored;
  url::Compose(ControlText(dialog, IDC_EDIT_PROTOCOL, 23), LinkText(dialog, IDC_EDIT_USER),
               LinkText(dialog, IDC_EDIT_PASSWORD), LinkText(dialog, IDC_EDIT_HOST), port,
               LinkText(dialog, IDC_EDIT_REMOTE), display, &stored);
  *url_field = stored;
  while (!url_field->empty() && (url_field->back() == '\n' || url_field->back() == '\r')) url_field->pop_back();
  url::Record record;
  return url::Parse(*url_field, &record, nullptr, nullptr) == 0 && record.port_text == port;
}

// A local file that names a device would take the download and keep nothing.
bool RefuseDeviceFile(HWND dialog, const std::string& local_file) {
  const std::string device = fs::DeviceComponent(local_file);
  if (device.empty()) return false;
  MessageBoxA(dialog, ("The local file names a device: " + device).c_str(), "Error",
              MB_OK | MB_ICONSTOP | MB_TASKMODAL);
  return true;
}

void OnEditOk(HWND dialog) {
  EditState& state = Edit(dialog);
  std::string display;
  std::string url_field;
  if (!ComposedLink(dialog, &display, &url_field)) {
    MessageBeep(0);
    MessageBoxA(dialog, "Bad link", "Error", MB_OK | MB_ICONSTOP | MB_TASKMODAL);
    return;
  }
  const std::string local_file = ControlText(dialog, IDC_EDIT_LOCAL, 1030);
  if (RefuseDeviceFile(dialog, local_file)) return;
  const std::string line = entries::FormatEntryDate(clock_seam::Now()) + "\t" + local_file + "\t" +
                           state.status_word + "\t" + url_field;
  if (!LineReadsBack(line, local_file, url_field)) {
    MessageBoxA(dialog, "The entry does not fit a task line: a field is too long or holds a TAB.", "Error",
                MB_OK | MB_ICONSTOP | MB_TASKMODAL);
    return;
  }
  // The row the dialog showed, wherever it stands now, and only while its
  // line is still the one shown.
  int result = 1;
  tasklist::Current().WithRow(state.shown_row, [&](int row) {
    if (row >= 0) {
      result = taskfile::ReplaceEntryLineIf(app::CurrentTaskPath(), row, state.shown_line, line + "\r\n");
    }
  });
  if (result == -1) {
    MessageBoxA(dialog, ("Cannot write the task file " + app::CurrentTaskPath()).c_str(), "Error",
                MB_OK | MB_ICONSTOP | MB_TASKMODAL);
    return;
  }
  if (result == 1) {
    MessageBoxA(dialog, "The entry was changed or removed while the dialog was open; nothing was written.",
                "Error", MB_OK | MB_ICONSTOP | MB_TASKMODAL);
    EndDialog(dialog, 0);
    return;
  }
  EnteredUrl() = display;
  entries::LoadTask(app::CurrentTaskPath());
  EndDialog(dialog, 1);
}

}  // namespace

std::string Utf8FromWide(const wchar_t* text, int length) {
  if (length <= 0) return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text, length, &utf8[0], size, nullptr, nullptr);
  return utf8;
}

std::string LinkText(HWND dialog, int id) {
  std::vector<wchar_t> text(kUrlBuffer + 1, L'\0');
  const int length = GetDlgItemTextW(dialog, id, text.data(), kUrlBuffer + 1);
  return url::FromTypedLink(Utf8FromWide(text.data(), length));
}

std::string& EnteredUrl() {
  static std::string entered;
  return entered;
}

INT_PTR CALLBACK NewDlgFunc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      InitNewDialog(dialog);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case IDOK:
          if (SendModeDialog()) {
            OnNewSendOk(dialog);
          } else {
            OnNewReceiveOk(dialog);
          }
          return TRUE;
        case IDCANCEL:
          EndDialog(dialog, 0);
          return TRUE;
        case IDC_NEW_BROWSE:
          OnNewBrowse(dialog);
          return TRUE;
        case IDC_NEW_HELP:
          OpenHelp(HELP_CONTEXT, HELP_CONTEXT_NEWURL);
          return TRUE;
      }
      break;
    case WM_HELP:  // F1
      OpenHelp(HELP_CONTEXT, HELP_CONTEXT_NEWURL);
      return TRUE;
  }
  return FALSE;
}

INT_PTR CALLBACK EditDlgFunc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      InitEditDialog(dialog, reinterpret_cast<EditState*>(lparam));
      return TRUE;
    case WM_VSCROLL:
      OnEditScroll(dialog, wparam);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case IDOK:
          OnEditOk(dialog);
          return TRUE;
        // The dialog writes nothing before OK, so Cancel leaves the task file
        // as it is now, rewrites by running transfers included.
        case IDCANCEL:
          EndDialog(dialog, 0);
          return TRUE;
        case IDC_EDIT_HELP:
          OpenHelp(HELP_CONTEXT, HELP_CONTEXT_EDIT);
          return TRUE;
      }
      break;
    case WM_HELP:  // F1
      OpenHelp(HELP_CONTEXT, HELP_CONTEXT_EDIT);
      return TRUE;
  }
  return FALSE;
}

INT_PTR OpenEditDialog(HWND owner) {
  EditState state;
  return DialogBoxParamA(Globals().instance, "EDITDIALOG", owner, EditDlgFunc, reinterpret_cast<LPARAM>(&state));
}

INT_PTR OpenNewDialog(HWND owner) { return DialogBoxParamA(Globals().instance, "NEWDIALOG", owner, NewDlgFunc, 0); }

}  // namespace shell
