// Posts commands to the running parcelo32.exe, so that a script can open a
// dialog (scripts/screenshot opens the log viewer, the configuration and the
// entry dialogs).
//
// Usage: send_command.exe <command>...
// where each command, posted in the order given, is one of
//   <id>                  a menu command to the main window
//   sys:<id>              an item of the drop window's system menu
//   --page <index>        show that page of "Configuration"
//   --page-command <id>   a command to the current page of "Configuration"
//   --sheet-ok            press OK on "Configuration"
//   --box-ok <caption>    press OK on the message box with that caption
// Exit status: 0 posted; 1 no such window or a bad number.
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <cstring>

namespace {

bool ReadNumber(const char* text, long* value) {
  char* end = nullptr;
  *value = std::strtol(text, &end, 10);
  return *text && !*end && *value >= 0 && *value <= 0xFFFF;
}

HWND ConfigurationSheet() { return FindWindowA("#32770", "Configuration"); }

// Posted, not sent: a command may open a modal dialog that stays open.
bool PostToSheet(const char* option, long number) {
  HWND sheet = ConfigurationSheet();
  if (!sheet) return false;
  if (std::strcmp(option, "--page") == 0) return PostMessageA(sheet, PSM_SETCURSEL, number, 0) != 0;
  HWND page = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
  return page && PostMessageA(page, WM_COMMAND, MAKEWPARAM(number, BN_CLICKED), 0);
}

bool PostToMainWindow(const char* text) {
  HWND window = FindWindowA("myprog", nullptr);
  const bool system_menu = std::strncmp(text, "sys:", 4) == 0;
  long id = 0;
  if (!window || !ReadNumber(system_menu ? text + 4 : text, &id) || id == 0) return false;
  return system_menu ? PostMessageA(window, WM_SYSCOMMAND, id, 0) != 0
                     : PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, 0), 0) != 0;
}

bool PressSheetOk() {
  HWND sheet = ConfigurationSheet();
  return sheet && PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0) != 0;
}

bool PressBoxOk(const char* caption) {
  HWND box = FindWindowA("#32770", caption);
  return box && PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0) != 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--sheet-ok") == 0) {
      if (!PressSheetOk()) return 1;
      continue;
    }
    if (std::strcmp(argv[i], "--box-ok") == 0) {
      if (i + 1 >= argc || !PressBoxOk(argv[++i])) return 1;
      continue;
    }
    const bool sheet_option = std::strcmp(argv[i], "--page") == 0 || std::strcmp(argv[i], "--page-command") == 0;
    if (!sheet_option) {
      if (!PostToMainWindow(argv[i])) return 1;
      continue;
    }
    long number = 0;
    if (i + 1 >= argc || !ReadNumber(argv[i + 1], &number) || !PostToSheet(argv[i], number)) return 1;
    ++i;
  }
  return 0;
}
