// Commands of the main window that manage tasks: Delete (also by its key),
// Select All, the mode change, New Task and Open Task.
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
  bool ButtonHidden(int id) const { return SendMessageA(Kids().toolbar, TB_ISBUTTONHIDDEN, id, 0) != 0; }
  bool AcceptsFiles() const { return GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES; }
  // The mode, its task, its buttons, its rows and whether files may be dropped.
  std::string Shows() const {
    return std::string(app::CurrentMode() == app::kSendMode ? "send " : "receive ") +
           app::CurrentTaskPath().substr(dir.path().size() + 1) + (ButtonHidden(IDM_SEND) ? " -send" : "") +
           (ButtonHidden(IDM_RECEIVE) ? " -receive" : "") + " rows " + std::to_string(Rows()) +
           (AcceptsFiles() ? " files" : "");
  }
};

}  // namespace

// The default task loads at the start; Select All selects and focuses the
// list, Del works through the main loop (deleting exactly the selected
// rows); Del in a dialog's edit control or in the drop window, which hides
// the list, deletes no row.
TEST_F(Dispatch, LoadsTheDefaultTaskAndSelectAllAndDelWorkThroughTheMainLoop) {
  WriteFile(dir.File("Default.rcv"), TaskLines({0, 1, 2, 3, 4}));
  SetForegroundWindow(Open());
  EXPECT_EQ("C:\\Down\\f3.zip|ftp://h/pub/f3.zip|Awaiting command|03/14/26 09:03",
            ListCell(List(), 3, 0) + "|" + ListCell(List(), 3, 1) + "|" + ListCell(List(), 3, 2) + "|" +
                ListCell(List(), 3, 6));
  Command(IDM_SELECTALL);
  EXPECT_EQ(5, SendMessageA(List(), LVM_GETSELECTEDCOUNT, 0, 0));
  EXPECT_EQ(List(), GetFocus());

  harness::Select(List(), {1, 3});
  PostMessageA(List(), WM_KEYDOWN, VK_DELETE, 1);
  Pump();
  ASSERT_EQ(3, Rows());
  EXPECT_EQ(TaskLines({0, 2, 4}), ReadFile(dir.File("Default.rcv")));
  // Del in an edit control of a dialog stays with the control.
  harness::Select(List(), {0});
  HWND dialog = CreateDialogParamA(shell::Globals().instance, "NEWTASKNAME", window, shell::GetTaskNameDlgFunc, 0);
  ASSERT_TRUE(dialog);
  HWND edit = GetDlgItem(dialog, IDC_TASKNAME);
  SetWindowTextA(edit, "Work");
  SendMessageA(edit, EM_SETSEL, 0, 0);
  PostMessageA(edit, WM_KEYDOWN, VK_DELETE, 1);
  Pump();
  EXPECT_EQ("ork", harness::WindowText(edit));
  DestroyWindow(dialog);
  Command(IDM_DROPWINDOW);
  PostMessageA(window, WM_KEYDOWN, VK_DELETE, 1);
  Pump();
  EXPECT_EQ(3, Rows());
  EXPECT_EQ(TaskLines({0, 2, 4}), ReadFile(dir.File("Default.rcv")));
}

// The mode selector switches task, buttons and dropped files.
TEST_F(Dispatch, ModeSelectorSwitchesTaskButtonsAndDroppedFiles) {
  WriteFile(dir.File("Default.rcv"), TaskLines({0, 1, 2, 3, 4}));
  WriteFile(dir.File("Default.snd"), TaskLines({7}));
  Open();
  const std::string receive = "receive Default.rcv -send rows 5", send = "send Default.snd -receive rows 1 files";
  EXPECT_EQ(receive, Shows());
  harness::ChooseMode(1);
  EXPECT_EQ(send, Shows());
  EXPECT_EQ("C:\\Down\\f7.zip", ListCell(List(), 0, 0));
  harness::ChooseMode(0);
  EXPECT_EQ(receive, Shows());
}

TEST_F(Dispatch, NewTaskWithOkNamesTheTaskAndCancelChangesNothing) {
  WriteFile(dir.File("Default.rcv"), TaskLines({0, 1, 2, 3, 4}));
  Open();
  {
    DialogWatcher watcher(DialogWatcher::Press(IDCANCEL));
    Command(IDM_NEWTASK);
    ASSERT_EQ(1u, watcher.seen().size());
  }
  EXPECT_EQ("Parcelo(32) Task Default", harness::WindowText(window));
  EXPECT_EQ(5, Rows());

  // An empty name, or one of a device, is refused: the dialog stays until a
  // name is typed. Loading a task whose file exists is the native entries
  // tests'.
  const auto seen = OnDialog(IDM_NEWTASK, [](HWND dialog) { return GetDlgItem(dialog, IDC_TASKNAME) != nullptr; },
                             [&](HWND dialog) {
                               for (const char* refused : {"", "nul", "COM1.x"}) {
                                 SetDlgItemTextA(dialog, IDC_TASKNAME, refused);
                                 SendMessageA(dialog, WM_COMMAND, IDOK, 0);
                                 EXPECT_TRUE(IsWindow(dialog)) << refused;
                               }
                               SetDlgItemTextA(dialog, IDC_TASKNAME, "Work");
                               PostMessageA(dialog, WM_COMMAND, IDOK, 0);
                             });
  EXPECT_EQ(harness::TextsOf(seen, "Error"), (std::vector<std::string>{"A task cannot be named after a device: nul",
                                                                       "A task cannot be named after a device: COM1.x"}));
  EXPECT_EQ("Parcelo(32) Task Work", harness::WindowText(window));
  EXPECT_EQ(0, Rows());
  EXPECT_EQ(dir.File("Work.rcv"), app::CurrentTaskPath());
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
  EXPECT_EQ(3, Rows());
  EXPECT_EQ(dir.File("Work.rcv"), app::CurrentTaskPath());
}
