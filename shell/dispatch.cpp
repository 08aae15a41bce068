// Command dispatch of the main window: menu items, toolbar buttons, the mode
// selector and the drop window's system menu items.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <string>

#include "settings/places.h"
#include "engine/jobs.h"
#include "platform/fs.h"
#include "platform/tasklist.h"
#include "settings/config_sheet_win32.h"
#include "resources/parcelo32_ids.h"
#include "shell/shell.h"
#include "tasks/entries.h"
#include "tasks/log_dialog_win32.h"

namespace shell {
namespace {

constexpr size_t kTaskNameLimit = 1027;

// The dialog makes the named task current and shows it.
void OnNewTask(HWND window) {
  DialogBoxParamA(Globals().instance, "NEWTASKNAME", window, GetTaskNameDlgFunc, 0);
}

void OnOpenTask(HWND window) {
  SetCurrentDirectoryA(app::ProgramDirectory().c_str());
  bool send = app::CurrentMode() == app::kSendMode;
  char file[1031] = {};
  char title[1031] = {};
  OPENFILENAMEA ofn = {};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = window;
  ofn.lpstrFilter = send ? "Upload task (*.snd)\0*.snd\0" : "Download task (*.rcv)\0*.rcv\0";
  ofn.lpstrFile = file;
  ofn.nMaxFile = sizeof file;
  ofn.lpstrFileTitle = title;
  ofn.nMaxFileTitle = sizeof title;
  ofn.lpstrTitle = send ? "Open Upload Task" : "Open Download Task";
  ofn.Flags = OFN_LONGNAMES | OFN_NOREADONLYRETURN | OFN_FILEMUSTEXIST;
  if (GetOpenFileNameA(&ofn)) entries::OpenTask(file);
}

void OnEditItem(HWND window) {
  if (tasklist::Current().RowCount() == 0) {
    MessageBoxA(window, "No item in listbox", "Info", MB_OK | MB_TASKMODAL);
    return;
  }
  OpenEditDialog(window);
}

void OnSelectAll() {
  HWND list = Globals().children.task_list;
  SetFocus(list);
  int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  if (count == 0) return;
  // Index -1 changes every row in one message; the focus ends on the last.
  // Redrawn once, not row by row.
  tasklist::Current().SetRedraw(false);
  LVITEMA item = {};
  item.stateMask = LVIS_SELECTED | LVIS_CUT | LVIS_DROPHILITED;
  item.state = LVIS_SELECTED;
  SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
  item.stateMask = item.state = LVIS_FOCUSED;
  SendMessageA(list, LVM_SETITEMSTATE, count - 1, reinterpret_cast<LPARAM>(&item));
  tasklist::Current().SetRedraw(true);
}

void OnModeSelector(WPARAM wparam) {
  if (HIWORD(wparam) != CBN_SELCHANGE) return;
  LRESULT selection = SendMessageA(Globals().children.mode_selector, CB_GETCURSEL, 0, 0);
  if (selection == 0 || selection == 1) ChangeMode(static_cast<int>(selection), true);
}

void ToggleModeInDropWindow() {
  State& s = Globals();
  if (s.window_mode != kDropWindow) return;
  int mode = app::CurrentMode() == app::kSendMode ? app::kReceiveMode : app::kSendMode;
  app::SetCurrentMode(mode);
  DragAcceptFiles(s.main_window, mode == app::kSendMode);
  ShowModeButtons(mode);
  InvalidateRect(s.main_window, nullptr, TRUE);
  UpdateWindow(s.main_window);
  LoadDefaultTask();
}

// The walker gives the task list the keyboard focus once an entry starts.
void OnJobStarted(const jobs::JobHandle& job) {
  TrackJob(job);
  if (!job->StartedRows().empty()) SetFocus(Globals().children.task_list);
}

// "nul.rcv" would swallow every entry written to it and "COM1.rcv" would
// open the serial port and hang the window.
bool RefusedDeviceTaskName(HWND dialog, const std::string& name) {
  const std::string device = fs::DeviceComponent(name);
  if (device.empty()) return false;
  MessageBoxA(dialog, ("A task cannot be named after a device: " + device).c_str(), "Error",
              MB_OK | MB_ICONSTOP | MB_TASKMODAL);
  return true;
}

}  // namespace

void LoadDefaultTask() { entries::OpenTask(app::DefaultTaskPath(app::CurrentMode())); }

void ChangeMode(int mode, bool from_selector) {
  State& s = Globals();
  app::SetCurrentMode(mode);
  ShowModeButtons(mode);
  if (!from_selector) SendMessageA(s.children.mode_selector, CB_SETCURSEL, mode, 0);
  LoadDefaultTask();
  DragAcceptFiles(s.main_window, mode == app::kSendMode);
}

void OpenHelp(UINT command, ULONG_PTR data) {
  WinHelpA(Globals().main_window, Globals().help_file_path.c_str(), command, data);
}

void OnCommand(HWND window, WPARAM wparam, LPARAM lparam) {
  switch (LOWORD(wparam)) {
    case IDM_NEWTASK:
      OnNewTask(window);
      break;
    case IDM_OPENTASK:
      OnOpenTask(window);
      break;
    case IDM_EXIT:
      PostMessageA(window, WM_CLOSE, 0, 0);
      break;
    case IDM_EDIT:
      OnEditItem(window);
      break;
    case IDM_DELETE:
      jobs::DeleteSelectedRows();
      break;
    case IDM_SELECTALL:
      OnSelectAll();
      break;
    case IDM_RECEIVE:
      OnJobStarted(jobs::StartReceiveJob(std::string()));
      break;
    case IDM_SEND:
      OnJobStarted(jobs::StartSendJob(std::string()));
      break;
    case IDM_RECEIVELATER:
      ScheduleTransfer(window, app::kReceiveMode);
      break;
    case IDM_SENDLATER:
      ScheduleTransfer(window, app::kSendMode);
      break;
    case IDM_STOP:
      jobs::StopSelectedTransfer();
      break;
    case IDM_DROPWINDOW:
      SwitchToDropWindow();
      break;
    case IDM_HELPCONTENTS:
      OpenHelp(HELP_CONTENTS, 0);
      break;
    case IDM_SHOWLOG:
      log_viewer::ShowLog(Globals().instance, window, Globals().help_file_path);
      break;
    case IDM_CONFIG:
      settings::OpenConfiguration(Globals().instance, window, app::ProgramDirectory(), Globals().help_file_path);
      jobs::ApplyLimits();
      break;
    case IDM_ABOUT:
      DialogBoxParamA(Globals().instance, "ABOUT", window, AboutDlgFunc, 0);
      break;
    case IDC_MODESELECTOR:
      OnModeSelector(wparam);
      break;
    case IDM_NEW:
    case IDM_BROWSE:
      OpenNewDialog(window);
      break;
    case IDM_PASTE:
      OnPaste(window);
      break;
    default:
      DefWindowProcA(window, WM_COMMAND, wparam, lparam);
      break;
  }
}

bool OnSystemCommand(WPARAM wparam) {
  switch (LOWORD(wparam)) {
    case IDM_SWITCHMODE:
      ToggleModeInDropWindow();
      return true;
    case IDM_DROPHELP:
      OpenHelp(HELP_CONTEXT, HELP_CONTEXT_DROPWINDOW);
      return true;
  }
  return false;
}

INT_PTR CALLBACK GetTaskNameDlgFunc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SendDlgItemMessageA(dialog, IDC_TASKNAME, EM_LIMITTEXT, kTaskNameLimit, 0);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK) {
        char name[kTaskNameLimit + 1] = {};
        GetDlgItemTextA(dialog, IDC_TASKNAME, name, sizeof name);
        if (!name[0]) {
          MessageBeep(0);
          return TRUE;
        }
        if (RefusedDeviceTaskName(dialog, name)) return TRUE;
        // A task whose file already exists is loaded, so that rows and lines
        // stay aligned; otherwise the list starts empty.
        entries::NewTask(name);
        EndDialog(dialog, 1);
        return TRUE;
      }
      if (LOWORD(wparam) == IDCANCEL) {
        EndDialog(dialog, 0);
        return TRUE;
      }
      break;
  }
  return FALSE;
}

}  // namespace shell
