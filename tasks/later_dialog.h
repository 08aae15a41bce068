// The time dialog of Receive Later and Send Later (Win32 only).
#pragma once

#include <windows.h>

#include <string>

#include "tasks/schedule.h"

namespace later_dialog {

// What the dialog opens with, and the entry it accepted.
struct Request {
  int mode = 0;                        // the title, and the mark that OK sets
  const schedule::Job* job = nullptr;  // the task's job, shown when there is one
  std::string help_file;
  int hour = 0, minute = 0, repeat = 0;  // set when the dialog returns 1
};

// Dialog procedure of "DATETIME"; lParam of WM_INITDIALOG is the Request.
INT_PTR CALLBACK LaterDlgFunc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Runs the dialog modally; 1 when a schedule was accepted, otherwise 0.
int Run(HINSTANCE instance, HWND owner, Request* request);

}  // namespace later_dialog
