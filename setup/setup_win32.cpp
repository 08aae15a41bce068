// Start-up of both modes, the dark-blue backdrop window of an installation
// and its message loop.
#include "setup/setup_win32.h"

#include <cstdio>

#include "setup/filelist.h"
#include "setup/rules.h"

namespace setup {
namespace {

constexpr char kClassName[] = "INSTALL";
constexpr UINT kStartMessage = WM_USER + 1;

void PaintBackdrop(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  RECT client;
  GetClientRect(window, &client);
  HBRUSH blue = CreateSolidBrush(RGB(0, 0, 192));
  FillRect(dc, &client, blue);
  DeleteObject(blue);
  EndPaint(window, &paint);
}

// Licence, then directories, then the setup dialog that does the work; a
// refusal at either step ends the program. A silent installation takes its
// directories from the command line or the defaults and shows nothing.
void OnStart(HWND window) {
  State& s = Globals();
  const bool chosen = s.silent ? PrepareSilentDirectories()
                               : DialogBoxParamA(s.instance, "IDD_LICENSE", window, LicenseDlgFunc, 0) == 1 &&
                                     DialogBoxParamA(s.instance, "PATHDLG", window, PathDlgFunc, 0) == 0;
  if (chosen) {
    s.setup_dialog = CreateDialogParamA(s.instance, "SETUPDLG", window, SetupDlgFunc, 0);
    if (s.setup_dialog != nullptr) {
      if (!s.silent) ShowWindow(s.setup_dialog, SW_SHOW);
      return;
    }
  }
  s.failed = true;
  DestroyWindow(window);
}

LRESULT CALLBACK InstallWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      Globals().system_directory = SystemDirectory();
      PostMessageA(window, kStartMessage, 0, 0);
      return 0;
    case kStartMessage:
      OnStart(window);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      PaintBackdrop(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

bool RegisterInstallClass(HINSTANCE instance) {
  WNDCLASSA window_class = {};
  window_class.style = CS_HREDRAW | CS_VREDRAW | CS_BYTEALIGNCLIENT | CS_BYTEALIGNWINDOW;
  window_class.lpfnWndProc = InstallWndProc;
  window_class.hInstance = instance;
  window_class.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  window_class.lpszClassName = kClassName;
  return RegisterClassA(&window_class) != 0;
}

std::string SourceDirectory() {
  char module[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, module, sizeof module - 1);
  const PathParts parts = SplitPath(module);
  return parts.drive + parts.directory;
}

// A modal dialog shows itself even without WS_VISIBLE, so the silent
// uninstall runs the same dialog modeless and hidden, with a loop of its own.
int Uninstall(HINSTANCE instance) {
  State& s = Globals();
  if (s.silent) {
    HWND dialog = CreateDialogParamA(instance, "UNINSTALL", nullptr, UninstallDlgFunc, 0);
    MSG message;
    while (dialog != nullptr && IsWindow(dialog) && GetMessageA(&message, nullptr, 0, 0) > 0) {
      if (IsDialogMessageA(dialog, &message)) continue;
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    return dialog != nullptr && !s.failed ? 0 : 1;
  }
  if (MessageBoxA(nullptr, "Are you sure you want to remove Parcelo(32) and all of its components",
                  "UnInstall Parcelo(32)", MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL) != IDYES) {
    return 0;
  }
  DialogBoxParamA(instance, "UNINSTALL", nullptr, UninstallDlgFunc, 0);
  return s.failed ? 1 : 0;
}

int Install(HINSTANCE instance) {
  State& s = Globals();
  s.main_window = CreateWindowA(kClassName, "Installing Parcelo(32)", WS_CAPTION, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance,
                                nullptr);
  if (s.main_window == nullptr) return 1;
  if (!s.silent) {
    ShowWindow(s.main_window, SW_SHOWMAXIMIZED);
    UpdateWindow(s.main_window);
  }
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (s.setup_dialog != nullptr && IsDialogMessageA(s.setup_dialog, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return s.failed ? 1 : 0;
}

std::string LogPath() {
  char directory[MAX_PATH + 1] = {};
  GetTempPathA(sizeof directory - 1, directory);
  return std::string(directory) + "setup.log";
}

}  // namespace

State& Globals() {
  static State state;
  return state;
}

int Run(HINSTANCE instance, const char* command_line) {
  State& s = Globals();
  s.instance = instance;
  if (!RegisterInstallClass(instance)) return 1;
  const CommandLine line = ParseCommandLine(command_line != nullptr ? command_line : "");
  s.silent = line.silent;
  s.main_directory = line.directory;
  if (s.silent) std::remove(LogPath().c_str());
  s.source_directory = SourceDirectory();
  return line.uninstall ? Uninstall(instance) : Install(instance);
}

void CenterOnScreen(HWND window) {
  RECT frame;
  GetWindowRect(window, &frame);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  SetWindowPos(window, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
               (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

int ShowMessage(HWND owner, const std::string& text, const char* title, UINT flags) {
  if (!Globals().silent) return MessageBoxA(owner, text.c_str(), title, flags | MB_TASKMODAL);
  LogLine(text);
  return (flags & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK;
}

void LogLine(const std::string& text) {
  if (!Globals().silent) return;
  std::FILE* log = std::fopen(LogPath().c_str(), "a");
  if (log == nullptr) return;
  std::fprintf(log, "%s\n", text.c_str());
  std::fclose(log);
}

void RemoveCreatedDirectories() {
  std::vector<std::string>& created = Globals().created_directories;
  for (auto level = created.rbegin(); level != created.rend(); ++level) RemoveDirectoryA(level->c_str());
  created.clear();
}

std::vector<std::string> MainDirectoryNames() {
  std::vector<std::string> names;
  for (int i = 0; i < kFirstSystemEntry && kFileList[i].destination[0] != '\0'; ++i) {
    names.push_back(kFileList[i].destination);
  }
  return names;
}

std::string SystemDirectory() {
  char directory[MAX_PATH + 3] = {};
  GetSystemDirectoryA(directory, sizeof directory - 1);
  std::string text = directory;
  while (text.size() > 3 && text.back() == '\\') text.pop_back();
  return text;
}

void StartHidden(const char* command_line) {
  if (command_line == nullptr || command_line[0] == '\0') return;
  std::string writable = command_line;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process = {};
  if (CreateProcessA(nullptr, &writable[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                     &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
}

}  // namespace setup
