// Posts a menu command to the running transfer program's main window, for
// scripts that show one of its dialogs (the screenshot script).
//
// Usage: post_command.exe <command id>
// Exit status: 0 posted; 1 no main window appeared within ten seconds.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 2) return 1;
  const WPARAM command = static_cast<WPARAM>(std::atoi(argv[1]));
  for (int i = 0; i < 100; ++i) {
    HWND window = FindWindowA("myprog", nullptr);
    DWORD_PTR ignored = 0;
    if (window && SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &ignored)) {
      return PostMessageA(window, WM_COMMAND, command, 0) ? 0 : 1;
    }
    Sleep(100);
  }
  return 1;
}
