// Receive Later and Send Later from the main window: the real time dialog
// driven as a user would, the marks that the exit question reads, and the
// empty-task message. The clock is set by the test.
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "settings/places.h"
#include "harness.h"
#include "platform/clock.h"
#include "resources/parcelo32_ids.h"
#include "tasks/schedule.h"

using harness::WindowText;

namespace {

clock_seam::LocalTime g_now;
clock_seam::LocalTime FakeNow() { return g_now; }

class Later : public harness::WindowTest {
 protected:
  Later() {
    g_now = {2026, 3, 14, 9, 7, 0};
    clock_seam::OverrideNow(&FakeNow);
  }
  ~Later() override { clock_seam::OverrideNow(nullptr); }

  // What the dialog shows: title|time|time enabled|Schedule checked|repeat.
  static std::string Look(HWND dialog) {
    return WindowText(dialog) + "|" + WindowText(GetDlgItem(dialog, IDC_LATER_TIME)) + "|" +
           (IsWindowEnabled(GetDlgItem(dialog, IDC_LATER_TIME)) ? "on" : "off") + "|" +
           (IsDlgButtonChecked(dialog, IDC_LATER_SCHEDULE) == BST_CHECKED ? "checked" : "unchecked") + "|" +
           WindowText(GetDlgItem(dialog, IDC_LATER_REPEAT));
  }
  // Presses OK with these texts; true while the dialog stays open.
  static bool Ok(HWND dialog, const char* time, const char* repeat) {
    SetDlgItemTextA(dialog, IDC_LATER_TIME, time);
    SetDlgItemTextA(dialog, IDC_LATER_REPEAT, repeat);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return IsWindowVisible(dialog) != 0;
  }
  static void ClickSchedule(HWND dialog) { SendDlgItemMessageA(dialog, IDC_LATER_SCHEDULE, BM_CLICK, 0, 0); }

  // Runs the command, handing its dialog to act; no other dialog may show.
  void Run(int command, const std::function<void(HWND)>& act) {
    const auto is_later = [](HWND dialog) { return GetDlgItem(dialog, IDC_LATER_TIME) != nullptr; };
    EXPECT_EQ(1u, OnDialog(command, is_later, act).size());
    harness::Pump();
  }
};

const char kEntry[] = "03/14/26 09:00\tC:\\Down\\f.zip\tAwaiting_command\tftp://h/pub/f.zip\r\n";
const char kExitQuestion[] = "Your file transfer is scheduled at a later time. Do you still want to exit?";

}  // namespace

// While the mark is set the exit question asks.
TEST_F(Later, TheDialogTakesOnlyGoodTimesSetsTheMarkAndShowsTheJobAgain) {
  harness::WriteFile(dir.File("Default.rcv"), kEntry);
  Open();
  std::string opened, refused;
  Run(IDM_RECEIVELATER, [&](HWND dialog) {
    opened = Look(dialog);
    ClickSchedule(dialog);
    // Which times are good is the native schedule table's; here that a bad one keeps the dialog.
    if (!Ok(dialog, "24:00", "")) refused += " accepted 24:00";
    if (schedule::AnyMarked()) refused += " marked";
    // A negative repeat is refused after the time has been taken, and
    // marks nothing: a Cancel now would leave no schedule behind.
    if (!Ok(dialog, "7:5", "-5")) refused += " accepted -5";
    if (schedule::AnyMarked()) refused += " marked by -5";
    if (Ok(dialog, "7:5", "30")) refused += " refused 7:5 every 30";
  });
  EXPECT_EQ("Enter time to schedule download|09:07|off|unchecked|", opened);
  EXPECT_EQ("", refused);
  ASSERT_EQ(1u, schedule::Jobs().jobs().size());
  const schedule::Job& job = schedule::Jobs().jobs()[0];
  EXPECT_EQ(dir.File("Default.rcv"), job.task_path);
  EXPECT_EQ((std::vector<int>{7, 5, 30}), (std::vector<int>{job.hour, job.minute, job.repeat}));

  // Cancel changes nothing; the job's own time and repeat come back.
  std::string reopened;
  Run(IDM_RECEIVELATER, [&](HWND dialog) {
    reopened = Look(dialog);
    ClickSchedule(dialog);
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  });
  EXPECT_EQ("Enter time to schedule download|07:05|on|checked|30", reopened);
  EXPECT_TRUE(schedule::Marked(app::kReceiveMode));
  EXPECT_EQ(harness::TextsOf(CloseAnswering(IDNO), "Message"), std::vector<std::string>{kExitQuestion});
  ASSERT_TRUE(IsWindow(window));
  EXPECT_TRUE(shell::Globals().thread_event_receive);  // declining keeps what the jobs need

  // An upload's mark asks as well, and with no mark nothing asks.
  schedule::SetMark(app::kReceiveMode, false);
  schedule::SetMark(app::kSendMode, true);
  EXPECT_EQ(1u, CloseAnswering(IDNO).size());
  schedule::SetMark(app::kSendMode, false);
  EXPECT_TRUE(CloseAnswering(IDNO).empty());
  EXPECT_FALSE(IsWindow(window));
}
