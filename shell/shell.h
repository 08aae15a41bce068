// The transfer program's shell: process-wide window state and the operations
// that the window procedure, the start-up sequence and the bars share.
// User-interface thread only, except where noted.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "engine/jobs.h"

namespace shell {

enum WindowMode : int { kFullWindow = 0, kDropWindow = 1 };

constexpr char kClassName[] = "myprog";
constexpr char kTitle[] = "Parcelo(32)";
constexpr DWORD kFullStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
constexpr DWORD kDropStyleAtStart =
    WS_BORDER | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kDropStyle = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr UINT kFullClassStyle = 0x3003;
constexpr UINT kDropClassStyle = 0x300B;
constexpr int kDropWidth = 100;
constexpr int kDropHeight = 90;
constexpr int kToolbarButtons = 12;
constexpr int kPanelHeight = 36;

// The five child windows, in creation order.
struct Children {
  HWND toolbar = nullptr;
  HWND status_bar = nullptr;
  HWND panel = nullptr;
  HWND mode_selector = nullptr;
  HWND task_list = nullptr;
};

struct State {
  int window_mode = kFullWindow;
  HINSTANCE instance = nullptr;
  HWND main_window = nullptr;
  HMENU main_menu = nullptr;
  HACCEL accelerators = nullptr;  // the Edit menu's keys, resource "Keys"
  int drop_x = 0;
  int drop_y = 0;
  HBITMAP download_bitmap = nullptr;
  HBITMAP upload_bitmap = nullptr;
  HBITMAP toolbar_bitmaps[kToolbarButtons] = {};
  HBRUSH panel_brush = nullptr;
  HANDLE thread_event_receive = nullptr;
  HANDLE thread_event_send = nullptr;
  Children children;
  int toolbar_height = 0;
  int status_height = 0;
  WNDPROC panel_previous_proc = nullptr;
  std::string help_file_path;
  // The cause last written into the status bar for the selected row.
  std::string shown_cause;
  bool cause_check_posted = false;
  // Jobs started from this window whose workers may still run; closing
  // asks while one does.
  std::vector<jobs::JobHandle> jobs;
};

State& Globals();

// Process entry: message queue, sockets, class, window, message loop.
int ProcessEntry(HINSTANCE instance, int show_command);

// Reads WindowMode, registers the class (once per process) and creates and shows
// the main window. Returns the window, or nullptr.
HWND CreateMainWindow(HINSTANCE instance, int show_command);

// One message of the main loop: the Edit menu's keys (Del, Ctrl+A) for the
// full window and its children, then translate and dispatch. Keys meant for
// other windows, such as an edit control of a dialog, pass untouched.
void ProcessLoopMessage(MSG* msg);

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Start-up sequence run by the creation message. Returns false when the
// program must end (quit already posted).
bool RunStartup(HWND window);
std::string FindProgramDirectory();

// Window shapes.
void SwitchToDropWindow();
void SwitchToFullWindow();
void ExtendSystemMenu();
void ApplyOnTop();

// Closing and destruction.
// Remembers a job started from the window while it has workers running.
void TrackJob(const jobs::JobHandle& job);
void OnClose();
void ReleaseUserInterfaceResources();
void OnDestroy();

// Bars and list.
void CreateChildWindows(HWND main_window, HINSTANCE instance);
bool InsertColumns();
void ShowModeButtons(int mode);
void LayoutChildren();
void ShowChildren(bool show);
bool ToolbarTooltip(NMHDR* header);
// Column widths: read from the registry value Columns when the columns are
// made, written back when the window goes.
void SaveColumnWidths();
// The tip that shows a cell's whole text when its column cuts it: its
// tooltip window, the list's mouse messages relayed to it (a new cell under
// the pointer asks anew), and its text request.
void CreateCellTips(HWND main_window, HWND list);
HWND CellTips();
void DestroyCellTips();
void RelayListMouse(HWND list, UINT message, WPARAM wparam, LPARAM lparam);
bool CellTip(NMHDR* header);
void ShowMenuHelp(UINT item, UINT flags, HMENU menu);
// The status bar tells why the selected row's transfer ended as it did (the
// cause the jobs keep), or nothing. Called when the selection changes and on
// kCauseTimerId, since a transfer may end while its row stays selected; only
// a change is written, so a menu's help line stays while the menu is open.
constexpr UINT_PTR kCauseTimerId = 0x7FFF;  // above every schedule timer id
constexpr UINT kCauseTimerMs = 500;
// Posted once for any number of selection changes (Select All of a big task
// changes every row): the check then runs once.
constexpr UINT kCauseCheckMessage = WM_APP + 2;
void ShowSelectedRowCause();
bool ToolbarIsFlatForVersion(DWORD major, DWORD minor);

// Commands.
void OnCommand(HWND window, WPARAM wparam, LPARAM lparam);
bool OnSystemCommand(WPARAM wparam);
void ChangeMode(int mode, bool from_selector);
void LoadDefaultTask();
void OpenHelp(UINT command, ULONG_PTR data);
// Receive Later / Send Later in the given mode, and the tick of a
// scheduled job's window timer.
void ScheduleTransfer(HWND window, int mode);
void OnScheduleTimer(HWND window, UINT_PTR timer_id);
INT_PTR CALLBACK AboutDlgFunc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK GetTaskNameDlgFunc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Entry dialogs. The Enter URL dialog returns 1 on OK: in receive mode the
// entry is added, in send mode EnteredUrl() holds the destination URL
// (ending in '/'). The edit dialog returns 1 when it rewrote an entry.
INT_PTR CALLBACK NewDlgFunc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK EditDlgFunc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR OpenNewDialog(HWND owner);
INT_PTR OpenEditDialog(HWND owner);
// The URL the last Enter URL or edit dialog confirmed (display form).
std::string& EnteredUrl();
// Text the user typed or pasted, taken as UTF-16 so that no character is lost
// to the ANSI code page, in UTF-8 for the portable link code.
std::string Utf8FromWide(const wchar_t* text, int length);
// A control's text as a link: UTF-8, then url::FromTypedLink.
std::string LinkText(HWND dialog, int id);

// Drag-and-drop and the clipboard. The drop target is registered only when
// OLE initialises afresh on the thread; revoking undoes exactly that.
IDropTarget* NewDropTarget();
void RegisterDropTarget(HWND window);
void RevokeDropTarget(HWND window);
// Uploads of dropped files (send mode only); releases the drop handle.
void OnDropFiles(HWND window, HDROP drop);
void OnPaste(HWND window);

}  // namespace shell
