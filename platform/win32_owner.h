// The window that owns message boxes shown through the prompts port (the main
// window once it exists). Win32 build only.
#pragma once

#include <windows.h>

namespace win32 {
HWND PromptOwner();
void SetPromptOwner(HWND owner);
}  // namespace win32
