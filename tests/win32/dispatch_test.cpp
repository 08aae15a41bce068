// Commands of the main window that manage tasks: Delete and Select All (also
// by their keys), the mode change, Switch Mode in the drop window, New Task
// and Open Task.
#include <windows.h>
#include <commctrl.h>

#include <initializer_list>

#include "settings/places.h"
#include "harness.h"
#include "resources/parcelo32_ids.h"

using harness::DialogWatcher;
using harness::ListCell;
using harness::Pump;
using harness::ReadFile;
using harness::TaskLines;
using harness::WriteFile;

namespace {

class Dispatch : public harness::WindowTest {
 protected:
  HWND List() const { return Kids().task_list; }
  int RowCount() const { return static_cast<int>(SendMessageA(List(), LVM_GETITEMCOUNT, 0, 0)); }
  bool ButtonHidden(int id) const { return SendMessageA(Kids().toolbar, TB_ISBUTTONHIDDEN, id, 0) != 0; }
  bool AcceptsFiles() const { return GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES; }
  void ChooseInModeSelector(int index) const {
    SendMessageA(Kids().mode_selector, CB_SETCURSEL, index, 0);
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_MODESELECTOR, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(Kids().mode_selector));
  }
};

}  // namespace

TEST_F(Dispatch, LoadsTheDefaultTaskAtStartAndDeleteRemovesExactlyTheSelectedRows) {
  WriteFile(dir.File("Default.rcv"), TaskLines({0, 1, 2, 3, 4}));
  Open();
  ASSERT_EQ(5, RowCount());
  EXPECT_EQ("C:\\Down\\f3.zip", ListCell(List(), 3, 0));
  EXPECT_EQ("ftp://h/pub/f3.zip", ListCell(List(), 3, 1));
  EXPECT_EQ("Awaiting command", ListCell(List(), 3, 2));
  EXPECT_EQ("03/14/26 09:03", ListCell(List(), 3, 6));
  EXPECT_EQ(dir.File("Default.rcv"), app::CurrentTaskPath());

  for (int row : {0, 2, 3}) ListView_SetItemState(List(), row, LVIS_SELECTED, LVIS_SELECTED);
  Command(IDM_DELETE);
  ASSERT_EQ(2, RowCount());
  EXPECT_EQ("C:\\Down\\f1.zip", ListCell(List(), 0, 0));
  EXPECT_EQ("C:\\Down\\f4.zip", ListCell(List(), 1, 0));
  EXPECT_EQ(TaskLines({1, 4}), ReadFile(dir.File("Default.rcv")));

  // Nothing selected: nothing happens.
  ListView_SetItemState(List(), -1, 0, LVIS_SELECTED);
  Command(IDM_DELETE);
  EXPECT_EQ(2, RowCount());
  EXPECT_EQ(TaskLines({1, 4}), ReadFile(dir.File("Default.rcv")));
}

TEST_F(Dispatch, SelectAllFocusesTheListAndDelAndCtrlADeleteAndSelectThroughTheMainLoop) {
  WriteFile(dir.File("Default.rcv"), TaskLines({0, 1, 2, 3, 4}));
  SetForegroundWindow(Open());
  Command(IDM_SELECTALL);
  EXPECT_EQ(5, SendMessageA(List(), LVM_GETSELECTEDCOUNT, 0, 0));
  EXPECT_EQ(List(), GetFocus());
  ListView_SetItemState(List(), -1, 0, LVIS_SELECTED);

  // A posted key carries no modifier state: hold Ctrl in this thread's
  // keyboard state, as the real key press would.
  BYTE keys[256] = {};
  GetKeyboardState(keys);
  keys[VK_CONTROL] = 0x80;
  SetKeyboardState(keys);
  PostMessageA(List(), WM_KEYDOWN, 'A', 1);
  Pump();
  keys[VK_CONTROL] = 0;
  SetKeyboardState(keys);
  EXPECT_EQ(5, SendMessageA(List(), LVM_GETSELECTEDCOUNT, 0, 0));

  ListView_SetItemState(List(), -1, 0, LVIS_SELECTED);
  for (int row : {1, 3}) ListView_SetItemState(List(), row, LVIS_SELECTED, LVIS_SELECTED);
  PostMessageA(List(), WM_KEYDOWN, VK_DELETE, 1);
  Pump();
  ASSERT_EQ(3, RowCount());
  EXPECT_EQ(TaskLines({0, 2, 4}), ReadFile(dir.File("Default.rcv")));

  // The drop window hides the list: Del there deletes nothing.
  Command(IDM_DROPWINDOW);
  PostMessageA(window, WM_KEYDOWN, VK_DELETE, 1);
  Pump();
  EXPECT_EQ(3, RowCount());
  EXPECT_EQ(TaskLines({0, 2, 4}), ReadFile(dir.File("Default.rcv")));
}

TEST_F(Dispatch, DelInAnEditControlOfADialogStaysWithTheControl) {
  WriteFile(dir.File("Default.rcv"), TaskLines({0, 1}));
  Open();
  ListView_SetItemState(List(), 0, LVIS_SELECTED, LVIS_SELECTED);
  HWND dialog = CreateDialogParamA(shell::Globals().instance, "NEWTASKNAME", window,
                                   shell::GetTaskNameDlgFunc, 0);
  ASSERT_TRUE(dialog);
  HWND edit = GetDlgItem(dialog, IDC_TASKNAME);
  SetWindowTextA(edit, "Work");
  SendMessageA(edit, EM_SETSEL, 0, 0);
  PostMessageA(edit, WM_KEYDOWN, VK_DELETE, 1);
  Pump();
  EXPECT_EQ("ork", harness::WindowText(edit));
  EXPECT_EQ(2, RowCount());
  EXPECT_EQ(TaskLines({0, 1}), ReadFile(dir.File("Default.rcv")));
  DestroyWindow(dialog);
}

TEST_F(Dispatch, ModeSelectorSwitchesButtonsTaskAndDroppedFiles) {
  WriteFile(dir.File("Default.rcv"), TaskLines({0, 1, 2, 3, 4}));
  WriteFile(dir.File("Default.snd"), TaskLines({7}));
  Open();
  EXPECT_FALSE(AcceptsFiles());

  ChooseInModeSelector(1);
  EXPECT_EQ(app::kSendMode, app::CurrentMode());
  EXPECT_FALSE(ButtonHidden(IDM_SEND));
  EXPECT_TRUE(ButtonHidden(IDM_RECEIVE));
  EXPECT_EQ(dir.File("Default.snd"), app::CurrentTaskPath());
  EXPECT_EQ(1, RowCount());
  EXPECT_EQ("C:\\Down\\f7.zip", ListCell(List(), 0, 0));
  EXPECT_TRUE(AcceptsFiles());

  ChooseInModeSelector(0);
  EXPECT_EQ(app::kReceiveMode, app::CurrentMode());
  EXPECT_TRUE(ButtonHidden(IDM_SEND));
  EXPECT_FALSE(ButtonHidden(IDM_RECEIVE));
  EXPECT_EQ(5, RowCount());
  EXPECT_FALSE(AcceptsFiles());
}

TEST_F(Dispatch, SwitchModeTogglesOnlyInTheDropWindow) {
  WriteFile(dir.File("Default.snd"), TaskLines({7}));
  Open();
  SendMessageA(window, WM_SYSCOMMAND, IDM_SWITCHMODE, 0);
  EXPECT_EQ(app::kReceiveMode, app::CurrentMode());

  Command(IDM_DROPWINDOW);
  SendMessageA(window, WM_SYSCOMMAND, IDM_SWITCHMODE, 0);
  EXPECT_EQ(app::kSendMode, app::CurrentMode());
  EXPECT_EQ(dir.File("Default.snd"), app::CurrentTaskPath());
  EXPECT_EQ(1, RowCount());
  EXPECT_TRUE(AcceptsFiles());

  // Back to the full window: the selector shows Send and the send task stays.
  SendMessageA(window, WM_LBUTTONDBLCLK, 0, 0);
  Pump();
  EXPECT_EQ(1, SendMessageA(Kids().mode_selector, CB_GETCURSEL, 0, 0));
  EXPECT_EQ(dir.File("Default.snd"), app::CurrentTaskPath());
  EXPECT_TRUE(ButtonHidden(IDM_RECEIVE));

  Command(IDM_DROPWINDOW);
  SendMessageA(window, WM_SYSCOMMAND, IDM_SWITCHMODE, 0);
  EXPECT_EQ(app::kReceiveMode, app::CurrentMode());
  EXPECT_EQ(dir.File("Default.rcv"), app::CurrentTaskPath());
  EXPECT_EQ(0, RowCount());
}

TEST_F(Dispatch, NewTaskWithOkNamesTheTaskOrLoadsItsFileAndCancelChangesNothing) {
  WriteFile(dir.File("Default.rcv"), TaskLines({0, 1, 2, 3, 4}));
  Open();
  {
    DialogWatcher watcher(DialogWatcher::Press(IDCANCEL));
    Command(IDM_NEWTASK);
    ASSERT_EQ(1u, watcher.seen().size());
  }
  EXPECT_EQ("Parcelo(32) Task Default", harness::WindowText(window));
  EXPECT_EQ(5, RowCount());

  // An empty name, or one of a device, is refused: the dialog stays until a
  // name is typed. A name whose file exists loads it.
  int presses = 0;
  const char* name = "Work";
  bool busy = false;  // the dialog is activated again as each box closes
  DialogWatcher watcher([&](HWND dialog) {
    if (!GetDlgItem(dialog, IDC_TASKNAME)) return PostMessageA(dialog, WM_COMMAND, IDOK, 0), void();
    if (busy) return;
    busy = true;
    for (const char* refused : {"", "nul", "COM1.x"}) {
      SetDlgItemTextA(dialog, IDC_TASKNAME, refused);
      SendMessageA(dialog, WM_COMMAND, IDOK, 0);
      EXPECT_TRUE(IsWindow(dialog)) << refused;
    }
    ++presses;
    SetDlgItemTextA(dialog, IDC_TASKNAME, name);
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    busy = false;
  });
  Command(IDM_NEWTASK);
  EXPECT_EQ(1, presses);
  EXPECT_EQ(harness::TextsOf(watcher.seen(), "Error"),
            (std::vector<std::string>{"A task cannot be named after a device: nul",
                                      "A task cannot be named after a device: COM1.x"}));
  EXPECT_EQ("Parcelo(32) Task Work", harness::WindowText(window));
  EXPECT_EQ(0, RowCount());
  EXPECT_EQ(dir.File("Work.rcv"), app::CurrentTaskPath());

  WriteFile(dir.File("Old.rcv"), TaskLines({1, 2}));
  name = "Old";
  Command(IDM_NEWTASK);
  EXPECT_EQ(2, presses);
  EXPECT_EQ("Parcelo(32) Task Old", harness::WindowText(window));
  EXPECT_EQ(2, RowCount());
}

TEST_F(Dispatch, OpenTaskLoadsTheChosenFileAndSetsTheTitle) {
  WriteFile(dir.File("Work.rcv"), TaskLines({1, 2, 3}));
  Open();
  DialogWatcher watcher([](HWND dialog) {
    // The file name box: edt1 in the classic dialog, the combo cmb13 in the
    // explorer-style one.
    HWND name = GetDlgItem(dialog, 0x480);
    SetWindowTextA(name ? name : GetDlgItem(dialog, 0x47c), "Work.rcv");
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
  });
  Command(IDM_OPENTASK);
  ASSERT_EQ(1u, watcher.seen().size());
  EXPECT_EQ("Open Download Task", watcher.seen()[0].caption);
  EXPECT_EQ("Parcelo(32) Task Work", harness::WindowText(window));
  EXPECT_EQ(3, RowCount());
  EXPECT_EQ(dir.File("Work.rcv"), app::CurrentTaskPath());
}

TEST_F(Dispatch, EditWithAnEmptyListSaysSo) {
  Open();
  DialogWatcher watcher(DialogWatcher::Press(IDOK));
  Command(IDM_EDIT);
  ASSERT_EQ(1u, watcher.seen().size());
  EXPECT_EQ("Info", watcher.seen()[0].caption);
  EXPECT_EQ("No item in listbox", watcher.seen()[0].text);
}

