// The main window in its two shapes: start-up, children, switches, closing.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "harness.h"
#include "shell/ids.h"
#include "shell/shell.h"

using harness::DialogWatcher;
using harness::MainWindow;
using harness::Pump;
using harness::RegistryValues;
using harness::TempProgramDir;

namespace {

SIZE WindowSize(HWND window) {
  RECT rect;
  GetWindowRect(window, &rect);
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

bool HasSystemMenuItem(HWND window, UINT id) {
  HMENU menu = GetSystemMenu(window, FALSE);
  return GetMenuState(menu, id, MF_BYCOMMAND) != static_cast<UINT>(-1);
}

std::string ColumnHeader(HWND list, int index) {
  char text[256] = {};
  LVCOLUMNA column = {};
  column.mask = LVCF_TEXT;
  column.pszText = text;
  column.cchTextMax = sizeof text;
  if (!SendMessageA(list, LVM_GETCOLUMNA, index, reinterpret_cast<LPARAM>(&column))) return "<none>";
  return text;
}

RECT ClientRectOf(HWND child, HWND parent) {
  RECT rect;
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

const shell::Children& Kids() { return shell::Globals().children; }

// Checks what tells the two shapes apart: the mode, the menu bar, the class,
// the frame, the five children and the drop window's system menu items.
void ExpectShape(HWND window, int shape) {
  bool drop = shape == shell::kDropWindow;
  EXPECT_EQ(shape, shell::Globals().window_mode);
  EXPECT_EQ(drop, GetMenu(window) == nullptr);
  EXPECT_EQ(drop ? 0x300Bu : 0x3003u, GetClassLongA(window, GCL_STYLE));
  EXPECT_EQ(!drop, (GetWindowLongA(window, GWL_STYLE) & WS_MAXIMIZEBOX) != 0);
  EXPECT_EQ(drop, HasSystemMenuItem(window, IDM_SWITCHMODE));
  EXPECT_EQ(drop, HasSystemMenuItem(window, IDM_DROPHELP));
  const shell::Children& c = Kids();
  for (HWND child : {c.toolbar, c.status_bar, c.panel, c.mode_selector, c.task_list}) {
    ASSERT_TRUE(child);
    EXPECT_EQ(!drop, (GetWindowLongA(child, GWL_STYLE) & WS_VISIBLE) != 0);
  }
  if (drop) {
    SIZE size = WindowSize(window);
    EXPECT_EQ(100, size.cx);
    EXPECT_EQ(90, size.cy);
  }
}

std::string StatusText() {
  char text[512] = {};
  SendMessageA(Kids().status_bar, SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text));
  return text;
}

void Command(HWND window, int id) { SendMessageA(window, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

}  // namespace

TEST(FullWindow, StartsWithMenuSevenColumnsAndTwelveButtons) {
  TempProgramDir dir;
  MainWindow main;
  HWND window = main.hwnd();
  ASSERT_TRUE(window);

  char class_name[32] = {};
  GetClassNameA(window, class_name, sizeof class_name);
  EXPECT_STREQ("myprog", class_name);
  ExpectShape(window, shell::kFullWindow);
  EXPECT_EQ(GetMenu(window), shell::Globals().main_menu);
  EXPECT_EQ("Parcelo(32) Task Default", harness::WindowText(window));

  const char* headers[] = {"Local file", "URL", "Status", "Bytes Tansferred /Filesize",
                           "Time Elapsed/Remaining", "Rate(BPS)", "Date"};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(headers[i], ColumnHeader(Kids().task_list, i)) << i;
  EXPECT_EQ("<none>", ColumnHeader(Kids().task_list, 7));
  EXPECT_EQ(14, GetDlgCtrlID(Kids().task_list));
  EXPECT_EQ(20, GetDlgCtrlID(Kids().status_bar));
  EXPECT_EQ(1110, GetDlgCtrlID(Kids().mode_selector));

  HWND toolbar = Kids().toolbar;
  ASSERT_EQ(12, SendMessageA(toolbar, TB_BUTTONCOUNT, 0, 0));
  const int commands[] = {119, 990, 112, 115, 118, 120, 2000, 2003, 11842, 2002, 11, 5006};
  const char* labels[] = {"New",     "Edit",   "Paste", "Delete", "Config", "Log",
                          "Receive", "Send",   "Browse", "Stop",  "Exit",   "Help"};
  for (int i = 0; i < 12; ++i) {
    TBBUTTON button = {};
    SendMessageA(toolbar, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&button));
    EXPECT_EQ(commands[i], button.idCommand) << i;
    EXPECT_EQ(i, button.iBitmap) << i;
    char label[64] = {};
    SendMessageA(toolbar, TB_GETBUTTONTEXTA, commands[i], reinterpret_cast<LPARAM>(label));
    EXPECT_STREQ(labels[i], label);
  }
  LRESULT size = SendMessageA(toolbar, TB_GETBUTTONSIZE, 0, 0);
  EXPECT_EQ(48, LOWORD(size));
  EXPECT_EQ(58, HIWORD(size));
  EXPECT_FALSE(SendMessageA(toolbar, TB_ISBUTTONHIDDEN, 2000, 0));
  EXPECT_TRUE(SendMessageA(toolbar, TB_ISBUTTONHIDDEN, 2003, 0));
  // Wine's common controls report 5.x, so the toolbar is flat.
  EXPECT_TRUE(GetWindowLongA(toolbar, GWL_STYLE) & TBSTYLE_FLAT);

  EXPECT_EQ(2, SendMessageA(Kids().mode_selector, CB_GETCOUNT, 0, 0));
  EXPECT_EQ(0, SendMessageA(Kids().mode_selector, CB_GETCURSEL, 0, 0));
}

TEST(FullWindow, FlatToolbarFollowsCommonControlsVersion) {
  EXPECT_FALSE(shell::ToolbarIsFlatForVersion(4, 71));
  EXPECT_TRUE(shell::ToolbarIsFlatForVersion(4, 72));
  EXPECT_TRUE(shell::ToolbarIsFlatForVersion(5, 0));
  EXPECT_FALSE(shell::ToolbarIsFlatForVersion(4, 0));
}

TEST(FullWindow, LaysOutChildrenOnResizeButKeepsTheModeSelector) {
  TempProgramDir dir;
  MainWindow main;
  HWND window = main.hwnd();
  RECT before = ClientRectOf(Kids().mode_selector, window);
  MoveWindow(window, 50, 50, 700, 500, TRUE);
  Pump();
  RECT client;
  GetClientRect(window, &client);
  RECT list = ClientRectOf(Kids().task_list, window);
  int toolbar_height = shell::Globals().toolbar_height;
  EXPECT_GT(toolbar_height, 58);
  EXPECT_EQ(toolbar_height + 36, list.top);
  EXPECT_EQ(client.right, list.right - list.left);
  EXPECT_EQ(client.bottom - toolbar_height - shell::Globals().status_height - 36, list.bottom - list.top);
  RECT panel;
  GetWindowRect(Kids().panel, &panel);
  EXPECT_EQ(client.right, panel.right - panel.left);
  EXPECT_EQ(36, panel.bottom - panel.top);

  RECT after = ClientRectOf(Kids().mode_selector, window);
  EXPECT_EQ(before.left, after.left);
  EXPECT_EQ(before.top, after.top);
  EXPECT_EQ(toolbar_height + 3, after.top);

  // A window only a few pixels high still lays out.
  MoveWindow(window, 50, 50, 300, 20, TRUE);
  Pump();
  EXPECT_TRUE(IsWindow(window));
}

TEST(DropWindow, StartsAsFixedSizeTargetWhenWindowModeIsOneOnTopAsSet) {
  TempProgramDir dir;
  for (const char* on_top : {"0", "1"}) {
    RegistryValues values;
    values.Set("WindowMode", "1");
    values.Set("OnTop", on_top);
    MainWindow main;
    HWND window = main.hwnd();
    ASSERT_TRUE(window);
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
}

TEST(DropWindow, SwitchesBothWaysAndReusesOneMenu) {
  TempProgramDir dir;
  RegistryValues values;
  values.Set("WindowMode", "1");
  MainWindow main;
  HWND window = main.hwnd();

  SendMessageA(window, WM_LBUTTONDBLCLK, 0, MAKELPARAM(20, 20));
  Pump();
  ExpectShape(window, shell::kFullWindow);
  RECT rect;
  GetWindowRect(window, &rect);
  EXPECT_EQ(100, rect.left);
  EXPECT_EQ(100, rect.top);
  EXPECT_EQ(600, rect.right - rect.left);
  EXPECT_EQ(400, rect.bottom - rect.top);
  HMENU loaded = GetMenu(window);
  EXPECT_EQ("Parcelo(32) Task Default", harness::WindowText(window));

  Command(window, IDM_DROPWINDOW);
  Pump();
  ExpectShape(window, shell::kDropWindow);

  // Already a drop window: nothing happens, the system menu is not extended twice.
  Command(window, IDM_DROPWINDOW);
  int items = GetMenuItemCount(GetSystemMenu(window, FALSE));
  Command(window, IDM_DROPWINDOW);
  EXPECT_EQ(items, GetMenuItemCount(GetSystemMenu(window, FALSE)));

  SendMessageA(window, WM_LBUTTONDBLCLK, 0, MAKELPARAM(20, 20));
  Pump();
  EXPECT_EQ(loaded, GetMenu(window));
}

TEST(DropWindow, RemembersOnlyItsOwnMoves) {
  TempProgramDir dir;
  MainWindow main;
  HWND window = main.hwnd();
  SetWindowPos(window, nullptr, 250, 150, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  Pump();
  EXPECT_EQ(0, shell::Globals().drop_x);
  EXPECT_EQ(0, shell::Globals().drop_y);

  Command(window, IDM_DROPWINDOW);
  Pump();
  SetWindowPos(window, nullptr, 300, 200, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  Pump();
  // The move notification carries the client area's origin.
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  EXPECT_EQ(origin.x, shell::Globals().drop_x);
  EXPECT_EQ(origin.y, shell::Globals().drop_y);

  SendMessageA(window, WM_LBUTTONDBLCLK, 0, 0);
  SetWindowPos(window, nullptr, 20, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  Pump();
  EXPECT_EQ(origin.x, shell::Globals().drop_x);
  EXPECT_EQ(origin.y, shell::Globals().drop_y);
}

TEST(Toolbar, TooltipsNameEachButtonsAction) {
  TempProgramDir dir;
  MainWindow main;
  HWND toolbar = Kids().toolbar;
  HWND tips = reinterpret_cast<HWND>(SendMessageA(toolbar, TB_GETTOOLTIPS, 0, 0));
  ASSERT_TRUE(tips);
  auto tooltip = [&](int command) {
    char text[256] = {};
    TOOLINFOA info = {};
    info.cbSize = sizeof info;
    info.hwnd = toolbar;
    info.uId = command;
    info.lpszText = text;
    SendMessageA(tips, TTM_GETTEXTA, sizeof text, reinterpret_cast<LPARAM>(&info));
    return std::string(text);
  };
  EXPECT_EQ("Stop file transfer", tooltip(IDM_STOP));
  EXPECT_EQ("Help", tooltip(IDM_HELPCONTENTS));
  EXPECT_EQ("Enter new URL", tooltip(IDM_NEW));
  EXPECT_EQ("Upload file(s)", tooltip(IDM_SEND));
}

TEST(StatusBar, ShowsMenuHelpAndClearsItWhenTheMenuCloses) {
  TempProgramDir dir;
  MainWindow main;
  HWND window = main.hwnd();
  HMENU menu = GetMenu(window);
  struct Case {
    UINT id;
    UINT flags;
    const char* full;  // text in the full window
    const char* drop;  // text in the drop window
  };
  const Case cases[] = {
      {IDM_RECEIVELATER, MF_STRING, "Schedule download at later time", "Schedule download at later time"},
      {IDM_EXIT, MF_STRING, "Exit from this program", "Exit from this program"},
      {IDM_RECEIVE, MF_STRING, "Download files from remote", "Download files from remote"},
      {IDM_HELPCONTENTS, MF_STRING, "Display context sensitive help", "Display context sensitive help"},
      {IDM_ABOUT, MF_STRING, "About this program", "About this program"},
      {IDM_SEND, MF_STRING, "Upload file to host", "Upload file to host"},
      {SC_SIZE, MF_STRING, "Change ftp window size", ""},
      {SC_TASKLIST, MF_STRING, "Switch to another task", ""},
      {4242, MF_STRING, "", ""},
      {IDM_EXIT, MF_POPUP, "", ""},  // a popup's position is not a command id
  };
  for (int shape = 0; shape < 2; ++shape) {
    for (const Case& c : cases) {
      SendMessageA(window, WM_MENUSELECT, MAKEWPARAM(c.id, c.flags), reinterpret_cast<LPARAM>(menu));
      EXPECT_EQ(shape == 0 ? c.full : c.drop, StatusText()) << c.id << " shape " << shape;
      // Closing the menu empties the text.
      SendMessageA(window, WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);
      EXPECT_EQ("", StatusText());
    }
    Command(window, IDM_DROPWINDOW);
  }
}

TEST(MenuResource, HoldsEveryCommandUnderItsMenu) {
  TempProgramDir dir;
  MainWindow main;
  HMENU menu = GetMenu(main.hwnd());
  ASSERT_EQ(4, GetMenuItemCount(menu));
  struct Expect {
    int popup;
    UINT id;
  };
  const Expect items[] = {{0, IDM_NEWTASK},    {0, IDM_OPENTASK},     {0, IDM_NEW},     {0, IDM_BROWSE},
                          {0, IDM_CONFIG},     {0, IDM_SHOWLOG},      {0, IDM_EXIT},    {1, IDM_EDIT},
                          {1, IDM_PASTE},      {1, IDM_DELETE},       {1, IDM_SELECTALL}, {2, IDM_RECEIVE},
                          {2, IDM_RECEIVELATER}, {2, IDM_SEND},       {2, IDM_SENDLATER}, {2, IDM_DROPWINDOW},
                          {3, IDM_HELPCONTENTS}, {3, IDM_ABOUT}};
  for (const Expect& item : items) {
    HMENU popup = GetSubMenu(menu, item.popup);
    EXPECT_NE(static_cast<UINT>(-1), GetMenuState(popup, item.id, MF_BYCOMMAND)) << item.id;
  }
}

TEST(Closing, AsksOnlyWhileATransferIsScheduled) {
  TempProgramDir dir;
  struct Case {
    bool download, upload;
    int answer;
    bool asked, survives;
  };
  const Case cases[] = {{false, false, IDNO, false, false},
                        {true, false, IDNO, true, true},
                        {false, true, IDYES, true, false}};
  for (const Case& c : cases) {
    MainWindow main;
    shell::Globals().download_scheduled = c.download;
    shell::Globals().upload_scheduled = c.upload;
    DialogWatcher watcher(DialogWatcher::Press(c.answer));
    SendMessageA(main.hwnd(), WM_CLOSE, 0, 0);
    Pump();
    ASSERT_EQ(c.asked ? 1u : 0u, watcher.seen().size());
    if (c.asked) {
      EXPECT_EQ("Message", watcher.seen()[0].caption);
      EXPECT_EQ("Your file transfer is scheduled at a later time. Do you still want to exit?",
                watcher.seen()[0].text);
    }
    EXPECT_EQ(c.survives, IsWindow(main.hwnd()) != 0);
    // Declining keeps the thread events the jobs need.
    if (c.survives) {
      EXPECT_TRUE(shell::Globals().thread_event_receive);
    }
  }
}

TEST(Closing, ShutdownQueryDestroysTheWindowAndAgrees) {
  TempProgramDir dir;
  MainWindow main;
  EXPECT_EQ(1, SendMessageA(main.hwnd(), WM_QUERYENDSESSION, 0, 0));
  EXPECT_FALSE(IsWindow(main.hwnd()));
}

TEST(AboutBox, ReportsTotalPhysicalMemory) {
  TempProgramDir dir;
  MainWindow main;
  std::string memory_text;
  DialogWatcher watcher([&](HWND dialog) {
    memory_text = harness::WindowText(GetDlgItem(dialog, IDC_ABOUT_MEMORY));
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
  });
  Command(main.hwnd(), IDM_ABOUT);
  ASSERT_EQ(1u, watcher.seen().size());
  EXPECT_EQ(" About Parcelo(32)", watcher.seen()[0].caption);
  EXPECT_TRUE(std::regex_match(memory_text, std::regex("[1-9][0-9]* bytes total memory"))) << memory_text;
}

TEST(ProgramDirectory, IsTheCurrentDirectoryUnlessTheProgramIsRegistered) {
  char previous[MAX_PATH];
  GetCurrentDirectoryA(sizeof previous, previous);
  SetCurrentDirectoryA("C:\\");
  EXPECT_EQ("C:", shell::FindProgramDirectory());
  SetCurrentDirectoryA("C:\\windows");
  EXPECT_EQ("C:\\windows", shell::FindProgramDirectory());

  const char* key_path = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\parcelo32.exe";
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, &key, nullptr));
  const char value[] = "C:\\Tools\\Parcelo\\parcelo32.exe";
  RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof value);
  RegCloseKey(key);
  EXPECT_EQ("C:\\Tools\\Parcelo", shell::FindProgramDirectory());
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, key_path);
  EXPECT_EQ("C:\\windows", shell::FindProgramDirectory());
  SetCurrentDirectoryA(previous);
}
