// Posts menu commands to the running parcelo32.exe's main window, so that
// a script can open a dialog (scripts/screenshot opens the log viewer).
//
// Usage: send_command.exe <command>...
// where each command is a menu command id, or sys:<id> for an item of the
// drop window's system menu; they are posted in the order given.
// Exit status: 0 posted; 1 no main window or a bad id.
#include <windows.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 2) return 1;
  HWND window = FindWindowA("myprog", nullptr);
  if (!window) return 1;
  for (int i = 1; i < argc; ++i) {
    const char* text = argv[i];
    const bool system_menu = std::strncmp(text, "sys:", 4) == 0;
    if (system_menu) text += 4;
    char* end = nullptr;
    const long id = std::strtol(text, &end, 10);
    if (*end || id <= 0 || id > 0xFFFF) return 1;
    // Posted, not sent: the command may open a modal dialog that stays open.
    const BOOL posted = system_menu ? PostMessageA(window, WM_SYSCOMMAND, id, 0)
                                    : PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, 0), 0);
    if (!posted) return 1;
  }
  return 0;
}
