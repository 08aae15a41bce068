#include "tasks/later_dialog.h"

#include "settings/places.h"
#include "platform/clock.h"
#include "resources/parcelo32_ids.h"

namespace later_dialog {
namespace {

constexpr int kTextLimit = 79;

std::string ItemText(HWND dialog, int id) {
  char text[kTextLimit + 1] = {};
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

void OnInit(HWND dialog, Request* request) {
  SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(request));
  SetWindowTextA(dialog, request->mode == app::kSendMode ? "Enter time to schedule upload"
                                                         : "Enter time to schedule download");
  SendDlgItemMessageA(dialog, IDC_LATER_TIME, EM_LIMITTEXT, kTextLimit, 0);
  SendDlgItemMessageA(dialog, IDC_LATER_REPEAT, EM_LIMITTEXT, kTextLimit, 0);
  if (const schedule::Job* job = request->job) {
    SetDlgItemTextA(dialog, IDC_LATER_TIME, schedule::FormatTime(job->hour, job->minute).c_str());
    SetDlgItemTextA(dialog, IDC_LATER_REPEAT, std::to_string(job->repeat).c_str());
    CheckDlgButton(dialog, IDC_LATER_SCHEDULE, BST_CHECKED);
    return;
  }
  const clock_seam::LocalTime now = clock_seam::Now();
  SetDlgItemTextA(dialog, IDC_LATER_TIME, schedule::FormatTime(now.hour, now.minute).c_str());
  EnableWindow(GetDlgItem(dialog, IDC_LATER_TIME), FALSE);
}

// A refused time or repeat beeps and keeps the dialog open; a time accepted
// before a refused repeat stays in the request. Only an accepted schedule
// sets the mark: a Cancel after a refusal leaves nothing scheduled.
void OnOk(HWND dialog, Request* request) {
  if (IsDlgButtonChecked(dialog, IDC_LATER_SCHEDULE) != BST_CHECKED) {
    schedule::SetMark(request->mode, false);
    EndDialog(dialog, 0);
    return;
  }
  int hour = 0, minute = 0, repeat = 0;
  if (!schedule::ParseTime(ItemText(dialog, IDC_LATER_TIME), &hour, &minute)) {
    MessageBeep(0);
    return;
  }
  request->hour = hour;
  request->minute = minute;
  if (!schedule::ParseRepeat(ItemText(dialog, IDC_LATER_REPEAT), &repeat)) {
    MessageBeep(0);
    return;
  }
  request->repeat = repeat;
  schedule::SetMark(request->mode, true);
  EndDialog(dialog, 1);
}

void OnCommand(HWND dialog, WORD id) {
  Request* request = reinterpret_cast<Request*>(GetWindowLongPtrA(dialog, DWLP_USER));
  switch (id) {
    case IDOK:
      OnOk(dialog, request);
      break;
    case IDCANCEL:
      EndDialog(dialog, 0);
      break;
    case IDC_LATER_SCHEDULE:
      EnableWindow(GetDlgItem(dialog, IDC_LATER_TIME),
                   IsDlgButtonChecked(dialog, IDC_LATER_SCHEDULE) == BST_CHECKED);
      break;
    case IDC_LATER_HELP:
      WinHelpA(GetParent(dialog), request->help_file.c_str(), HELP_CONTEXT, HELP_CONTEXT_LATER);
      break;
  }
}

}  // namespace

INT_PTR CALLBACK LaterDlgFunc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      OnInit(dialog, reinterpret_cast<Request*>(lparam));
      return TRUE;
    case WM_COMMAND:
      OnCommand(dialog, LOWORD(wparam));
      return TRUE;
    case WM_HELP:  // F1
      OnCommand(dialog, IDC_LATER_HELP);
      return TRUE;
    case WM_CLOSE:
      EndDialog(dialog, 0);
      return TRUE;
  }
  return FALSE;
}

int Run(HINSTANCE instance, HWND owner, Request* request) {
  return DialogBoxParamA(instance, "DATETIME", owner, LaterDlgFunc, reinterpret_cast<LPARAM>(request)) == 1 ? 1
                                                                                                          : 0;
}

}  // namespace later_dialog
