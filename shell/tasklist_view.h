// The Win32 body of the task list port: the main window's SysListView32.
#pragma once

#include <windows.h>

namespace shell {
// Installs a body over list (rows) and title_window (the title); replaces the
// previous one.
void InstallTaskListView(HWND list, HWND title_window);
}  // namespace shell
