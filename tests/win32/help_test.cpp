// The help file under the platform's help viewer: WinHelp with a context
// number opens the viewer on that topic, and the program's Help commands open
// the file of the program directory, at its contents or at the drop window's
// topic. The viewer is another process; its topic is read from its text
// window, and it is closed after each test.
#include <windows.h>

#include <string>

#include "harness.h"
#include "resources/parcelo32_ids.h"
#include "tasks/entries.h"

using harness::Pump;
using harness::WriteFile;

namespace {

constexpr char kViewerClass[] = "MS_WINHELP";

std::string HelpFileBesideTests() { return harness::TestsFolder() + "\\Parcelo32.HLP"; }

BOOL CALLBACK FindTextWindow(HWND child, LPARAM found) {
  char name[64] = {};
  GetClassNameA(child, name, sizeof name);
  if (std::string(name).find("RichEdit") == 0) {
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
  }
  return TRUE;
}

// The title of the topic the viewer shows (its text window's first line),
// waiting a bounded while for the viewer to start; empty when none shows.
std::string ViewerTopic() {
  for (int i = 0; i < 100; ++i) {
    Pump(50);
    HWND viewer = FindWindowA(kViewerClass, nullptr), text_window = nullptr;
    if (!viewer || !IsWindowVisible(viewer)) continue;
    EnumChildWindows(viewer, FindTextWindow, reinterpret_cast<LPARAM>(&text_window));
    const std::string text = text_window ? harness::WindowText(text_window) : "";
    if (!text.empty()) return text.substr(0, text.find_first_of("\r\n"));
  }
  return std::string();
}

// Ends the viewer (through WinHelp, as a program does) and waits a bounded
// while for its window to go, so that the next test starts without one.
void CloseViewer(HWND owner, const std::string& file) {
  WinHelpA(owner, file.c_str(), HELP_QUIT, 0);
  for (int i = 0; i < 100 && FindWindowA(kViewerClass, nullptr); ++i) Pump(50);
  if (HWND viewer = FindWindowA(kViewerClass, nullptr)) PostMessageA(viewer, WM_CLOSE, 0, 0);
}

// F1 as the keyboard gives it: the system turns it into help for the window
// with the focus, which passes it up to its dialog or main window.
void PressF1() {
  keybd_event(VK_F1, 0, 0, 0);
  keybd_event(VK_F1, 0, KEYEVENTF_KEYUP, 0);
}

class HelpViewer : public harness::WindowTest {
 protected:
  void SetUp() override {
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(HelpFileBesideTests().c_str())) << HelpFileBesideTests();
    ASSERT_TRUE(CopyFileA(HelpFileBesideTests().c_str(), dir.File("Parcelo32.HLP").c_str(), FALSE));
    ASSERT_TRUE(Open());
  }
  void TearDown() override { CloseViewer(window, dir.File("Parcelo32.HLP")); }
};

}  // namespace

// Each dialog opens its topic from its Help button and from F1 (pressed in
// the control that has the focus); F1 in the main window and the Help command
// open the contents. Which topic a context number opens is the native help
// file tests'.
TEST_F(HelpViewer, DialogsAndTheWindowOpenTheirTopicsFromHelpAndF1) {
  WriteFile(dir.File("Default.rcv"), "03/14/26 09:00\tC:\\Down\\a.zip\tAwaiting_command\tftp://h/a.zip\r\n");
  constexpr int kF1 = 0;
  const struct { int command; int help_button; const char* topic; } dialogs[] = {
      {IDM_NEW, IDC_NEW_HELP, "Entering URLs"},   {IDM_EDIT, IDC_EDIT_HELP, "Editing an entry"},
      {IDM_SHOWLOG, IDC_LOG_HELP, "The logs and Execute"},
      {IDM_NEW, kF1, "Entering URLs"},            {IDM_EDIT, kF1, "Editing an entry"},
      {IDM_RECEIVELATER, kF1, "Scheduling transfers"}, {IDM_SHOWLOG, kF1, "The logs and Execute"},
      {IDM_CONFIG, kF1, "Configuration"},
  };
  for (const auto& d : dialogs) {
    SCOPED_TRACE(std::string(d.topic) + (d.help_button == kF1 ? " F1" : " button"));
    entries::OpenTask(dir.File("Default.rcv"));
    std::string topic;
    harness::DialogWatcher watcher([&](HWND dialog) {
      if (!topic.empty()) return;
      if (d.help_button == kF1) {
        PressF1();
      } else {
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(d.help_button, BN_CLICKED), 0);
      }
      topic = ViewerTopic();
      PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    });
    Command(d.command);
    EXPECT_EQ(d.topic, topic);
    CloseViewer(window, dir.File("Parcelo32.HLP"));
  }
  // The task list has the focus from the start.
  ASSERT_EQ(Kids().task_list, GetFocus());
  PressF1();
  EXPECT_EQ("Parcelo(32) Help", ViewerTopic());
  CloseViewer(window, dir.File("Parcelo32.HLP"));
  // The Help command opens the program directory's file at its contents, the
  // drop window's own help its topic.
  EXPECT_EQ(dir.File("Parcelo32.HLP"), shell::Globals().help_file_path);
  Command(IDM_HELPCONTENTS);
  EXPECT_EQ("Parcelo(32) Help", ViewerTopic());
  CloseViewer(window, dir.File("Parcelo32.HLP"));
  Command(IDM_DROPWINDOW);
  SendMessageA(window, WM_SYSCOMMAND, IDM_DROPHELP, 0);
  EXPECT_EQ("The drop window", ViewerTopic());
}
