#include <windows.h>

#include "shell/shell.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command) {
  return shell::ProcessEntry(instance, show_command);
}
