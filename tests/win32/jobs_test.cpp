// Receive and Send from the main window: workers write their rows through
// the real list view while the test pumps messages, against a loopback server.
#include <windows.h>
#include <commctrl.h>
#include <winsock.h>

#include <string>
#include <utility>
#include <vector>

#include "engine/jobs.h"
#include "harness.h"
#include "platform/clock.h"
#include "resources/parcelo32_ids.h"
#include "settings/places.h"
#include "tasks/entries.h"
#include "tasks/schedule.h"
#include "tasks/taskfile.h"

using harness::ListCell;
using harness::LoopbackServer;
using harness::PumpUntil;
using harness::ReadFile;
using harness::RowCount;
using harness::Select;
using harness::StatusText;

namespace {

using Jobs = harness::WindowTest;

// The status bar tells why the selected row ended as it did, also when the
// row was selected before its transfer failed; a row without a cause shows
// nothing.
TEST_F(Jobs, TheStatusBarShowsTheCauseOfTheSelectedRow) {
  registry.Set("CycleDownload", "0");
  Open();
  LoopbackServer missing(1, "HTTP/1.0 404 Not Found\r\nContent-Length: 4\r\n\r\ngone"),
      found(1, "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok");
  HWND list = LoadTask({{"a", missing.Link("/a")}, {"b", found.Link("/b")}});
  Select(list, {0});
  Command(IDM_RECEIVE);
  EXPECT_TRUE(PumpUntil([&] { return StatusText() == "404 Not Found"; })) << StatusText();
  EXPECT_EQ("Failed", ListCell(list, 0, 2));
  Select(list, {1});
  Command(IDM_RECEIVE);
  ASSERT_TRUE(PumpUntil([&] { return ListCell(list, 1, 2) == "Done"; }));
  EXPECT_TRUE(PumpUntil([&] { return StatusText().empty(); })) << StatusText();
  Select(list, {0});
  EXPECT_TRUE(PumpUntil([&] { return StatusText() == "404 Not Found"; })) << StatusText();
  EXPECT_TRUE(WaitForJobs());
}

// A message box with this caption shown by a thread other than this one;
// nullptr when none appears within a few seconds.
HWND FindWorkerBox(const char* caption) {
  for (int i = 0; i < 250; ++i) {
    HWND box = FindWindowA("#32770", caption);
    if (box && GetWindowThreadProcessId(box, nullptr) != GetCurrentThreadId()) return box;
    harness::Pump(20);
  }
  return nullptr;
}

// No directory for the local file: a task-modal box, which without an owner
// disables only the worker's own windows. Which boxes a transfer shows is the
// native HTTP tests'.
TEST_F(Jobs, AWorkersMessageBoxLeavesTheMainWindowUsable) {
  Open();
  LoopbackServer server(1, "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello");
  LoadTask({{"missing\\a.txt", server.Link("/a.txt")}});
  jobs::JobHandle job = jobs::StartReceiveJob(std::string());
  HWND box = FindWorkerBox("Error");
  ASSERT_TRUE(box);
  EXPECT_EQ("Failed to create file. Check download directory and file name",
            harness::WindowText(GetDlgItem(box, 0xFFFF)));
  EXPECT_EQ(nullptr, GetWindow(box, GW_OWNER));
  EXPECT_TRUE(IsWindowEnabled(window));
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(PumpUntil([&] { return job->Running() == 0; }));
}

// Two transfers hold after their first half: Stop cancels the selected one
// only, closing asks while the other runs, and neither answer touches the
// partial files.
TEST_F(Jobs, StopAndClosingWhileTransfersRunLeaveThePartialFiles) {
  // The server and the worker outlive the window, whose destruction shuts
  // its own start-up of the socket library down.
  WSADATA wsa;
  WSAStartup(MAKEWORD(1, 1), &wsa);
  registry.Set("CycleDownload", "0");
  const std::string head(1000, 'a');
  {
    Open();
    LoopbackServer server(2, "HTTP/1.0 200 OK\r\nContent-Length: 2000\r\n\r\n" + head + harness::kHoldMark +
                                 std::string(1000, 'b'));
    HWND list = LoadTask({{"a.txt", server.Link("/a.txt")}, {"b.txt", server.Link("/b.txt")}});
    Command(IDM_RECEIVE);
    ASSERT_FALSE(shell::Globals().jobs.empty());
    jobs::JobHandle job = shell::Globals().jobs.back();
    ASSERT_TRUE(PumpUntil([&] { return ReadFile(dir.File("a.txt")) + ReadFile(dir.File("b.txt")) == head + head; }));
    Select(list, {1});
    Command(IDM_STOP);
    EXPECT_TRUE(PumpUntil([&] { return ListCell(list, 1, 2) == "Cancelled"; }));
    EXPECT_NE("Cancelled", ListCell(list, 0, 2));
    for (int answer : {IDNO, IDYES}) {
      EXPECT_EQ(harness::TextsOf(CloseAnswering(answer), "Message"),
                std::vector<std::string>{"Your file transfer is in progress. Do you still want to exit?"});
      EXPECT_EQ(answer == IDNO, IsWindow(window) != 0);
    }
    EXPECT_EQ(head, ReadFile(dir.File("a.txt")));
    EXPECT_EQ(head, ReadFile(dir.File("b.txt")));
    server.Release();
    EXPECT_TRUE(PumpUntil([&] { return job->Running() == 0; }));
  }
  WSACleanup();
}

// Send in receive mode changes the mode and refuses the empty upload task
// with a box of the user-interface thread, which the main window owns (and
// so is disabled).
TEST_F(Jobs, ACommandOfTheOtherModeChangesTheModeAndRefusesItsEmptyTask) {
  Open();
  HWND owner = nullptr;
  bool enabled = true;
  harness::DialogWatcher watcher([&](HWND dialog) {
    owner = GetWindow(dialog, GW_OWNER);
    enabled = IsWindowEnabled(window);
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
  });
  Command(IDM_SEND);
  EXPECT_EQ(harness::TextsOf(watcher.seen(), "Message"), std::vector<std::string>{jobs::kNothingToSend});
  EXPECT_EQ(window, owner);
  EXPECT_FALSE(enabled);
  EXPECT_EQ(app::kSendMode, app::CurrentMode());
  EXPECT_EQ(dir.File("Default.snd"), app::CurrentTaskPath());
  EXPECT_EQ(1, SendMessageA(Kids().mode_selector, CB_GETCURSEL, 0, 0));
}

// Forty entries are redirected at once while their workers write the list:
// each row is replaced in place, so the list keeps forty rows and row i shows
// line i of the task file, which holds entry i's own new link.
TEST_F(Jobs, FortyConcurrentRedirectsLeaveEveryRowShowingItsOwnLine) {
  constexpr int kEntries = 40;
  Open();
  LoopbackServer server(kEntries, [](const std::string& request) {
    const std::size_t path = request.find(' ') + 1;
    return "HTTP/1.0 302 Found\r\nLocation: /moved" + request.substr(path, request.find(' ', path) - path) +
           "\r\n\r\n";
  });
  std::vector<std::pair<std::string, std::string>> entries;
  for (int i = 0; i < kEntries; ++i) {
    entries.emplace_back("e" + std::to_string(i), server.Link("/e" + std::to_string(i) + ".txt"));
  }
  HWND list = LoadTask(entries);
  Command(IDM_RECEIVE);
  const auto all_moved = [&] {
    for (int row = 0; row < RowCount(list); ++row) {
      if (ListCell(list, row, 1).find("/moved/") == std::string::npos) return false;
    }
    return server.accepted() == kEntries;
  };
  EXPECT_TRUE(PumpUntil(all_moved));
  harness::Pump(200);  // the workers end after their last row update
  // Row i shows line i: its own local file, its own new link, its status, no progress.
  std::vector<std::string> lines;
  ASSERT_EQ(kEntries, taskfile::ReadLines(dir.File("Default.rcv"), &lines));
  ASSERT_EQ(kEntries, RowCount(list));
  for (int i = 0; i < kEntries; ++i) {
    const taskfile::TaskLine line = taskfile::SplitTaskLine(lines[i]);
    EXPECT_EQ(server.Link("/moved/e" + std::to_string(i) + ".txt"), line.url);
    EXPECT_EQ(line.local_file + line.url + entries::DisplayStatus(line.status_word),
              ListCell(list, i, 0) + ListCell(list, i, 1) + ListCell(list, i, 2) + ListCell(list, i, 3))
        << i;
  }
}

clock_seam::LocalTime g_now;
clock_seam::LocalTime FakeNow() { return g_now; }

TEST_F(Jobs, AScheduledJobStartsAtTheFirstTickAtOrAfterItsTimeInItsOwnMode) {
  Open();
  LoopbackServer server(2, "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello");
  HWND list = LoadTask({{"a.txt", server.Link("/a.txt")}, {"b.txt", server.Link("/b.txt")}});
  g_now = {2026, 3, 14, 10, 14, 30};
  clock_seam::OverrideNow(&FakeNow);
  {
    harness::DialogWatcher watcher([](HWND dialog) {
      SendDlgItemMessageA(dialog, IDC_LATER_SCHEDULE, BM_CLICK, 0, 0);
      SetDlgItemTextA(dialog, IDC_LATER_TIME, "10:15");
      PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    });
    Command(IDM_RECEIVELATER);
    harness::Pump();
  }
  ASSERT_EQ(1u, schedule::Jobs().jobs().size());
  const int timer = schedule::Jobs().jobs()[0].timer_id;
  // The window has a timer of that id (put back as it was).
  ASSERT_NE(0, KillTimer(window, timer));
  SetTimer(window, timer, 60000, nullptr);
  shell::ChangeMode(app::kSendMode, false);

  // Which tick starts the job is the native schedule tests'; here the first
  // one past 10:15 changes the mode back and starts it.
  g_now = {2026, 3, 14, 10, 16, 0};
  SendMessageA(window, WM_TIMER, timer, 0);
  clock_seam::OverrideNow(nullptr);
  EXPECT_EQ(app::kReceiveMode, app::CurrentMode());
  EXPECT_EQ(dir.File("Default.rcv"), app::CurrentTaskPath());
  EXPECT_TRUE(PumpUntil([&] { return ListCell(list, 0, 2) + ListCell(list, 1, 2) == "DoneDone"; }));
  EXPECT_TRUE(schedule::Jobs().jobs().empty());
  EXPECT_TRUE(schedule::Marked(app::kReceiveMode));
  // Its timer is gone: a further tick starts nothing.
  EXPECT_EQ(0, KillTimer(window, timer));
  harness::Pump(100);
}

}  // namespace
