// The log viewer dialog: Show Log's modal view of the transfer log of the
// current mode, with Clear All, and Execute for downloaded files.
#pragma once

#include <windows.h>

#include <string>

namespace log_viewer {

// Opens DOWNLOG over the download log in receive mode, UPLOADLOG over the
// upload log in send mode, and returns when it is closed. Help opens
// help_file at the log's context.
void ShowLog(HINSTANCE instance, HWND owner, const std::string& help_file);

// The procedure of both templates; the dialog's mode comes as lParam of
// WM_INITDIALOG.
INT_PTR CALLBACK LogDlgFunc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace log_viewer
