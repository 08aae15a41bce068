// Posts one menu command to the running parcelo32.exe's main window, so that
// a script can open a dialog (scripts/screenshot opens the log viewer).
//
// Usage: send_command.exe <command id>
// Exit status: 0 posted; 1 no main window or a bad id.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 2) return 1;
  char* end = nullptr;
  const long id = std::strtol(argv[1], &end, 10);
  if (*end || id <= 0 || id > 0xFFFF) return 1;
  HWND window = FindWindowA("myprog", nullptr);
  if (!window) return 1;
  // Posted, not sent: the command may open a modal dialog that stays open.
  return PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, 0), 0) ? 0 : 1;
}
