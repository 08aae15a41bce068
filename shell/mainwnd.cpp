// The main window: process entry, class, creation, the two shapes, painting,
// closing and destruction.
#include <windows.h>
#include <shellapi.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "settings/places.h"
#include "platform/prompts.h"
#include "platform/socket.h"
#include "platform/tasklist.h"
#include "platform/win32_owner.h"
#include "settings/dialup.h"
#include "settings/settings.h"
#include "settings/store.h"
#include "resources/parcelo32_ids.h"
#include "shell/shell.h"
#include "tasks/schedule.h"

namespace shell {

State& Globals() {
  static State state;
  return state;
}

namespace {

// Asks for the largest message queue the system grants, 96 down to 8.
bool SetUpMessageQueue() {
  for (int size = 96; size >= 8; size -= 8) {
    if (SetMessageQueue(size)) return true;
  }
  return false;
}

bool RegisterMainClass(HINSTANCE instance, int window_mode) {
  WNDCLASSA wc = {};
  bool drop = window_mode == kDropWindow;
  wc.style = drop ? kDropClassStyle : kFullClassStyle;
  wc.lpfnWndProc = MainWindowProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconA(instance, "down");
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(drop ? LTGRAY_BRUSH : WHITE_BRUSH));
  wc.lpszMenuName = drop ? nullptr : "File";
  wc.lpszClassName = kClassName;
  return RegisterClassA(&wc) != 0;
}

void SetClassShape(HWND window, UINT class_style, int stock_brush) {
  SetClassLongPtrA(window, GCL_STYLE, class_style);
  SetClassLongPtrA(window, GCLP_HBRBACKGROUND,
                   reinterpret_cast<LONG_PTR>(GetStockObject(stock_brush)));
}

void PaintDropWindow(HWND window) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  State& s = Globals();
  if (s.window_mode == kDropWindow) {
    HBITMAP bitmap = app::CurrentMode() == app::kSendMode ? s.upload_bitmap : s.download_bitmap;
    BITMAP info;
    if (bitmap && GetObjectA(bitmap, sizeof info, &info)) {
      HDC memory = CreateCompatibleDC(dc);
      HGDIOBJ old = SelectObject(memory, bitmap);
      BitBlt(dc, 16, 2, info.bmWidth, info.bmHeight, memory, 0, 0, SRCCOPY);
      SelectObject(memory, old);
      DeleteDC(memory);
    }
  }
  EndPaint(window, &ps);
}

void OnGetMinMaxInfo(MINMAXINFO* info) {
  info->ptMaxSize.x = kDropWidth;
  info->ptMaxSize.y = kDropHeight;
  info->ptMinTrackSize.x = kDropWidth;
  info->ptMinTrackSize.y = kDropHeight;
  info->ptMaxTrackSize.x = kDropWidth;
  info->ptMaxTrackSize.y = kDropHeight;
}

// The 32-bit memory status stops at 2 GB; the extended one counts every byte.
std::string TotalMemoryText() {
  MEMORYSTATUSEX status = {};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return std::string();
  char text[64];
  std::snprintf(text, sizeof text, "%llu bytes total memory",
                static_cast<unsigned long long>(status.ullTotalPhys));
  return text;
}

// Forgets the jobs whose workers have all ended; returns how many still run.
std::size_t KeepRunningJobs() {
  std::vector<jobs::JobHandle>& tracked = Globals().jobs;
  tracked.erase(std::remove_if(tracked.begin(), tracked.end(),
                               [](const jobs::JobHandle& job) { return job->Running() == 0; }),
                tracked.end());
  return tracked.size();
}

bool ConfirmExit(const char* question) {
  return MessageBoxA(Globals().main_window, question, "Message", MB_YESNO | MB_ICONINFORMATION | MB_TASKMODAL) !=
         IDNO;
}

// The drop window has its own topic; the full window opens the contents.
void OnHelpKey() {
  if (Globals().window_mode == kDropWindow) {
    OpenHelp(HELP_CONTEXT, HELP_CONTEXT_DROPWINDOW);
  } else {
    OpenHelp(HELP_CONTENTS, 0);
  }
}

// The child that had the keyboard focus when the window was last left; the
// task list until then, so that arrows work at once after start.
HWND g_focus_child = nullptr;

void RememberFocus() {
  HWND focus = GetFocus();
  g_focus_child = IsChild(Globals().main_window, focus) ? focus : nullptr;
}

// Gives the focus that reached the full window to the child that had it, or
// to the task list; false when the window keeps it (the drop window).
bool RestoreFocus() {
  const State& s = Globals();
  if (s.window_mode != kFullWindow || !s.children.task_list) return false;
  HWND target = g_focus_child && IsChild(s.main_window, g_focus_child) && IsWindowVisible(g_focus_child)
                    ? g_focus_child
                    : s.children.task_list;
  SetFocus(target);
  return true;
}

void OnMove(LPARAM lparam) {
  State& s = Globals();
  if (s.window_mode != kDropWindow) return;
  s.drop_x = static_cast<WORD>(LOWORD(lparam));
  s.drop_y = static_cast<WORD>(HIWORD(lparam));
}

}  // namespace

int ProcessEntry(HINSTANCE instance, int show_command) {
  if (!SetUpMessageQueue()) return -1;
  if (!net::Startup()) {
    MessageBoxA(nullptr, "Could not initialize socket start up", "Error", MB_OK | MB_ICONSTOP);
    return 0;
  }
  if (!CreateMainWindow(instance, show_command)) return 0;
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) ProcessLoopMessage(&msg);
  return static_cast<int>(msg.wParam);
}

void ProcessLoopMessage(MSG* msg) {
  const State& s = Globals();
  // The drop window hides the list: a Del there would delete rows unseen.
  bool keys_apply = s.accelerators && s.window_mode == kFullWindow &&
                    (msg->hwnd == s.main_window || IsChild(s.main_window, msg->hwnd));
  if (keys_apply && TranslateAcceleratorA(s.main_window, s.accelerators, msg)) return;
  TranslateMessage(msg);
  DispatchMessageA(msg);
}

HWND CreateMainWindow(HINSTANCE instance, int show_command) {
  State& s = Globals();
  s.window_mode = settings::ReadNumber("WindowMode", 0) == 1 ? kDropWindow : kFullWindow;
  // The class takes the shape of the window about to be created; one left by
  // an earlier window of this process (the tests make several) is replaced.
  UnregisterClassA(kClassName, instance);
  if (!RegisterMainClass(instance, s.window_mode)) return nullptr;
  bool drop = s.window_mode == kDropWindow;
  HWND window = CreateWindowExA(0, kClassName, kTitle, drop ? kDropStyleAtStart : kFullStyle,
                                CW_USEDEFAULT, CW_USEDEFAULT, drop ? kDropWidth : CW_USEDEFAULT,
                                drop ? kDropHeight : CW_USEDEFAULT, nullptr, nullptr, instance,
                                nullptr);
  if (!window) return nullptr;
  ShowWindow(window, show_command);
  UpdateWindow(window);
  return window;
}

void ExtendSystemMenu() {
  HMENU menu = GetSystemMenu(Globals().main_window, FALSE);
  AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(menu, MF_STRING, IDM_SWITCHMODE, "S&witch Mode");
  AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(menu, MF_STRING, IDM_DROPHELP, "&Help");
}

void ApplyOnTop() {
  HWND after = settings::Live().on_top ? HWND_TOPMOST : HWND_NOTOPMOST;
  SetWindowPos(Globals().main_window, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void SwitchToDropWindow() {
  State& s = Globals();
  if (s.window_mode != kFullWindow) return;
  s.window_mode = kDropWindow;
  HWND window = s.main_window;
  SetWindowLongPtrA(window, GWL_STYLE, kDropStyle);
  SetClassShape(window, kDropClassStyle, LTGRAY_BRUSH);
  ShowWindow(window, SW_SHOW);
  ShowChildren(false);
  SetMenu(window, nullptr);
  MoveWindow(window, s.drop_x, s.drop_y, kDropWidth, kDropHeight, TRUE);
  ExtendSystemMenu();
  ApplyOnTop();
}

void SwitchToFullWindow() {
  State& s = Globals();
  s.window_mode = kFullWindow;
  HWND window = s.main_window;
  SetWindowLongPtrA(window, GWL_STYLE, kFullStyle);
  SetClassShape(window, kFullClassStyle, WHITE_BRUSH);
  ShowWindow(window, SW_SHOWDEFAULT);
  if (!s.main_menu) s.main_menu = LoadMenuA(s.instance, "File");
  SetMenu(window, s.main_menu);
  MoveWindow(window, 100, 100, 600, 400, TRUE);
  ShowChildren(true);
  SendMessageA(s.children.mode_selector, CB_SETCURSEL, app::CurrentMode(), 0);
  InvalidateRect(window, nullptr, TRUE);
  UpdateWindow(window);
  LoadDefaultTask();
  GetSystemMenu(window, TRUE);
  SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void TrackJob(const jobs::JobHandle& job) {
  KeepRunningJobs();
  if (job && job->Running() > 0) Globals().jobs.push_back(job);
}

void OnClose() {
  State& s = Globals();
  // Leaving ends the transfers where they stand; their partial files stay
  // for a later job to resume.
  if (KeepRunningJobs() > 0 && !ConfirmExit("Your file transfer is in progress. Do you still want to exit?")) {
    return;
  }
  if (schedule::AnyMarked() &&
      !ConfirmExit("Your file transfer is scheduled at a later time. Do you still want to exit?")) {
    return;
  }
  CloseHandle(s.thread_event_receive);
  CloseHandle(s.thread_event_send);
  s.thread_event_receive = s.thread_event_send = nullptr;
  if (s.main_menu) {
    if (GetMenu(s.main_window) == s.main_menu) SetMenu(s.main_window, nullptr);
    DestroyMenu(s.main_menu);
    s.main_menu = nullptr;
  }
  ReleaseUserInterfaceResources();
}

void ReleaseUserInterfaceResources() {
  State& s = Globals();
  HICON icon = reinterpret_cast<HICON>(GetClassLongPtrA(s.main_window, GCLP_HICON));
  if (icon) DestroyIcon(icon);
  for (HBITMAP& bitmap : s.toolbar_bitmaps) {
    if (bitmap) DeleteObject(bitmap);
    bitmap = nullptr;
  }
  DestroyWindow(s.main_window);
}

void OnDestroy() {
  State& s = Globals();
  SaveColumnWidths();
  DestroyCellTips();
  net::Cleanup();
  settings::UnloadDialupLibrary();
  PostQuitMessage(0);
  RevokeDropTarget(s.main_window);
  if (s.children.panel && s.panel_previous_proc) {
    SetWindowLongPtrA(s.children.panel, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(s.panel_previous_proc));
  }
  if (s.download_bitmap) DeleteObject(s.download_bitmap);
  if (s.upload_bitmap) DeleteObject(s.upload_bitmap);
  if (s.panel_brush) DeleteObject(s.panel_brush);
  tasklist::Install(nullptr);
  win32::SetPromptOwner(nullptr);
  schedule::ForgetAll();
  g_focus_child = nullptr;
  s = State();
}

bool SelectionChanged(const NMHDR* header) {
  if (header->idFrom != IDC_TASKLIST || header->code != LVN_ITEMCHANGED) return false;
  const auto* item = reinterpret_cast<const NMLISTVIEW*>(header);
  return (item->uChanged & LVIF_STATE) && ((item->uNewState ^ item->uOldState) & (LVIS_SELECTED | LVIS_FOCUSED));
}

void OnNotify(HWND window, NMHDR* header) {
  State& s = Globals();
  if (SelectionChanged(header) && !s.cause_check_posted) {
    s.cause_check_posted = PostMessageA(window, kCauseCheckMessage, 0, 0) != 0;
  }
  if (!ToolbarTooltip(header)) CellTip(header);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  State& s = Globals();
  switch (message) {
    case WM_CREATE:
      RunStartup(window);
      SetTimer(window, kCauseTimerId, kCauseTimerMs, nullptr);
      return 0;
    case WM_DESTROY:
      OnDestroy();
      return 0;
    case WM_MOVE:
      OnMove(lparam);
      return 0;
    case WM_SIZE:
      if (wparam != SIZE_MINIMIZED) LayoutChildren();
      return 0;
    case WM_PAINT:
      PaintDropWindow(window);
      return 0;
    case WM_CLOSE:
      OnClose();
      return 0;
    case WM_QUERYENDSESSION:
      ReleaseUserInterfaceResources();
      return 1;
    case WM_GETMINMAXINFO:
      if (s.window_mode != kDropWindow) break;
      OnGetMinMaxInfo(reinterpret_cast<MINMAXINFO*>(lparam));
      return 0;
    case WM_NOTIFY:
      OnNotify(window, reinterpret_cast<NMHDR*>(lparam));
      return 0;
    case kCauseCheckMessage:
      s.cause_check_posted = false;
      ShowSelectedRowCause();
      return 0;
    case WM_COMMAND:
      OnCommand(window, wparam, lparam);
      return 0;
    case WM_SYSCOMMAND:
      if (OnSystemCommand(wparam)) return 0;
      break;
    case WM_TIMER:
      if (wparam == kCauseTimerId) {
        ShowSelectedRowCause();
      } else {
        OnScheduleTimer(window, wparam);
      }
      return 0;
    case WM_MENUSELECT:
      ShowMenuHelp(LOWORD(wparam), HIWORD(wparam), reinterpret_cast<HMENU>(lparam));
      return 0;
    case WM_MOUSEMOVE:
      return 0;
    case WM_LBUTTONDBLCLK:
      if (s.window_mode != kDropWindow) break;
      SwitchToFullWindow();
      return 0;
    case WM_DROPFILES:
      OnDropFiles(window, reinterpret_cast<HDROP>(wparam));
      return 0;
    case WM_HELP:  // F1 in the window or one of its children
      OnHelpKey();
      return TRUE;
    case WM_ACTIVATE:
      if (LOWORD(wparam) == WA_INACTIVE) RememberFocus();
      break;
    case WM_SETFOCUS:
      if (RestoreFocus()) return 0;
      break;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

INT_PTR CALLBACK AboutDlgFunc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SetDlgItemTextA(dialog, IDC_ABOUT_MEMORY, TotalMemoryText().c_str());
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wparam));
        return TRUE;
      }
      break;
    case WM_CLOSE:
      EndDialog(dialog, 0);
      return TRUE;
  }
  return FALSE;
}

}  // namespace shell
