// Start-up of both modes, the dark-blue backdrop window of an installation
// and its message loop.
#include "setup/setup_win32.h"

#include <cstring>

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
// refusal at either step ends the program.
void OnStart(HWND window) {
  State& s = Globals();
  if (DialogBoxParamA(s.instance, "IDD_LICENSE", window, LicenseDlgFunc, 0) == 1 &&
      DialogBoxParamA(s.instance, "PATHDLG", window, PathDlgFunc, 0) == 0) {
    s.setup_dialog = CreateDialogParamA(s.instance, "SETUPDLG", window, SetupDlgFunc, 0);
    if (s.setup_dialog != nullptr) {
      ShowWindow(s.setup_dialog, SW_SHOW);
      return;
    }
  }
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

int Uninstall(HINSTANCE instance) {
  if (MessageBoxA(nullptr, "Are you sure you want to remove Parcelo(32) and all of its components",
                  "UnInstall Parcelo(32)", MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL) != IDYES) {
    return 0;
  }
  DialogBoxParamA(instance, "UNINSTALL", nullptr, UninstallDlgFunc, 0);
  return 0;
}

int Install(HINSTANCE instance) {
  State& s = Globals();
  s.main_window = CreateWindowA(kClassName, "Installing Parcelo(32)", WS_CAPTION, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance,
                                nullptr);
  if (s.main_window == nullptr) return 1;
  ShowWindow(s.main_window, SW_SHOWMAXIMIZED);
  UpdateWindow(s.main_window);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (s.setup_dialog != nullptr && IsDialogMessageA(s.setup_dialog, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
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
  if (command_line != nullptr && std::strcmp(command_line, "-UNINSTALL") == 0) return Uninstall(instance);
  s.source_directory = SourceDirectory();
  return Install(instance);
}

void CenterOnScreen(HWND window) {
  RECT frame;
  GetWindowRect(window, &frame);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  SetWindowPos(window, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
               (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
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
