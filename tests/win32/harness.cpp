#include "harness.h"

#include <commctrl.h>
#include <winsock.h>

#include <algorithm>
#include <cstring>

#include "shell/shell.h"

namespace harness {

void Pump(int ms) {
  DWORD end = GetTickCount() + ms;
  do {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) continue;
      shell::ProcessLoopMessage(&msg);
    }
    Sleep(1);
  } while (static_cast<int>(end - GetTickCount()) > 0);
}

bool PumpUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 500 && !done(); ++i) Pump(20);
  return done();
}

TempProgramDir::TempProgramDir() {
  char base[MAX_PATH], name[MAX_PATH], current[MAX_PATH];
  GetTempPathA(sizeof base, base);
  GetTempFileNameA(base, "pct", 0, name);
  DeleteFileA(name);
  CreateDirectoryA(name, nullptr);
  path_ = name;
  GetCurrentDirectoryA(sizeof current, current);
  previous_ = current;
  SetCurrentDirectoryA(path_.c_str());
}

TempProgramDir::~TempProgramDir() {
  SetCurrentDirectoryA(previous_.c_str());
  RemoveTree(path_);
}

std::string TestsFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  const std::string file = path;
  return file.substr(0, file.rfind('\\'));
}

std::vector<std::string> Items(HWND box, UINT count_message, UINT text_message) {
  std::vector<std::string> items;
  const int count = static_cast<int>(SendMessageA(box, count_message, 0, 0));
  for (int i = 0; i < count; ++i) {
    char text[1100] = {};
    SendMessageA(box, text_message, i, reinterpret_cast<LPARAM>(text));
    items.push_back(text);
  }
  return items;
}

HWND WindowTest::Open() {
  Close();
  // The window's destruction shuts the socket library down, as the process
  // entry's start-up expects; each window gets its own start-up.
  WSADATA wsa;
  WSAStartup(MAKEWORD(1, 1), &wsa);
  window = shell::CreateMainWindow(GetModuleHandleA(nullptr), SW_SHOWNORMAL);
  Pump(50);
  return window;
}

HWND WindowTest::LoadTask(const std::vector<std::pair<std::string, std::string>>& entries, bool send) {
  std::string lines;
  for (const auto& [local, link] : entries) {
    lines += "03/14/26 09:00\t" + dir.File(local) + "\tAwaiting_command\t" + link + "\r\n";
  }
  WriteFile(dir.File(send ? "Default.snd" : "Default.rcv"), lines);
  shell::LoadDefaultTask();
  return List();
}

bool WindowTest::WaitForJobs() {
  const std::vector<jobs::JobHandle> started = shell::Globals().jobs;
  const auto ended = [&] {
    for (const jobs::JobHandle& job : started) {
      if (job->Running() > 0) return false;
    }
    return true;
  };
  for (int i = 0; i < 3000 && !ended(); ++i) Pump(20);
  Pump(100);  // the workers' last row updates
  return ended();
}

void WindowTest::Close() {
  if (IsWindow(window)) DestroyWindow(window);
  window = nullptr;
  // Drain the quit message posted by the destruction.
  MSG msg;
  for (int i = 0; i < 100 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) && msg.message != WM_QUIT; ++i) {
    DispatchMessageA(&msg);
  }
}

std::vector<SeenDialog> WindowTest::OnDialog(int command, const std::function<bool(HWND dialog)>& is_main,
                                             const std::function<void(HWND dialog)>& act) {
  bool acted = false;
  DialogWatcher watcher([&](HWND dialog) {
    if (!is_main(dialog)) {
      PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    } else if (!acted) {
      acted = true;
      act(dialog);
    }
  });
  Command(command);
  EXPECT_TRUE(acted) << "no dialog";
  return watcher.seen();
}

std::vector<SeenDialog> WindowTest::CloseAnswering(int button) {
  DialogWatcher watcher(DialogWatcher::Press(button));
  SendMessageA(window, WM_CLOSE, 0, 0);
  Pump();
  return watcher.seen();
}

std::vector<std::string> TextsOf(const std::vector<SeenDialog>& seen, const std::string& caption) {
  std::vector<std::string> texts;
  for (const SeenDialog& dialog : seen) {
    if (dialog.caption == caption) texts.push_back(dialog.text);
  }
  return texts;
}

namespace {
constexpr char kSettingsKey[] = "SOFTWARE\\Parcelo(32)";
DialogWatcher* g_watcher = nullptr;
}  // namespace

void RegistryValues::Forget() { RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingsKey); }

void RegistryValues::Set(const std::string& name, const std::string& value) {
  SetRegValue(kSettingsKey, name.c_str(), value);
}

DialogWatcher::DialogWatcher(Handler handler) : handler_(std::move(handler)) {
  g_watcher = this;
  hook_ = SetWindowsHookExA(WH_CBT, Hook, nullptr, GetCurrentThreadId());
}

DialogWatcher::~DialogWatcher() {
  UnhookWindowsHookEx(hook_);
  g_watcher = nullptr;
}

DialogWatcher::Handler DialogWatcher::Press(int button_id) {
  return [button_id](HWND dialog) { harness::Press(dialog, button_id); };
}

LRESULT CALLBACK DialogWatcher::Hook(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_ACTIVATE && g_watcher) {
    HWND window = reinterpret_cast<HWND>(wparam);
    char class_name[32] = {};
    GetClassNameA(window, class_name, sizeof class_name);
    if (std::string(class_name) == "#32770") {
      // The dialog is not fully set up while it is being activated: act on it
      // from a timer of its own, which its modal loop dispatches.
      SetTimer(window, 1, 20, OnTimer);
    }
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

void CALLBACK DialogWatcher::OnTimer(HWND dialog, UINT, UINT_PTR id, DWORD) {
  KillTimer(dialog, id);
  if (!g_watcher) return;
  g_watcher->seen_.push_back({WindowText(dialog), WindowText(GetDlgItem(dialog, 0xFFFF))});
  g_watcher->handler_(dialog);
}

std::string ListCell(HWND list, int row, int column) {
  char buffer[1032] = {};
  ListView_GetItemText(list, row, column, buffer, sizeof buffer - 1);
  return buffer;
}

int RowCount(HWND list) { return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)); }

void Select(HWND list, std::initializer_list<int> rows) {
  ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
  for (int row : rows) ListView_SetItemState(list, row, LVIS_SELECTED, LVIS_SELECTED);
}

std::string StatusText() {
  char text[512] = {};
  SendMessageA(shell::Globals().children.status_bar, SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text));
  return text;
}

void ChooseMode(int index) {
  HWND selector = shell::Globals().children.mode_selector;
  SendMessageA(selector, CB_SETCURSEL, index, 0);
  SendMessageA(GetParent(selector), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(selector), CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(selector));
}

std::string TaskLines(std::initializer_list<int> files) {
  std::string text;
  for (int i : files) {
    text += "03/14/26 09:0" + std::to_string(i) + "\tC:\\Down\\f" + std::to_string(i) +
            ".zip\tAwaiting_command\tftp://h/pub/f" + std::to_string(i) + ".zip\r\n";
  }
  return text;
}

LoopbackServer::LoopbackServer(int count, Answer answer) {
  net::Address loopback, bound;
  net::ParseNumeric("127.0.0.1", &loopback);
  listener_.Open();
  listener_.Listen(0, 64, loopback);
  listener_.LocalAddress(&bound, &port_);
  thread_ = std::thread([this, count, answer] { Serve(count, answer); });
}

LoopbackServer::~LoopbackServer() {
  closing_ = true;
  Release();
  thread_.join();
}

void LoopbackServer::Serve(int count, const Answer& answer) {
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
    for (long got = 1; got > 0 && request.find("\r\n\r\n") == std::string::npos && request.find('\x16') != 0;) {
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

}  // namespace harness
