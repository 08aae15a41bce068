// The main window in its two shapes: start-up, children, switches, closing.
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "settings/places.h"
#include "harness.h"
#include "resources/parcelo32_ids.h"

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
}

}  // namespace

TEST_F(FullWindow, StartsWithItsMenuAndFocusOnTheList) {
  ASSERT_TRUE(Open());
  ExpectShape(window, shell::kFullWindow);
  EXPECT_EQ("Parcelo(32) Task Default", harness::WindowText(window));
  EXPECT_EQ(Kids().task_list, GetFocus());  // arrows work at once
}

// WindowMode 1 starts the drop window, on top as set; a double-click opens
// the full window, the command goes back, and the menu is loaded once.
TEST_F(DropWindow, StartsAsAFixedSizeTargetAndSwitchesBothWays) {
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
    EXPECT_EQ(info.ptMinTrackSize.x, info.ptMaxTrackSize.x);
    EXPECT_EQ(info.ptMinTrackSize.y, info.ptMaxTrackSize.y);
  }
  SendMessageA(window, WM_LBUTTONDBLCLK, 0, MAKELPARAM(20, 20));
  Pump();
  ExpectShape(window, shell::kFullWindow);
  HMENU loaded = GetMenu(window);
  EXPECT_EQ("Parcelo(32) Task Default", harness::WindowText(window));
  Command(IDM_DROPWINDOW);
  Pump();
  ExpectShape(window, shell::kDropWindow);
  // Already a drop window: nothing happens, the system menu is not extended twice.
  int items = GetMenuItemCount(GetSystemMenu(window, FALSE));
  Command(IDM_DROPWINDOW);
  EXPECT_EQ(items, GetMenuItemCount(GetSystemMenu(window, FALSE)));
  SendMessageA(window, WM_LBUTTONDBLCLK, 0, MAKELPARAM(20, 20));
  Pump();
  EXPECT_EQ(loaded, GetMenu(window));
  // A shutdown query destroys the window and agrees.
  EXPECT_EQ(1, SendMessageA(window, WM_QUERYENDSESSION, 0, 0));
  EXPECT_FALSE(IsWindow(window));
}

TEST(ProgramDirectory, IsTheCurrentDirectoryUnlessTheProgramIsRegistered) {
  char previous[MAX_PATH];
  GetCurrentDirectoryA(sizeof previous, previous);
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
