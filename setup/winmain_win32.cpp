#include <windows.h>

#include "setup/setup_win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
  return setup::Run(instance, command_line);
}
