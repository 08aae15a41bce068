// The setup program. Installation and uninstallation are not built yet: the
// program tells the user so and ends.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  MessageBoxA(nullptr, "This setup program cannot install Parcelo(32) yet.", "Setup",
              MB_OK | MB_ICONINFORMATION);
  return 0;
}
