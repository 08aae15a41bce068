// The main window in its two shapes: start-up, children, switches, closing.
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "settings/places.h"
#include "harness.h"
#include "platform/tasklist.h"
#include "settings/store.h"
#include "resources/parcelo32_ids.h"

using harness::DialogWatcher;
using harness::Pump;
using FullWindow = harness::WindowTest;
using DropWindow = harness::WindowTest;

namespace {

// Checks what tells the two shapes apart: the mode, the menu bar, the frame,
// the five children and the drop window's system menu items.
void ExpectShape(HWND window, int shape) {
  bool drop = shape == shell::kDropWindow;
  EXPECT_EQ(shape, shell::Globals().window_mode);
  EXPECT_EQ(drop, GetMenu(window) == nullptr);
  EXPECT_EQ(!drop, (GetWindowLongA(window, GWL_STYLE) & WS_MAXIMIZEBOX) != 0);
  for (UINT id : {IDM_SWITCHMODE, IDM_DROPHELP}) {
    EXPECT_EQ(drop, GetMenuState(GetSystemMenu(window, FALSE), id, MF_BYCOMMAND) != static_cast<UINT>(-1)) << id;
  }
  const shell::Children& c = shell::Globals().children;
  for (HWND child : {c.toolbar, c.status_bar, c.panel, c.mode_selector, c.task_list}) {
    ASSERT_TRUE(child);
    EXPECT_EQ(!drop, (GetWindowLongA(child, GWL_STYLE) & WS_VISIBLE) != 0);
  }
  if (drop) {
    RECT rect;
    GetWindowRect(window, &rect);
    EXPECT_EQ(100, rect.right - rect.left);
    EXPECT_EQ(90, rect.bottom - rect.top);
  }
}

// The text the tip control shows for the tool (owner, id).
std::string TipText(HWND tips, HWND owner, UINT_PTR id) {
  char text[256] = {};
  TOOLINFOA info = {};
  info.cbSize = sizeof info;
  info.hwnd = owner;
  info.uId = id;
  info.lpszText = text;
  SendMessageA(tips, TTM_GETTEXTA, sizeof text, reinterpret_cast<LPARAM>(&info));
  return text;
}

}  // namespace

TEST_F(FullWindow, StartsWithItsMenuFocusOnTheListAndAFlatToolbarWithTips) {
  ASSERT_TRUE(Open());
  ExpectShape(window, shell::kFullWindow);
  EXPECT_EQ("Parcelo(32) Task Default", harness::WindowText(window));
  EXPECT_EQ(Kids().task_list, GetFocus());  // arrows work at once
  // The tip comes from the window's own lookup, not from the control.
  HWND toolbar = Kids().toolbar;
  EXPECT_EQ("Stop file transfer",
            TipText(reinterpret_cast<HWND>(SendMessageA(toolbar, TB_GETTOOLTIPS, 0, 0)), toolbar, IDM_STOP));
  // Wine's common controls report 5.x, so the toolbar is flat.
  EXPECT_TRUE(GetWindowLongA(toolbar, GWL_STYLE) & TBSTYLE_FLAT);
}

TEST_F(FullWindow, LaysOutChildrenOnResizeButKeepsTheModeSelector) {
  Open();
  auto rect_in_client = [&](HWND child) {
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
  };
  const RECT before = rect_in_client(Kids().mode_selector);
  const int toolbar_height = shell::Globals().toolbar_height;
  EXPECT_GT(toolbar_height, 58);
  EXPECT_EQ(toolbar_height + 3, before.top);

  // A resize, a window only a few pixels high, then tall again: the list's
  // height is clamped at zero rather than handed to the control negative, the
  // strip and the mode selector keep their places and the status bar stays at
  // the bottom edge; a later resize lays everything out as before.
  for (const auto& [width, height] : {std::pair{700, 500}, {300, 20}, {300, 60}, {300, 500}}) {
    MoveWindow(window, 50, 50, width, height, TRUE);
    Pump();
    RECT client;
    GetClientRect(window, &client);
    SCOPED_TRACE(testing::Message() << "window " << width << "x" << height << ", client " << client.bottom);
    const RECT list = rect_in_client(Kids().task_list), panel = rect_in_client(Kids().panel);
    const RECT status = rect_in_client(Kids().status_bar), selector = rect_in_client(Kids().mode_selector);
    const int room = client.bottom - toolbar_height - shell::Globals().status_height - 36;
    using Edges = std::vector<LONG>;
    const auto shape = [](const RECT& r) { return Edges{r.top, r.bottom - r.top, r.right - r.left}; };
    EXPECT_EQ((Edges{toolbar_height + 36, room > 0 ? room : 0, client.right}), shape(list));
    EXPECT_EQ((Edges{toolbar_height, 36, client.right}), shape(panel));
    EXPECT_EQ((Edges{client.bottom, client.right}), (Edges{status.bottom, status.right - status.left}));
    EXPECT_EQ((Edges{before.left, before.top}), (Edges{selector.left, selector.top}));
  }
}

// A column dragged narrower than its text shows the whole text as a tip when
// the pointer rests on the cell; a cell shown whole has none.
TEST_F(FullWindow, ACutCellShowsItsWholeTextAsATip) {
  const std::string link = "ftp://h/pub/" + std::string(60, 'x') + ".zip";
  harness::WriteFile(dir.File("Default.rcv"), "03/14/26 09:00\tC:\\a.zip\tAwaiting_command\t" + link + "\r\n");
  Open();
  HWND list = Kids().task_list;
  const std::pair<int, std::string> cases[] = {{tasklist::kUrl, link}, {tasklist::kLocalFile, ""}};
  for (const auto& [column, tip] : cases) {
    RECT cell = {};
    cell.top = column;
    cell.left = LVIR_LABEL;
    ASSERT_TRUE(SendMessageA(list, LVM_GETSUBITEMRECT, 0, reinterpret_cast<LPARAM>(&cell)));
    POINT middle = {(cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2};
    ClientToScreen(list, &middle);
    SetCursorPos(middle.x, middle.y);
    EXPECT_EQ(tip, TipText(shell::CellTips(), window, reinterpret_cast<UINT_PTR>(list))) << column;
  }
}

// Widths come from the registry value Columns and go back to it when the
// window goes; a field that is no width leaves its column at 120.
TEST_F(FullWindow, ColumnWidthsAreKeptInTheRegistry) {
  registry.Set("Columns", "200,x,99999,,80");
  auto widths = [&] {
    std::vector<int> shown;
    for (int i = 0; i < 7; ++i) shown.push_back(static_cast<int>(SendMessageA(Kids().task_list, LVM_GETCOLUMNWIDTH, i, 0)));
    return shown;
  };
  Open();
  EXPECT_EQ((std::vector<int>{200, 120, 120, 120, 80, 120, 120}), widths());
  SendMessageA(Kids().task_list, LVM_SETCOLUMNWIDTH, 1, 333);  // as a drag of the divider ends
  Close();
  EXPECT_EQ("200,333,120,120,80,120,120", settings::ReadText("Columns", ""));
  Open();
  EXPECT_EQ((std::vector<int>{200, 333, 120, 120, 80, 120, 120}), widths());
}

TEST_F(FullWindow, StatusBarShowsMenuHelpAndClearsItWhenTheMenuCloses) {
  Open();
  HMENU menu = GetMenu(window);
  // in_drop_window: else the drop window shows nothing.
  const struct { UINT id, flags; const char* text; bool in_drop_window; } cases[] = {
      {IDM_RECEIVELATER, MF_STRING, "Schedule download at later time", true},
      {SC_SIZE, MF_STRING, "Change ftp window size", false},
      {4242, MF_STRING, "", true},
      {IDM_EXIT, MF_POPUP, "", true},  // a popup's position is not a command id
  };
  for (bool drop : {false, true}) {
    for (const auto& c : cases) {
      SendMessageA(window, WM_MENUSELECT, MAKEWPARAM(c.id, c.flags), reinterpret_cast<LPARAM>(menu));
      EXPECT_EQ(!drop || c.in_drop_window ? c.text : "", harness::StatusText()) << c.id << " drop " << drop;
      SendMessageA(window, WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);  // the menu closes
      EXPECT_EQ("", harness::StatusText());
    }
    Command(IDM_DROPWINDOW);
  }
}

TEST_F(FullWindow, AboutBoxReportsTotalPhysicalMemory) {
  Open();
  std::string memory_text;
  DialogWatcher watcher([&](HWND dialog) {
    memory_text = harness::WindowText(GetDlgItem(dialog, IDC_ABOUT_MEMORY));
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
  });
  Command(IDM_ABOUT);
  MEMORYSTATUSEX status = {};
  status.dwLength = sizeof status;
  ASSERT_TRUE(GlobalMemoryStatusEx(&status));
  EXPECT_EQ(std::to_string(status.ullTotalPhys) + " bytes total memory", memory_text);
  // The count must not stop at the 32-bit status's 2 GB cap (this machine
  // has more).
  EXPECT_GT(std::strtoull(memory_text.c_str(), nullptr, 10), 0x80000000ull) << memory_text;
}

// WindowMode 1 starts the drop window, on top as set; a double-click opens
// the full window, the command goes back, and the menu is loaded once.
TEST_F(DropWindow, StartsAsAFixedSizeTargetSwitchesBothWaysAndRemembersItsOwnMoves) {
  registry.Set("WindowMode", "1");
  for (const char* on_top : {"0", "1"}) {
    registry.Set("OnTop", on_top);
    ASSERT_TRUE(Open());
    ExpectShape(window, shell::kDropWindow);
    EXPECT_FALSE(shell::Globals().main_menu);
    EXPECT_EQ(on_top[0] == '1', (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0);
    // Dragging the frame cannot change the size.
    MINMAXINFO info = {};
    info.ptMaxTrackSize = {4000, 4000};
    SendMessageA(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(100, info.ptMinTrackSize.x);
    EXPECT_EQ(90, info.ptMaxTrackSize.y);
    EXPECT_EQ(100, info.ptMaxSize.x);
  }
  SendMessageA(window, WM_LBUTTONDBLCLK, 0, MAKELPARAM(20, 20));
  Pump();
  ExpectShape(window, shell::kFullWindow);
  RECT rect;
  GetWindowRect(window, &rect);
  EXPECT_EQ((std::vector<LONG>{100, 100, 600, 400}),
            (std::vector<LONG>{rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top}));
  HMENU loaded = GetMenu(window);
  EXPECT_EQ("Parcelo(32) Task Default", harness::WindowText(window));
  // Only the drop window's own moves are remembered, as the move notification
  // gives them: the client area's origin.
  const auto drop_at = [] { return std::vector<long>{shell::Globals().drop_x, shell::Globals().drop_y}; };
  const auto move_to = [&](int x, int y) {
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    Pump();
  };
  const std::vector<long> before = drop_at();
  move_to(250, 150);
  EXPECT_EQ(before, drop_at());
  Command(IDM_DROPWINDOW);
  Pump();
  ExpectShape(window, shell::kDropWindow);
  // Already a drop window: nothing happens, the system menu is not extended twice.
  int items = GetMenuItemCount(GetSystemMenu(window, FALSE));
  Command(IDM_DROPWINDOW);
  EXPECT_EQ(items, GetMenuItemCount(GetSystemMenu(window, FALSE)));
  move_to(300, 200);
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  EXPECT_EQ((std::vector<long>{origin.x, origin.y}), drop_at());
  SendMessageA(window, WM_LBUTTONDBLCLK, 0, MAKELPARAM(20, 20));
  Pump();
  EXPECT_EQ(loaded, GetMenu(window));
  move_to(20, 30);
  EXPECT_EQ((std::vector<long>{origin.x, origin.y}), drop_at());
  // A shutdown query destroys the window and agrees.
  EXPECT_EQ(1, SendMessageA(window, WM_QUERYENDSESSION, 0, 0));
  EXPECT_FALSE(IsWindow(window));
}

TEST(ProgramDirectory, IsTheCurrentDirectoryUnlessTheProgramIsRegistered) {
  char previous[MAX_PATH];
  GetCurrentDirectoryA(sizeof previous, previous);
  SetCurrentDirectoryA("C:\\");
  EXPECT_EQ("C:", shell::FindProgramDirectory());
  SetCurrentDirectoryA("C:\\windows");
  EXPECT_EQ("C:\\windows", shell::FindProgramDirectory());

  const char* key_path = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\parcelo32.exe";
  const char value[] = "C:\\Tools\\Parcelo\\parcelo32.exe";
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueA(HKEY_LOCAL_MACHINE, key_path, REG_SZ, value, sizeof value));
  EXPECT_EQ("C:\\Tools\\Parcelo", shell::FindProgramDirectory());
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, key_path);
  EXPECT_EQ("C:\\windows", shell::FindProgramDirectory());
  SetCurrentDirectoryA(previous);
}
