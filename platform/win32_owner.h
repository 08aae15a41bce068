// The window that owns message boxes shown through the prompts port (the main
// window once it exists). Win32 build only.
#pragma once

#include <windows.h>

namespace win32 {
// The owner for a box raised on the calling thread: on the registered
// window's thread, the topmost enabled window of that thread (an open dialog
// or sheet, else the registered window), so that the box keeps the dialog in
// front and disabled windows stay disabled; none on any other thread. An
// owned box disables its owner until it closes, and a worker's box (a failed transfer) must leave Stop, the task
// and the mode usable; a task-modal box without owner disables only the
// calling thread's own windows, which a worker has none of.
HWND PromptOwner();
void SetPromptOwner(HWND owner);
// The registered window whatever the calling thread: the owner of the few
// dialogs a worker shows over the main window (the dial-up password).
HWND MainWindow();
}  // namespace win32
