// Posts one command to the running parcelo32.exe, so that a script can open a
// dialog (scripts/screenshot opens the log viewer and the configuration).
//
// Usage: send_command.exe <command id>        menu command to the main window
//        send_command.exe --page <index>      show that page of "Configuration"
//        send_command.exe --page-command <id> command to its current page
// Exit status: 0 posted; 1 no such window or a bad number.
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <cstring>

namespace {

bool ReadNumber(const char* text, long* value) {
  char* end = nullptr;
  *value = std::strtol(text, &end, 10);
  return !*end && *value >= 0 && *value <= 0xFFFF;
}

HWND ConfigurationSheet() { return FindWindowA("#32770", "Configuration"); }

}  // namespace

int main(int argc, char** argv) {
  long number = 0;
  if (argc < 2 || !ReadNumber(argv[argc - 1], &number)) return 1;
  // Posted, not sent: the command may open a modal dialog that stays open.
  if (argc == 2) {
    HWND window = FindWindowA("myprog", nullptr);
    return window && number > 0 && PostMessageA(window, WM_COMMAND, MAKEWPARAM(number, 0), 0) ? 0 : 1;
  }
  HWND sheet = ConfigurationSheet();
  if (argc != 3 || !sheet) return 1;
  if (std::strcmp(argv[1], "--page") == 0) return PostMessageA(sheet, PSM_SETCURSEL, number, 0) ? 0 : 1;
  if (std::strcmp(argv[1], "--page-command") != 0) return 1;
  HWND page = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
  return page && PostMessageA(page, WM_COMMAND, MAKEWPARAM(number, BN_CLICKED), 0) ? 0 : 1;
}
