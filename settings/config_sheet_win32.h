// The Configuration property sheet: four pages over the edit copy of the
// settings, committed by OK. Win32 build only.
#pragma once

#include <windows.h>

#include <string>

namespace settings {

// Runs the sheet modally over owner and returns when it closes. The sheet
// reloads the settings (DOWNLOAD defaulting to program_directory) as it opens;
// each page's Help opens help_file at the configuration's context.
void OpenConfiguration(HINSTANCE instance, HWND owner, const std::string& program_directory,
                       const std::string& help_file);

INT_PTR CALLBACK GeneralDlgFunc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK FirewallDlgFunc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK ConnectionDlgFunc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK DialupDlgFunc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace settings
