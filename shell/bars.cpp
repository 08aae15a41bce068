// The five child windows of the full window: toolbar, status bar, panel strip,
// mode selector and task list; their layout, tooltips and menu help.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "settings/places.h"
#include "platform/tasklist.h"
#include "settings/store.h"
#include "resources/parcelo32_ids.h"
#include "shell/shell.h"
#include "shell/tasklist_view.h"

namespace shell {
namespace {

struct ButtonInfo {
  const char* label;
  int command;
  const char* tooltip;
};

constexpr ButtonInfo kButtons[kToolbarButtons] = {
    {"New", IDM_NEW, "Enter new URL"},
    {"Edit", IDM_EDIT, "Edit selected entries"},
    {"Paste", IDM_PASTE, "Paste copied URL from clipboard"},
    {"Delete", IDM_DELETE, "Remove selected URL from list"},
    {"Config", IDM_CONFIG, "Edit Configuration"},
    {"Log", IDM_SHOWLOG, "Show log"},
    {"Receive", IDM_RECEIVE, "Download file(s)"},
    {"Send", IDM_SEND, "Upload file(s)"},
    {"Browse", IDM_BROWSE, "Browse local/remote files"},
    {"Stop", IDM_STOP, "Stop file transfer"},
    {"Exit", IDM_EXIT, "Exit from program"},
    {"Help", IDM_HELPCONTENTS, "Help"},
};

const char* const kColumnHeaders[tasklist::kColumnCount] = {
    "Local file",           "URL",  "Status", "Bytes Tansferred /Filesize", "Time Elapsed/Remaining",
    "Rate(BPS)",            "Date",
};

// Menu help: either a string resource or a literal text.
struct MenuHelp {
  UINT id;
  UINT string_id;  // 0: use text
  const char* text;
  bool full_only;
};

constexpr MenuHelp kMenuHelp[] = {
    {IDM_EXIT, IDS_EXIT, nullptr, false},
    {IDM_PASTE, 0, "Paste a URL", false},
    {IDM_DELETE, 0, "Delete a URL", false},
    {IDM_CONFIG, 0, "Edit configuration", false},
    {IDM_NEW, 0, "Enter a new URL", false},
    {IDM_SHOWLOG, 0, "Show log", false},
    {IDM_SELECTALL, 0, "Selects all items in the listbox", false},
    {IDM_EDIT, 0, "Edit an entry in listbox", false},
    {IDM_RECEIVE, IDS_RECEIVE, nullptr, false},
    {IDM_SEND, 0, "Upload file to host", false},
    {IDM_RECEIVELATER, 0, "Schedule download at later time", false},
    {IDM_SENDLATER, 0, "Schedule upload at later time", false},
    {IDM_ABOUT, IDS_ABOUT, nullptr, false},
    {IDM_HELPCONTENTS, IDS_HELP, nullptr, false},
    {IDM_BROWSE, 0, "Browse local/remote files", false},
    {IDM_NEWTASK, 0, "Create a new task", false},
    {IDM_OPENTASK, 0, "Open an existing task", false},
    {IDM_DROPWINDOW, 0, "Switch to drop window", false},
    {SC_SIZE, IDS_SIZE, nullptr, true},
    {SC_MOVE, IDS_MOVE, nullptr, true},
    {SC_MINIMIZE, IDS_MINIMIZE, nullptr, true},
    {SC_MAXIMIZE, IDS_MAXIMIZE, nullptr, true},
    {SC_CLOSE, IDS_CLOSE, nullptr, true},
    {SC_RESTORE, IDS_RESTORE, nullptr, true},
    {SC_TASKLIST, IDS_TASKLIST, nullptr, true},
};

// Product version of comctl32.dll from its version resource; false when it
// has none.
bool CommonControlsVersion(DWORD* major, DWORD* minor) {
  char name[] = "comctl32.dll";
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeA(name, &handle);
  if (size == 0) return false;
  std::vector<char> data(size);
  if (!GetFileVersionInfoA(name, 0, size, data.data())) return false;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  char root[] = "\\";
  if (!VerQueryValueA(data.data(), root, reinterpret_cast<void**>(&info), &length) || !info) {
    return false;
  }
  *major = HIWORD(info->dwProductVersionMS);
  *minor = LOWORD(info->dwProductVersionMS);
  return true;
}

bool WantFlatToolbar() {
  DWORD major = 0, minor = 0;
  return CommonControlsVersion(&major, &minor) && ToolbarIsFlatForVersion(major, minor);
}

void AddToolbarButtons(HWND toolbar) {
  State& s = Globals();
  SendMessageA(toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  SendMessageA(toolbar, TB_SETBITMAPSIZE, 0, MAKELONG(32, 32));
  TBBUTTON buttons[kToolbarButtons] = {};
  for (int i = 0; i < kToolbarButtons; ++i) {
    TBADDBITMAP bitmap = {nullptr, reinterpret_cast<UINT_PTR>(s.toolbar_bitmaps[i])};
    SendMessageA(toolbar, TB_ADDBITMAP, 1, reinterpret_cast<LPARAM>(&bitmap));
    // Two terminating NULs: the add-strings message then takes exactly one string.
    char label[16] = {};
    std::strncpy(label, kButtons[i].label, sizeof label - 2);
    SendMessageA(toolbar, TB_ADDSTRINGA, 0, reinterpret_cast<LPARAM>(label));
    buttons[i].iBitmap = i;
    buttons[i].idCommand = kButtons[i].command;
    buttons[i].fsState = TBSTATE_ENABLED;
    buttons[i].fsStyle = TBSTYLE_BUTTON;
    buttons[i].iString = i;
  }
  SendMessageA(toolbar, TB_ADDBUTTONSA, kToolbarButtons, reinterpret_cast<LPARAM>(buttons));
  SendMessageA(toolbar, TB_SETBUTTONSIZE, 0, MAKELONG(48, 58));
}

HWND CreateToolbar(HWND main_window, HINSTANCE instance, bool visible) {
  bool flat = WantFlatToolbar();
  INITCOMMONCONTROLSEX init = {sizeof init, ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&init);
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | TBSTYLE_TOOLTIPS;
  HWND toolbar = CreateWindowExA(0, TOOLBARCLASSNAMEA, nullptr, style, 0, 0, 0, 0, main_window,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(-1)), instance, nullptr);
  if (!toolbar) return nullptr;
  AddToolbarButtons(toolbar);
  if (visible) ShowWindow(toolbar, SW_SHOW);
  SendMessageA(toolbar, TB_AUTOSIZE, 0, 0);
  if (visible) ShowWindow(toolbar, SW_SHOW);
  if (flat) SetWindowLongPtrA(toolbar, GWL_STYLE, GetWindowLongPtrA(toolbar, GWL_STYLE) | TBSTYLE_FLAT);
  return toolbar;
}

int HeightInParent(HWND child, HWND parent) {
  RECT rect;
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  return rect.bottom - rect.top;
}

LRESULT CALLBACK PanelStripProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  State& s = Globals();
  if (message != WM_PAINT) {
    return CallWindowProcA(s.panel_previous_proc, window, message, wparam, lparam);
  }
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  RECT rect;
  GetClientRect(window, &rect);
  FillRect(dc, &rect, s.panel_brush);
  HGDIOBJ old_pen = SelectObject(dc, GetStockObject(BLACK_PEN));
  MoveToEx(dc, 0, 0, nullptr);
  LineTo(dc, rect.right, 0);
  SelectObject(dc, GetStockObject(WHITE_PEN));
  MoveToEx(dc, 0, 1, nullptr);
  LineTo(dc, rect.right, 1);
  SelectObject(dc, old_pen);
  EndPaint(window, &ps);
  return 0;
}

HWND CreateChild(const char* class_name, const char* text, DWORD style, int x, int y, int w, int h,
                 HWND parent, int id, HINSTANCE instance) {
  return CreateWindowExA(0, class_name, text, WS_CHILD | style, x, y, w, h, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
}

}  // namespace

bool ToolbarIsFlatForVersion(DWORD major, DWORD minor) { return major >= 5 || (major == 4 && minor >= 72); }

void CreateChildWindows(HWND main_window, HINSTANCE instance) {
  State& s = Globals();
  bool full = s.window_mode == kFullWindow;
  DWORD visible = full ? WS_VISIBLE : 0;
  Children& c = s.children;

  c.toolbar = CreateToolbar(main_window, instance, full);
  c.status_bar = CreateStatusWindowA(WS_CHILD | SBARS_SIZEGRIP | visible, "", main_window, IDC_STATUSBAR);

  RECT client;
  GetClientRect(main_window, &client);
  s.toolbar_height = c.toolbar ? HeightInParent(c.toolbar, main_window) : 0;
  RECT status_rect = {};
  if (c.status_bar) GetClientRect(c.status_bar, &status_rect);
  s.status_height = status_rect.bottom - status_rect.top;

  c.panel = CreateChild("STATIC", nullptr, visible, 0, s.toolbar_height, client.right, kPanelHeight,
                        main_window, -1, instance);
  s.panel_previous_proc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(c.panel, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PanelStripProc)));

  c.mode_selector = CreateChild("COMBOBOX", "List", visible | CBS_DROPDOWNLIST | CBS_HASSTRINGS | WS_VSCROLL,
                                0, s.toolbar_height + 3, 100, 64, main_window, IDC_MODESELECTOR, instance);
  SendMessageA(c.mode_selector, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Receive"));
  SendMessageA(c.mode_selector, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Send"));
  SendMessageA(c.mode_selector, CB_SETCURSEL, 0, 0);
  app::SetCurrentMode(app::kReceiveMode);

  int list_height = client.bottom - s.toolbar_height - s.status_height - kPanelHeight;
  c.task_list = CreateChild(WC_LISTVIEWA, nullptr,
                            visible | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER | WS_BORDER, 0,
                            s.toolbar_height + kPanelHeight, client.right, list_height, main_window,
                            IDC_TASKLIST, instance);
  InstallTaskListView(c.task_list, main_window);
  CreateCellTips(main_window, c.task_list);
  ShowModeButtons(app::kReceiveMode);
}

namespace {

constexpr int kDefaultColumnWidth = 120;
// A kept width beyond this is no width a user dragged to: the default is used.
constexpr int kWidestColumn = 4000;
constexpr char kColumnsValue[] = "Columns";
// Room the list leaves around a cell's text (its margins), measured as the
// list view draws it.
constexpr int kCellMargin = 12;

// The widths kept in the registry value Columns ("120,300,..."), one per
// column; a missing or unreadable one is the default.
std::vector<int> KeptColumnWidths() {
  std::vector<int> widths(tasklist::kColumnCount, kDefaultColumnWidth);
  const std::string text = settings::ReadText(kColumnsValue, "");
  size_t position = 0;
  for (int& width : widths) {
    if (position >= text.size()) break;
    const size_t comma = std::min(text.find(',', position), text.size());
    const std::string field = text.substr(position, comma - position);
    const bool digits = !field.empty() && field.size() < 6 && field.find_first_not_of("0123456789") == std::string::npos;
    if (digits && std::stoi(field) <= kWidestColumn) width = std::stoi(field);
    position = comma + 1;
  }
  return widths;
}

HWND g_cell_tip = nullptr;
POINT g_tip_cell = {-1, -1};  // row and column the tip last spoke of

// The cell under the pointer, as row (x) and column (y); -1 when none.
POINT CellAtPointer(HWND list) {
  LVHITTESTINFO hit = {};
  GetCursorPos(&hit.pt);
  ScreenToClient(list, &hit.pt);
  if (SendMessageA(list, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)) < 0 || !(hit.flags & LVHT_ONITEM)) {
    return POINT{-1, -1};
  }
  return POINT{hit.iItem, hit.iSubItem};
}

// The whole text of the cell under the pointer when its column is too narrow
// to show it, else an empty text (no tip).
std::string CutCellText(HWND list) {
  const POINT cell = CellAtPointer(list);
  g_tip_cell = cell;
  if (cell.x < 0) return std::string();
  const std::string text = tasklist::Current().GetCell(cell.x, cell.y);
  const int needed = static_cast<int>(SendMessageA(list, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(text.c_str())));
  const int width = static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, cell.y, 0));
  return needed + kCellMargin > width ? text : std::string();
}

}  // namespace

void SaveColumnWidths() {
  HWND list = Globals().children.task_list;
  if (!list) return;
  std::string text;
  for (int i = 0; i < tasklist::kColumnCount; ++i) {
    if (i) text += ',';
    text += std::to_string(SendMessageA(list, LVM_GETCOLUMNWIDTH, i, 0));
  }
  settings::WriteText(kColumnsValue, text);
}

// One tool over the whole list, its text asked for each time it shows: the
// cut cell under the pointer. The tip has no owner: a tooltip is topmost,
// and a topmost window drags its owner along, which would keep the main
// window on top whatever OnTop says.
void CreateCellTips(HWND main_window, HWND list) {
  g_cell_tip = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
  TOOLINFOA tool = {};
  tool.cbSize = sizeof tool;
  // The list relays its mouse messages itself (RelayListMouse): a subclassing
  // tool sees every message of the list, and under Wine that made each row
  // a task inserts or deletes cost about a millisecond.
  tool.uFlags = TTF_IDISHWND;
  tool.hwnd = main_window;
  tool.uId = reinterpret_cast<UINT_PTR>(list);
  tool.lpszText = LPSTR_TEXTCALLBACKA;
  SendMessageA(g_cell_tip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
  SendMessageA(g_cell_tip, TTM_SETMAXTIPWIDTH, 0, 600);
}

HWND CellTips() { return g_cell_tip; }

void DestroyCellTips() {
  if (g_cell_tip) DestroyWindow(g_cell_tip);
  g_cell_tip = nullptr;
}

void RelayListMouse(HWND list, UINT message, WPARAM wparam, LPARAM lparam) {
  if (!g_cell_tip || message < WM_MOUSEFIRST || message > WM_MOUSELAST) return;
  if (message == WM_MOUSEMOVE) {
    const POINT cell = CellAtPointer(list);
    if (cell.x != g_tip_cell.x || cell.y != g_tip_cell.y) SendMessageA(g_cell_tip, TTM_POP, 0, 0);
  }
  MSG relayed = {};
  relayed.hwnd = list;
  relayed.message = message;
  relayed.wParam = wparam;
  relayed.lParam = lparam;
  SendMessageA(g_cell_tip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relayed));
}

bool CellTip(NMHDR* header) {
  HWND list = Globals().children.task_list;
  if (!header || header->code != TTN_GETDISPINFOA || header->idFrom != reinterpret_cast<UINT_PTR>(list)) return false;
  static std::string shown;  // lives until the tip asks again
  shown = CutCellText(list);
  reinterpret_cast<NMTTDISPINFOA*>(header)->lpszText = const_cast<char*>(shown.c_str());
  return true;
}

bool InsertColumns() {
  HWND list = Globals().children.task_list;
  const std::vector<int> widths = KeptColumnWidths();
  for (int i = 0; i < tasklist::kColumnCount; ++i) {
    LVCOLUMNA column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = widths[i];
    column.pszText = const_cast<char*>(kColumnHeaders[i]);
    column.iSubItem = i;
    if (SendMessageA(list, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&column)) == -1) return false;
  }
  return true;
}

void ShowModeButtons(int mode) {
  HWND toolbar = Globals().children.toolbar;
  bool send = mode == app::kSendMode;
  SendMessageA(toolbar, TB_HIDEBUTTON, IDM_SEND, MAKELONG(!send, 0));
  SendMessageA(toolbar, TB_HIDEBUTTON, IDM_RECEIVE, MAKELONG(send, 0));
}

void LayoutChildren() {
  State& s = Globals();
  const Children& c = s.children;
  if (!c.task_list) return;  // sizes arrive before the children exist
  RECT client;
  GetClientRect(s.main_window, &client);
  int list_height = client.bottom - s.toolbar_height - s.status_height - kPanelHeight;
  MoveWindow(c.task_list, 0, s.toolbar_height + kPanelHeight, client.right, list_height, TRUE);
  SendMessageA(c.toolbar, TB_AUTOSIZE, 0, 0);
  SendMessageA(c.status_bar, WM_SIZE, 0, 0);
  MoveWindow(c.panel, 0, s.toolbar_height, client.right, kPanelHeight, TRUE);
}

void ShowChildren(bool show) {
  const Children& c = Globals().children;
  for (HWND child : {c.toolbar, c.status_bar, c.panel, c.mode_selector, c.task_list}) {
    if (child) ShowWindow(child, show ? SW_SHOWNORMAL : SW_HIDE);
  }
}

bool ToolbarTooltip(NMHDR* header) {
  if (!header || header->code != TTN_GETDISPINFOA) return false;
  auto* info = reinterpret_cast<NMTTDISPINFOA*>(header);
  for (const ButtonInfo& button : kButtons) {
    if (static_cast<UINT_PTR>(button.command) == header->idFrom) {
      info->lpszText = const_cast<char*>(button.tooltip);
      return true;
    }
  }
  return false;
}

void ShowMenuHelp(UINT item, UINT flags, HMENU menu) {
  State& s = Globals();
  char text[512] = {};
  bool closing = flags == 0xFFFF && menu == nullptr;
  if (!closing && !(flags & MF_POPUP)) {
    for (const MenuHelp& help : kMenuHelp) {
      if (help.id != item) continue;
      if (help.full_only && s.window_mode != kFullWindow) break;
      if (help.string_id) {
        LoadStringA(s.instance, help.string_id, text, sizeof text);
      } else {
        std::strncpy(text, help.text, sizeof text - 1);
      }
      break;
    }
  }
  SendMessageA(s.children.status_bar, SB_SETTEXTA, 0 | SBT_NOBORDERS, reinterpret_cast<LPARAM>(text));
  if (closing) s.shown_cause.clear();  // the next check writes the cause again
}

void ShowSelectedRowCause() {
  State& s = Globals();
  HWND list = s.children.task_list;
  if (!list || !s.children.status_bar) return;
  int row = ListView_GetNextItem(list, -1, LVNI_FOCUSED | LVNI_SELECTED);
  if (row < 0) row = ListView_GetNextItem(list, -1, LVNI_SELECTED);
  const std::string cause = row < 0 ? std::string() : jobs::CauseOfRow(tasklist::Current().IdOf(row));
  if (cause == s.shown_cause) return;
  s.shown_cause = cause;
  SendMessageA(s.children.status_bar, SB_SETTEXTA, 0 | SBT_NOBORDERS, reinterpret_cast<LPARAM>(cause.c_str()));
}

}  // namespace shell
