// Receive and Send from the main window: workers write their rows through
// the real list view while the test pumps messages, against a loopback server.
#include <windows.h>
#include <commctrl.h>
#include <winsock.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/appstate.h"
#include "engine/jobs.h"
#include "harness.h"
#include "platform/socket.h"
#include "shell/ids.h"

using harness::ListCell;
using harness::ReadFile;
using Jobs = harness::WindowTest;

namespace {

// Answers `count` connections on 127.0.0.1 one after the other through the
// socket seam: reads the request header, sends answer, closes. With hold_at,
// sends only that many bytes of the answer until Release(). Every wait is
// bounded.
class LoopbackServer {
 public:
  LoopbackServer(int count, const std::string& answer, std::size_t hold_at = std::string::npos) {
    net::Ipv4 loopback = 0, bound = 0;
    net::ParseDotted("127.0.0.1", &loopback);
    listener_.Open();
    listener_.Listen(0, 8, loopback);
    listener_.LocalAddress(&bound, &port_);
    thread_ = std::thread([this, count, answer, hold_at] {
      for (int served = 0; served < count; ++served) {
        net::Socket connection;
        if (listener_.Accept(10000, &connection) != 0) return;
        std::string request;
        char buffer[4096];
        int error = 0;
        for (long got = 1; got > 0 && request.find("\r\n\r\n") == std::string::npos;) {
          got = connection.Receive(buffer, sizeof buffer, 10000, &error);
          if (got > 0) request.append(buffer, static_cast<std::size_t>(got));
        }
        const std::size_t first = std::min(hold_at, answer.size());
        connection.SendAll(answer.data(), first, 10000);
        for (int i = 0; i < 1000 && first < answer.size() && !released_; ++i) Sleep(10);
        connection.SendAll(answer.data() + first, answer.size() - first, 10000);
      }
    });
  }
  ~LoopbackServer() {
    Release();
    thread_.join();
  }
  int port() const { return port_; }
  void Release() { released_ = true; }

 private:
  std::atomic<bool> released_{false};
  net::Socket listener_;
  std::uint16_t port_ = 0;
  std::thread thread_;
};

TEST_F(Jobs, ReceiveEndsWithDoneInEveryRowAndOneLogLineEach) {
  Open();  // starts WSA for the server below
  LoopbackServer server(2, "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello");
  const std::string base = "http://127.0.0.1:" + std::to_string(server.port()) + "/pub/";
  harness::WriteFile(dir.File("Default.rcv"),
                     "03/14/26 09:00\t" + dir.File("a.txt") + "\tAwaiting_command\t" + base + "a.txt\r\n" +
                     "03/14/26 09:01\t" + dir.File("b.txt") + "\tAwaiting_command\t" + base + "b.txt\r\n");
  shell::LoadDefaultTask();
  HWND list = Kids().task_list;
  ASSERT_EQ(2, static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)));

  Command(IDM_RECEIVE);
  for (int i = 0; i < 500 && (ListCell(list, 0, 2) != "Done" || ListCell(list, 1, 2) != "Done"); ++i) {
    harness::Pump(20);
  }
  EXPECT_EQ("Done", ListCell(list, 0, 2));
  EXPECT_EQ("Done", ListCell(list, 1, 2));
  EXPECT_EQ("Totalbyte 5 / 5", ListCell(list, 1, 3));
  EXPECT_EQ("hello", ReadFile(dir.File("b.txt")));
  const std::string log = ReadFile(dir.File("logr.txt"));
  EXPECT_EQ(2, std::count(log.begin(), log.end(), '\n')) << log;
  EXPECT_NE(std::string::npos, log.find("\t" + dir.File("a.txt") + "\t" + base + "a.txt\r\n")) << log;
  harness::Pump(100);  // the workers end after their last row update
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

TEST_F(Jobs, AWorkersMessageBoxLeavesTheMainWindowUsable) {
  struct Case {
    std::string reply;
    std::string local_file;
    std::vector<std::pair<const char*, const char*>> boxes;  // caption, text
  };
  const Case cases[] = {
      // The server closes without a reply: two plain boxes.
      {"", "a.txt", {{"Info", "Connection closed"}, {"Info", "File is zero size"}}},
      // No directory for the local file: a task-modal box, which without an
      // owner disables only the worker's own windows.
      {"HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello",
       "missing\\a.txt",
       {{"Error", "Failed to create file. Check download directory and file name"}}},
  };
  Open();
  for (const Case& c : cases) {
    LoopbackServer server(1, c.reply);
    harness::WriteFile(dir.File("Default.rcv"), "03/14/26 09:00\t" + dir.File(c.local_file) +
                                                    "\tAwaiting_command\thttp://127.0.0.1:" +
                                                    std::to_string(server.port()) + "/a.txt\r\n");
    shell::LoadDefaultTask();
    jobs::JobHandle job = jobs::StartReceiveJob(std::string());
    for (const auto& expected : c.boxes) {
      HWND box = FindWorkerBox(expected.first);
      if (!box) {
        ADD_FAILURE() << "no box " << expected.second;
        break;
      }
      EXPECT_EQ(expected.second, harness::WindowText(GetDlgItem(box, 0xFFFF)));
      EXPECT_EQ(nullptr, GetWindow(box, GW_OWNER)) << expected.second;
      EXPECT_TRUE(IsWindowEnabled(window)) << expected.second;
      PostMessageA(box, WM_COMMAND, IDOK, 0);
      for (int i = 0; i < 250 && IsWindow(box); ++i) harness::Pump(20);
    }
    for (int i = 0; i < 250 && job->Running() > 0; ++i) harness::Pump(20);
    EXPECT_EQ(0, job->Running());
  }
}

TEST_F(Jobs, ClosingAsksWhileATransferRunsAndLeavesThePartialFile) {
  // The servers and the worker outlive the window, whose destruction shuts
  // its own start-up of the socket library down.
  WSADATA wsa;
  WSAStartup(MAKEWORD(1, 1), &wsa);
  const std::string header = "HTTP/1.0 200 OK\r\nContent-Length: 2000\r\n\r\n";
  const std::string head(1000, 'a'), tail(1000, 'b');
  auto receive = [&](const LoopbackServer& server, const std::string& name) {
    harness::WriteFile(dir.File("Default.rcv"), "03/14/26 09:00\t" + dir.File(name) +
                                                    "\tAwaiting_command\thttp://127.0.0.1:" +
                                                    std::to_string(server.port()) + "/" + name + "\r\n");
    shell::LoadDefaultTask();
    Command(IDM_RECEIVE);
    return shell::Globals().jobs.empty() ? nullptr : shell::Globals().jobs.back();
  };
  {
    Open();
    LoopbackServer server(1, header + head + tail, header.size() + head.size());
    jobs::JobHandle job = receive(server, "a.txt");
    ASSERT_TRUE(job);
    for (int i = 0; i < 250 && ReadFile(dir.File("a.txt")).size() < head.size(); ++i) harness::Pump(20);
    ASSERT_EQ(head, ReadFile(dir.File("a.txt")));
    for (int answer : {IDNO, IDYES}) {
      harness::DialogWatcher watcher(harness::DialogWatcher::Press(answer));
      SendMessageA(window, WM_CLOSE, 0, 0);
      harness::Pump();
      ASSERT_EQ(1u, watcher.seen().size()) << answer;
      EXPECT_EQ("Message", watcher.seen()[0].caption);
      EXPECT_EQ("Your file transfer is in progress. Do you still want to exit?", watcher.seen()[0].text);
      EXPECT_EQ(answer == IDNO, IsWindow(window) != 0);
    }
    EXPECT_EQ(head, ReadFile(dir.File("a.txt")));
    server.Release();
    for (int i = 0; i < 250 && job->Running() > 0; ++i) harness::Pump(20);
    EXPECT_EQ(0, job->Running());
  }
  {
    // A job whose transfers have all ended is no reason to ask.
    Open();
    LoopbackServer server(1, header + head + tail);
    jobs::JobHandle job = receive(server, "b.txt");
    ASSERT_TRUE(job);
    for (int i = 0; i < 250 && job->Running() > 0; ++i) harness::Pump(20);
    EXPECT_EQ(head + tail, ReadFile(dir.File("b.txt")));
    harness::DialogWatcher watcher(harness::DialogWatcher::Press(IDNO));
    SendMessageA(window, WM_CLOSE, 0, 0);
    harness::Pump();
    EXPECT_TRUE(watcher.seen().empty());
    EXPECT_FALSE(IsWindow(window));
  }
  WSACleanup();
}

TEST_F(Jobs, SendInReceiveModeChangesModeAndRefusesTheEmptyUploadTask) {
  Open();
  // A box of the user-interface thread stays owned by the main window.
  HWND owner = nullptr;
  bool enabled = true;
  harness::DialogWatcher watcher([&](HWND dialog) {
    owner = GetWindow(dialog, GW_OWNER);
    enabled = IsWindowEnabled(window);
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
  });
  Command(IDM_SEND);
  ASSERT_EQ(1u, watcher.seen().size());
  EXPECT_EQ("Message", watcher.seen()[0].caption);
  EXPECT_EQ(jobs::kNothingToSend, watcher.seen()[0].text);
  EXPECT_EQ(window, owner);
  EXPECT_FALSE(enabled);
  EXPECT_EQ(app::kSendMode, app::CurrentMode());
  EXPECT_EQ(dir.File("Default.snd"), app::CurrentTaskPath());
  EXPECT_EQ(1, SendMessageA(Kids().mode_selector, CB_GETCURSEL, 0, 0));
}

}  // namespace
