// Opens a help file in the platform's help viewer at a help context number,
// as the program's Help buttons do, so that scripts/screenshot can show a
// topic whose dialog it cannot open.
//
// Usage: open_help.exe <help file> <context number>
// Exit status: 0 the viewer took the request; 1 otherwise.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 3) return 1;
  char* end = nullptr;
  const unsigned long context = std::strtoul(argv[2], &end, 10);
  if (*end || end == argv[2]) return 1;
  // WinHelp wants an owner window; a hidden one will do.
  HWND owner = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  const BOOL opened = WinHelpA(owner, argv[1], HELP_CONTEXT, context);
  DestroyWindow(owner);
  return opened ? 0 : 1;
}
