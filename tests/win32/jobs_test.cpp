// Receive and Send from the main window: workers write their rows through
// the real list view while the test pumps messages, against a loopback server.
#include <windows.h>
#include <commctrl.h>
#include <winsock.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/running.h"
#include "settings/places.h"
#include "engine/jobs.h"
#include "harness.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "resources/parcelo32_ids.h"
#include "tasks/entries.h"
#include "tasks/schedule.h"
#include "tasks/taskfile.h"

using harness::ListCell;
using harness::ReadFile;

namespace {

// Answers `count` connections on 127.0.0.1 through the socket seam: reads each
// request header and sends answer(request). A held server sends the part of
// each answer before kHoldMark as the connection comes, and the rest (then
// closes) only once every connection has come and Release() was called; the
// others send the whole answer and close at once. Every wait is bounded.
constexpr char kHoldMark[] = "<hold>";

class LoopbackServer {
 public:
  using Answer = std::function<std::string(const std::string& request)>;

  LoopbackServer(int count, Answer answer) {
    net::Ipv4 loopback = 0, bound = 0;
    net::ParseDotted("127.0.0.1", &loopback);
    listener_.Open();
    listener_.Listen(0, 64, loopback);
    listener_.LocalAddress(&bound, &port_);
    thread_ = std::thread([this, count, answer] { Serve(count, answer); });
  }
  // The same answer to every connection; with hold_at, held after that many bytes.
  LoopbackServer(int count, const std::string& answer, std::size_t hold_at = std::string::npos)
      : LoopbackServer(count, [answer, hold_at](const std::string&) {
          if (hold_at >= answer.size()) return answer;
          return answer.substr(0, hold_at) + kHoldMark + answer.substr(hold_at);
        }) {}
  ~LoopbackServer() {
    closing_ = true;
    Release();
    thread_.join();
  }
  int port() const { return port_; }
  std::string Link(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  int accepted() const { return accepted_; }
  void Release() { released_ = true; }

 private:
  void Serve(int count, const Answer& answer) {
    std::vector<std::unique_ptr<net::Socket>> held;
    std::vector<std::string> rests;
    for (int served = 0; served < count; ++served) {
      auto connection = std::make_unique<net::Socket>();
      // A server of more connections than come stops waiting when it closes.
      bool accepted = false;
      for (int waited = 0; !accepted && !closing_ && waited < 10000; waited += 100) {
        accepted = listener_.Accept(100, connection.get()) == 0;
      }
      if (!accepted) break;
      std::string request;
      char buffer[4096];
      int error = 0;
      for (long got = 1; got > 0 && request.find("\r\n\r\n") == std::string::npos;) {
        got = connection->Receive(buffer, sizeof buffer, 10000, &error);
        if (got > 0) request.append(buffer, static_cast<std::size_t>(got));
      }
      const std::string text = answer(request);
      const std::size_t mark = text.find(kHoldMark);
      connection->SendAll(text.data(), std::min(mark, text.size()), 10000);
      ++accepted_;
      if (mark == std::string::npos) continue;
      rests.push_back(text.substr(mark + std::strlen(kHoldMark)));
      held.push_back(std::move(connection));
    }
    for (int waited = 0; !held.empty() && !released_ && waited < 10000; waited += 10) Sleep(10);
    for (std::size_t i = 0; i < held.size(); ++i) held[i]->SendAll(rests[i].data(), rests[i].size(), 10000);
  }

  net::Socket listener_;
  std::uint16_t port_ = 0;
  std::atomic<int> accepted_{0};
  std::atomic<bool> released_{false};
  std::atomic<bool> closing_{false};
  std::thread thread_;
};

// Pumps messages until done() holds, at most about ten seconds.
bool PumpUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 500 && !done(); ++i) harness::Pump(20);
  return done();
}

int RowCount(HWND list) { return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)); }

void Select(HWND list, std::initializer_list<int> rows) {
  ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
  for (int row : rows) ListView_SetItemState(list, row, LVIS_SELECTED, LVIS_SELECTED);
}

class Jobs : public harness::WindowTest {
 protected:
  // Writes a task line per entry (local file in the program directory, link)
  // as the default download task and loads it; returns the task list.
  HWND LoadTask(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string lines;
    for (const auto& [local, link] : entries) {
      lines += "03/14/26 09:00\t" + dir.File(local) + "\tAwaiting_command\t" + link + "\r\n";
    }
    harness::WriteFile(dir.File("Default.rcv"), lines);
    shell::LoadDefaultTask();
    return Kids().task_list;
  }
  // Every row, and at least one, shows "Done".
  static bool AllDone(HWND list) {
    for (int row = 0; row < RowCount(list); ++row) {
      if (ListCell(list, row, 2) != "Done") return false;
    }
    return RowCount(list) > 0;
  }
};

TEST_F(Jobs, ReceiveEndsWithDoneInEveryRowAndOneLogLineEach) {
  Open();  // starts WSA for the server below
  LoopbackServer server(2, "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello");
  HWND list = LoadTask({{"a.txt", server.Link("/pub/a.txt")}, {"b.txt", server.Link("/pub/b.txt")}});
  ASSERT_EQ(2, RowCount(list));
  Command(IDM_RECEIVE);
  EXPECT_TRUE(PumpUntil([&] { return AllDone(list); }));
  EXPECT_EQ("Totalbyte 5 / 5", ListCell(list, 1, 3));
  EXPECT_EQ("hello", ReadFile(dir.File("b.txt")));
  const std::string log = ReadFile(dir.File("logr.txt"));
  EXPECT_EQ(2, std::count(log.begin(), log.end(), '\n')) << log;
  EXPECT_NE(std::string::npos, log.find("\t" + dir.File("a.txt") + "\t" + server.Link("/pub/a.txt") + "\r\n")) << log;
  harness::Pump(100);  // the workers end after their last row update
}

// A download split over several connections: each writes its pieces at their
// own offsets into the one file, and the row ends Done with the whole of it.
// The first connection gets its header only, so the second takes half of the
// file and, once done, halves of the first one's piece (150000, 75000, 37500
// and 18750 bytes, down to the smallest split): five connections, after
// which the first one gets its bytes.
TEST_F(Jobs, ASplitDownloadWritesEveryPieceAtItsPlace) {
  harness::RegistryValues registry;
  registry.Set("Split", "2");
  registry.Set("SplitMin", "65536");
  Open();
  std::string body(300000, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7 / 3);
  const std::string size = std::to_string(body.size());
  LoopbackServer server(5, [&](const std::string& request) {
    const std::size_t range = request.find("Range: bytes=");
    const std::size_t from = range == std::string::npos ? 0 : std::strtoul(request.c_str() + range + 13, nullptr, 10);
    const std::string head = range == std::string::npos
                                 ? "HTTP/1.0 200 OK\r\nAccept-Ranges: bytes\r\nContent-Length: " + size +
                                       "\r\n\r\n" + kHoldMark
                                 : "HTTP/1.0 206 Partial Content\r\nContent-Range: bytes " + std::to_string(from) +
                                       "-" + std::to_string(body.size() - 1) + "/" + size + "\r\n";
    if (range == std::string::npos) return head + body;
    return head + "Content-Length: " + std::to_string(body.size() - from) + "\r\n\r\n" + body.substr(from);
  });
  HWND list = LoadTask({{"split.bin", server.Link("/split.bin")}});
  Command(IDM_RECEIVE);
  EXPECT_TRUE(PumpUntil([&] { return server.accepted() == 5; })) << server.accepted();
  server.Release();
  EXPECT_TRUE(PumpUntil([&] { return AllDone(list); }));
  EXPECT_EQ("Totalbyte " + size + " / " + size, ListCell(list, 0, 3));
  EXPECT_TRUE(ReadFile(dir.File("split.bin")) == body);
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(dir.File("split.bin.parts").c_str()));
  harness::Pump(100);
}

// The status bar tells why the selected row ended as it did, also when the
// row was selected before its transfer failed; a row without a cause shows nothing.
TEST_F(Jobs, TheStatusBarShowsTheCauseOfTheSelectedRow) {
  harness::RegistryValues registry;
  registry.Set("CycleDownload", "0");
  Open();
  LoopbackServer missing(1, "HTTP/1.0 404 Not Found\r\nContent-Length: 4\r\n\r\ngone"),
      found(1, "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok");
  HWND list = LoadTask({{"a", missing.Link("/a")}, {"b", found.Link("/b")}});
  auto status = [&] {
    char text[512] = {};
    SendMessageA(Kids().status_bar, SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text));
    return std::string(text);
  };
  Select(list, {0});
  Command(IDM_RECEIVE);
  EXPECT_TRUE(PumpUntil([&] { return status() == "404 Not Found"; })) << status();
  EXPECT_EQ("Failed", ListCell(list, 0, 2));
  Select(list, {1});
  Command(IDM_RECEIVE);
  ASSERT_TRUE(PumpUntil([&] { return ListCell(list, 1, 2) == "Done"; }));
  EXPECT_TRUE(PumpUntil([&] { return status().empty(); })) << status();
  Select(list, {0});
  EXPECT_TRUE(PumpUntil([&] { return status() == "404 Not Found"; })) << status();
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
    LoadTask({{c.local_file, server.Link("/a.txt")}});
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
      PumpUntil([&] { return !IsWindow(box); });
    }
    EXPECT_TRUE(PumpUntil([&] { return job->Running() == 0; }));
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
    LoadTask({{name, server.Link("/" + name)}});
    Command(IDM_RECEIVE);
    return shell::Globals().jobs.empty() ? nullptr : shell::Globals().jobs.back();
  };
  {
    Open();
    LoopbackServer server(1, header + head + tail, header.size() + head.size());
    jobs::JobHandle job = receive(server, "a.txt");
    ASSERT_TRUE(job);
    PumpUntil([&] { return ReadFile(dir.File("a.txt")).size() >= head.size(); });
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
    EXPECT_TRUE(PumpUntil([&] { return job->Running() == 0; }));
  }
  {
    // A job whose transfers have all ended is no reason to ask.
    Open();
    LoopbackServer server(1, header + head + tail);
    jobs::JobHandle job = receive(server, "b.txt");
    ASSERT_TRUE(job);
    PumpUntil([&] { return job->Running() == 0; });
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

// Stop reaches the transfer of the selected row through the list's selection.
TEST_F(Jobs, StopCancelsTheSelectedRunningTransfer) {
  harness::RegistryValues registry;
  registry.Set("CycleDownload", "0");
  Open();
  LoopbackServer server(1, "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nhello" + std::string(kHoldMark) + "world");
  HWND list = LoadTask({{"a", server.Link("/a")}, {"b", server.Link("/b")}});
  Select(list, {1});
  Command(IDM_RECEIVE);
  ASSERT_TRUE(PumpUntil([&] { return ListCell(list, 1, 2) == "receiving file"; }));
  Command(IDM_STOP);
  EXPECT_TRUE(PumpUntil([&] { return ListCell(list, 1, 2) == "Cancelled"; }));
  server.Release();
  harness::Pump(200);
  EXPECT_EQ("Cancelled", ListCell(list, 1, 2));
  EXPECT_EQ("hello", ReadFile(dir.File("b")));
}

}  // namespace

namespace {
clock_seam::LocalTime g_now;
clock_seam::LocalTime FakeNow() { return g_now; }
}  // namespace

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

  // The ticks drift past 10:15 without one inside it.
  g_now.second = 59;
  SendMessageA(window, WM_TIMER, timer, 0);
  EXPECT_EQ(app::kSendMode, app::CurrentMode());
  g_now = {2026, 3, 14, 10, 16, 0};
  SendMessageA(window, WM_TIMER, timer, 0);
  clock_seam::OverrideNow(nullptr);
  EXPECT_EQ(app::kReceiveMode, app::CurrentMode());
  EXPECT_EQ(dir.File("Default.rcv"), app::CurrentTaskPath());
  EXPECT_TRUE(PumpUntil([&] { return AllDone(list); }));
  EXPECT_EQ(2, RowCount(list));
  EXPECT_EQ("hello", ReadFile(dir.File("b.txt")));
  EXPECT_TRUE(schedule::Jobs().jobs().empty());
  EXPECT_TRUE(schedule::Marked(app::kReceiveMode));
  // Its timer is gone: a further tick starts nothing.
  EXPECT_EQ(0, KillTimer(window, timer));
  harness::Pump(100);
}
