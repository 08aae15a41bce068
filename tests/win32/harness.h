// Helpers for the Win32 tests: a fixture with a program directory and the real
// main window in the test process, message pumping, dialogs and the registry.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/prompts.h"
#include "platform/socket.h"

#include "shell/shell.h"
#include "win32_basics.h"

namespace harness {

// Pumps this thread's messages for about ms milliseconds, as the program's
// main loop does (with the main window's keys).
void Pump(int ms = 30);
// Pumps messages until done() holds, at most about ten seconds.
bool PumpUntil(const std::function<bool()>& done);

// A temporary directory made current for the test (the program directory),
// removed with everything in it afterwards.
class TempProgramDir {
 public:
  TempProgramDir();
  ~TempProgramDir();
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
  std::string previous_;
};

// The settings key HKLM\SOFTWARE\Parcelo(32), removed whole while alive
// begins and ends: a commit writes every value, a closing window its column
// widths.
class RegistryValues {
 public:
  RegistryValues() { Forget(); }
  ~RegistryValues() { Forget(); }
  static void Forget();
  void Set(const std::string& name, const std::string& value);
};

struct SeenDialog;
int RowCount(HWND list);

// A test in its own program directory. Open() creates the main window as the
// process entry would (destroying an earlier one) and pumps until it has
// settled; the window is destroyed before the directory is removed.
class WindowTest : public testing::Test {
 protected:
  ~WindowTest() override { Close(); }
  HWND Open();
  void Close();
  void Command(int id) const { SendMessageA(window, WM_COMMAND, MAKEWPARAM(id, 0), 0); }
  // Runs the command; act runs on the first dialog that is_main picks and
  // must end it; every other dialog is answered with OK. Returns every dialog
  // seen, in order.
  std::vector<SeenDialog> OnDialog(int command, const std::function<bool(HWND dialog)>& is_main,
                                   const std::function<void(HWND dialog)>& act);
  static const shell::Children& Kids() { return shell::Globals().children; }
  static HWND List() { return Kids().task_list; }
  static int Rows() { return RowCount(List()); }
  // Closes the main window, answering a question with button; returns the
  // dialogs seen.
  std::vector<SeenDialog> CloseAnswering(int button);
  // Writes a task line per entry (local file in the program directory, link)
  // as the default task of the mode and loads it; returns the task list.
  HWND LoadTask(const std::vector<std::pair<std::string, std::string>>& entries, bool send = false);
  // Pumps until every job the window keeps has ended (at most about a minute).
  bool WaitForJobs();

  RegistryValues registry;
  TempProgramDir dir;
  HWND window = nullptr;
};

// Watches for dialogs (class #32770) activated on this thread while alive.
// For each, records caption and message text (control 0xFFFF), then runs the
// handler, which should end the dialog (e.g. by posting a button command).
struct SeenDialog {
  std::string caption;
  std::string text;
};
class DialogWatcher {
 public:
  using Handler = std::function<void(HWND dialog)>;
  explicit DialogWatcher(Handler handler);
  ~DialogWatcher();
  const std::vector<SeenDialog>& seen() const { return seen_; }
  static Handler Press(int button_id);

 private:
  static LRESULT CALLBACK Hook(int code, WPARAM wparam, LPARAM lparam);
  static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD);
  HHOOK hook_ = nullptr;
  Handler handler_;
  std::vector<SeenDialog> seen_;
};

// The folder of this test program, where the build puts its help file and
// stand-in libraries.
std::string TestsFolder();
// The texts of the dialogs seen with this caption.
std::vector<std::string> TextsOf(const std::vector<SeenDialog>& seen, const std::string& caption);
std::string ListCell(HWND list, int row, int column);
int RowCount(HWND list);
// Selects exactly these rows.
void Select(HWND list, std::initializer_list<int> rows);
// The main window's status bar text.
std::string StatusText();
// Picks the mode selector's item as the user does (0 receive, 1 send).
void ChooseMode(int index);
// The items of a list box (LB_GETCOUNT, LB_GETTEXT) or combo box
// (CB_GETCOUNT, CB_GETLBTEXT), in order.
std::vector<std::string> Items(HWND box, UINT count_message, UINT text_message);
// Task file lines for the files f<i>.zip, one per number, each with its own
// date, local file C:\Down\f<i>.zip and link ftp://h/pub/f<i>.zip.
std::string TaskLines(std::initializer_list<int> files);

// Counts boxes and beeps instead of showing them (a box would wait for a
// user), answering each box with its default.
struct CountingSink : prompts::Sink {
  int Message(const std::string&, const std::string&, unsigned style) override {
    return ++shown, prompts::DefaultAnswer(style);
  }
  void Beep(unsigned) override { ++beeps; }
  std::atomic<int> shown{0}, beeps{0};
};

// Answers `count` connections on 127.0.0.1 through the socket seam: reads each
// request header (or a TLS hello as it comes) and sends answer(request). An
// answer with kHoldMark sends the part before it as the connection comes and
// the rest (then closes) only once every connection has come and Release()
// was called; the others send the whole answer and close at once. Every wait
// is bounded.
constexpr char kHoldMark[] = "<hold>";
class LoopbackServer {
 public:
  using Answer = std::function<std::string(const std::string& request)>;
  LoopbackServer(int count, Answer answer);
  // The same answer to every connection.
  LoopbackServer(int count, const std::string& answer)
      : LoopbackServer(count, [answer](const std::string&) { return answer; }) {}
  ~LoopbackServer();
  std::string Link(const std::string& path, const char* scheme = "http") const {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_) + path;
  }
  int accepted() const { return accepted_; }
  void Release() { released_ = true; }

 private:
  void Serve(int count, const Answer& answer);
  net::Socket listener_;
  std::uint16_t port_ = 0;
  std::atomic<int> accepted_{0};
  std::atomic<bool> released_{false};
  std::atomic<bool> closing_{false};
  std::thread thread_;
};

}  // namespace harness
