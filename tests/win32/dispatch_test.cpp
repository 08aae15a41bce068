// Commands of the main window that manage tasks: Delete, Select All, the mode
// change, Switch Mode in the drop window, New Task and Open Task.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

#include "engine/appstate.h"
#include "harness.h"
#include "shell/ids.h"
#include "shell/shell.h"

using harness::DialogWatcher;
using harness::ListCell;
using harness::MainWindow;
using harness::Pump;
using harness::ReadFile;
using harness::RegistryValues;
using harness::TempProgramDir;
using harness::WriteFile;

namespace {

std::string TaskLine(int i) {
  return "03/14/26 09:0" + std::to_string(i) + "\tC:\\Down\\f" + std::to_string(i) +
         ".zip\tAwaiting_command\tftp://h/pub/f" + std::to_string(i) + ".zip\r\n";
}

std::string FiveLineTask() {
  std::string text;
  for (int i = 0; i < 5; ++i) text += TaskLine(i);
  return text;
}

HWND List() { return shell::Globals().children.task_list; }
int RowCount() { return static_cast<int>(SendMessageA(List(), LVM_GETITEMCOUNT, 0, 0)); }

void Select(int row, bool selected) {
  LVITEMA item = {};
  item.stateMask = LVIS_SELECTED;
  item.state = selected ? LVIS_SELECTED : 0;
  SendMessageA(List(), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

bool IsSelected(int row) { return SendMessageA(List(), LVM_GETITEMSTATE, row, LVIS_SELECTED) != 0; }

void Command(HWND window, int id, int code = 0) {
  SendMessageA(window, WM_COMMAND, MAKEWPARAM(id, code), 0);
}

void ChooseInModeSelector(HWND window, int index) {
  HWND selector = shell::Globals().children.mode_selector;
  SendMessageA(selector, CB_SETCURSEL, index, 0);
  SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_MODESELECTOR, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(selector));
}

bool AcceptsFiles(HWND window) { return GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES; }
bool ButtonHidden(int id) {
  return SendMessageA(shell::Globals().children.toolbar, TB_ISBUTTONHIDDEN, id, 0) != 0;
}

}  // namespace

TEST(Dispatch, LoadsTheDefaultTaskAtStart) {
  TempProgramDir dir;
  WriteFile(dir.File("Default.rcv"), FiveLineTask());
  MainWindow main;
  ASSERT_EQ(5, RowCount());
  EXPECT_EQ("C:\\Down\\f3.zip", ListCell(List(), 3, 0));
  EXPECT_EQ("ftp://h/pub/f3.zip", ListCell(List(), 3, 1));
  EXPECT_EQ("Awaiting command", ListCell(List(), 3, 2));
  EXPECT_EQ("03/14/26 09:03", ListCell(List(), 3, 6));
  EXPECT_EQ(dir.File("Default.rcv"), app::CurrentTaskPath());
}

TEST(Dispatch, DeleteRemovesExactlyTheSelectedRowsFromListAndFile) {
  TempProgramDir dir;
  WriteFile(dir.File("Default.rcv"), FiveLineTask());
  MainWindow main;
  ASSERT_EQ(5, RowCount());
  Select(0, true);
  Select(2, true);
  Select(3, true);
  Command(main.hwnd(), IDM_DELETE);
  ASSERT_EQ(2, RowCount());
  EXPECT_EQ("C:\\Down\\f1.zip", ListCell(List(), 0, 0));
  EXPECT_EQ("C:\\Down\\f4.zip", ListCell(List(), 1, 0));
  EXPECT_EQ(TaskLine(1) + TaskLine(4), ReadFile(dir.File("Default.rcv")));

  // Nothing selected: nothing happens.
  Select(0, false);
  Select(1, false);
  Command(main.hwnd(), IDM_DELETE);
  EXPECT_EQ(2, RowCount());
  EXPECT_EQ(TaskLine(1) + TaskLine(4), ReadFile(dir.File("Default.rcv")));
}

TEST(Dispatch, SelectAllSelectsEveryRowAndFocusesTheList) {
  TempProgramDir dir;
  WriteFile(dir.File("Default.rcv"), FiveLineTask());
  MainWindow main;
  SetForegroundWindow(main.hwnd());
  Command(main.hwnd(), IDM_SELECTALL);
  for (int row = 0; row < 5; ++row) EXPECT_TRUE(IsSelected(row)) << row;
  EXPECT_EQ(5, SendMessageA(List(), LVM_GETSELECTEDCOUNT, 0, 0));
  EXPECT_EQ(List(), GetFocus());
}

TEST(Dispatch, ModeSelectorSwitchesButtonsTaskAndDroppedFiles) {
  TempProgramDir dir;
  WriteFile(dir.File("Default.rcv"), FiveLineTask());
  WriteFile(dir.File("Default.snd"), TaskLine(7));
  MainWindow main;
  HWND window = main.hwnd();
  EXPECT_FALSE(AcceptsFiles(window));

  ChooseInModeSelector(window, 1);
  EXPECT_EQ(app::kSendMode, app::CurrentMode());
  EXPECT_FALSE(ButtonHidden(IDM_SEND));
  EXPECT_TRUE(ButtonHidden(IDM_RECEIVE));
  EXPECT_EQ(dir.File("Default.snd"), app::CurrentTaskPath());
  EXPECT_EQ(1, RowCount());
  EXPECT_EQ("C:\\Down\\f7.zip", ListCell(List(), 0, 0));
  EXPECT_TRUE(AcceptsFiles(window));

  ChooseInModeSelector(window, 0);
  EXPECT_EQ(app::kReceiveMode, app::CurrentMode());
  EXPECT_TRUE(ButtonHidden(IDM_SEND));
  EXPECT_FALSE(ButtonHidden(IDM_RECEIVE));
  EXPECT_EQ(5, RowCount());
  EXPECT_FALSE(AcceptsFiles(window));
}

TEST(Dispatch, SwitchModeTogglesOnlyInTheDropWindow) {
  TempProgramDir dir;
  WriteFile(dir.File("Default.snd"), TaskLine(7));
  MainWindow main;
  HWND window = main.hwnd();
  SendMessageA(window, WM_SYSCOMMAND, IDM_SWITCHMODE, 0);
  EXPECT_EQ(app::kReceiveMode, app::CurrentMode());

  Command(window, IDM_DROPWINDOW);
  SendMessageA(window, WM_SYSCOMMAND, IDM_SWITCHMODE, 0);
  EXPECT_EQ(app::kSendMode, app::CurrentMode());
  EXPECT_EQ(dir.File("Default.snd"), app::CurrentTaskPath());
  EXPECT_EQ(1, RowCount());
  EXPECT_TRUE(AcceptsFiles(window));

  // Back to the full window: the selector shows Send and the send task stays.
  SendMessageA(window, WM_LBUTTONDBLCLK, 0, 0);
  Pump();
  EXPECT_EQ(1, SendMessageA(shell::Globals().children.mode_selector, CB_GETCURSEL, 0, 0));
  EXPECT_EQ(dir.File("Default.snd"), app::CurrentTaskPath());
  EXPECT_TRUE(ButtonHidden(IDM_RECEIVE));

  Command(window, IDM_DROPWINDOW);
  SendMessageA(window, WM_SYSCOMMAND, IDM_SWITCHMODE, 0);
  EXPECT_EQ(app::kReceiveMode, app::CurrentMode());
  EXPECT_EQ(dir.File("Default.rcv"), app::CurrentTaskPath());
  EXPECT_EQ(0, RowCount());
}

TEST(Dispatch, NewTaskWithOkNamesTheTaskAndCancelChangesNothing) {
  TempProgramDir dir;
  WriteFile(dir.File("Default.rcv"), FiveLineTask());
  MainWindow main;
  HWND window = main.hwnd();
  {
    DialogWatcher watcher(DialogWatcher::Press(IDCANCEL));
    Command(window, IDM_NEWTASK);
    ASSERT_EQ(1u, watcher.seen().size());
  }
  EXPECT_EQ("Parcelo(32) Task Default", harness::WindowText(window));
  EXPECT_EQ(5, RowCount());
  {
    // An empty name is refused: the dialog stays until a name is typed.
    int presses = 0;
    DialogWatcher watcher([&](HWND dialog) {
      SetDlgItemTextA(dialog, IDC_TASKNAME, "");
      SendMessageA(dialog, WM_COMMAND, IDOK, 0);
      ++presses;
      EXPECT_TRUE(IsWindow(dialog));
      SetDlgItemTextA(dialog, IDC_TASKNAME, "Work");
      PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    });
    Command(window, IDM_NEWTASK);
    EXPECT_EQ(1, presses);
  }
  EXPECT_EQ("Parcelo(32) Task Work", harness::WindowText(window));
  EXPECT_EQ(0, RowCount());
  EXPECT_EQ(dir.File("Work.rcv"), app::CurrentTaskPath());
}

TEST(Dispatch, NewTaskOnAnExistingFileLoadsIt) {
  TempProgramDir dir;
  WriteFile(dir.File("Old.rcv"), TaskLine(1) + TaskLine(2));
  MainWindow main;
  DialogWatcher watcher([](HWND dialog) {
    SetDlgItemTextA(dialog, IDC_TASKNAME, "Old");
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
  });
  Command(main.hwnd(), IDM_NEWTASK);
  EXPECT_EQ("Parcelo(32) Task Old", harness::WindowText(main.hwnd()));
  EXPECT_EQ(2, RowCount());
}

TEST(Dispatch, OpenTaskLoadsTheChosenFileAndSetsTheTitle) {
  TempProgramDir dir;
  WriteFile(dir.File("Work.rcv"), TaskLine(1) + TaskLine(2) + TaskLine(3));
  MainWindow main;
  std::string caption;
  DialogWatcher watcher([&](HWND dialog) {
    caption = harness::WindowText(dialog);
    // The file name box: edt1 in the classic dialog, the combo cmb13 in the
    // explorer-style one.
    HWND name = GetDlgItem(dialog, 0x480);
    if (!name) name = GetDlgItem(dialog, 0x47c);
    SetWindowTextA(name, "Work.rcv");
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
  });
  Command(main.hwnd(), IDM_OPENTASK);
  EXPECT_EQ("Open Download Task", caption);
  EXPECT_EQ("Parcelo(32) Task Work", harness::WindowText(main.hwnd()));
  EXPECT_EQ(3, RowCount());
  EXPECT_EQ(dir.File("Work.rcv"), app::CurrentTaskPath());
}

TEST(Dispatch, EditWithAnEmptyListSaysSo) {
  TempProgramDir dir;
  MainWindow main;
  DialogWatcher watcher(DialogWatcher::Press(IDOK));
  Command(main.hwnd(), IDM_EDIT);
  ASSERT_EQ(1u, watcher.seen().size());
  EXPECT_EQ("Info", watcher.seen()[0].caption);
  EXPECT_EQ("No item in listbox", watcher.seen()[0].text);
}

TEST(Dispatch, StopSetsTheRequestEvenWithoutAJob) {
  TempProgramDir dir;
  MainWindow main;
  app::ClearStopRequest();
  Command(main.hwnd(), IDM_STOP);
  EXPECT_TRUE(app::TakeStopRequest());
}
