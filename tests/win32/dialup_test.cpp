// The dial-up check before each attempt, against the stand-in RASAPI32.DLL:
// when it dials, which entry, with which password, when it asks for one, and
// that a burst of workers dials once.
#include <windows.h>

#include <thread>
#include <vector>

#include "harness.h"
#include "platform/prompts.h"
#include "ras_fake.h"
#include "resources/config_ids.h"
#include "settings/dialup.h"

using harness::DialogWatcher;
using harness::FakeRas;

namespace {

class Dialup : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(settings::LoadDialupLibrary(), 0);
    ASSERT_TRUE(FakeRas::Loaded()) << "Wine's RASAPI32.DLL was loaded: run with WINEDLLOVERRIDES=rasapi32=n,b";
    prompts::SetSink(&beeps);
  }
  void TearDown() override {
    prompts::SetSink(nullptr);
    settings::UnloadDialupLibrary();
  }

  harness::TempProgramDir dir;
  FakeRas ras;
  harness::RegistryValues registry;
  harness::CountingSink beeps;
};

// Each row: the configured entry, the phone book's saved passwords and its
// connections (name:state), and the calls the check makes. No dialog shows:
// every password needed is saved.
TEST_F(Dialup, DialsOnlyWhenNoConnectionIsUpAndThenTheRightEntry) {
  struct Case {
    const char *what, *dial_up, *connections, *calls, *dial_error = "";
  };
  std::string seventeen;
  for (int i = 0; i < 17; ++i) seventeen += (i ? "|C" : "C") + std::to_string(i) + ":8193";
  const Case cases[] = {
      {"nothing configured, no connection", "", "", ""},
      {"configured, no connection", "Office", "", "RasDialA Office officepw\n"},
      {"another entry is connected", "Office", "Home:8192", ""},
      {"connected after one being set up", "Office", "Pending:1|Home:8192", ""},
      {"one being set up is dialled by its own name", "Office", "Home:8193|Pending:1", "RasDialA Pending pendingpw\n"},
      {"the configured one has dropped", "Office", "Home:8193|Office:8193", "RasDialA Office officepw\n"},
      {"another one has dropped", "Office", "Home:8193", ""},
      // The library fills no record when they do not all fit.
      {"more connections than records", "Office", seventeen.c_str(), ""},
      // A failed dial gives its handle back, which must be hung up.
      {"the dial fails", "Office", "", "RasDialA Office officepw\nRasHangUpA\n", "676"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DialogWatcher watcher(DialogWatcher::Press(IDC_PASSWORD_CANCEL));
    ras.Set("Calls", "");
    ras.Set("Entries", "Home|Office|Pending");
    ras.Set("Saved", "Home=homepw|Office=officepw|Pending=pendingpw");
    ras.Set("Connections", c.connections);
    ras.Set("DialError", c.dial_error);
    registry.Set("DialUp", c.dial_up);
    settings::CheckDialup();
    EXPECT_EQ(ras.Calls(), c.calls);
    EXPECT_TRUE(watcher.seen().empty());
  }
}

// Without a saved password the check asks: Cancel, or Escape (IDCANCEL),
// closes the dialog and dials nothing, and the next attempt asks again; an
// empty password beeps and asks on, the typed one is saved and dialled.
TEST_F(Dialup, AsksForAPasswordThatIsNotSaved) {
  ras.Set("Entries", "Office");
  registry.Set("DialUp", "Office");
  for (int button : {IDC_PASSWORD_CANCEL, IDCANCEL}) {
    bool stayed = false;
    DialogWatcher watcher([&](HWND dialog) {
      SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
      stayed = IsWindowVisible(dialog) != FALSE;
      if (stayed) PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_PASSWORD_CANCEL, BN_CLICKED), 0);
    });
    settings::CheckDialup();
    EXPECT_EQ(watcher.seen().size(), 1u) << button;
    EXPECT_FALSE(stayed) << button;
    EXPECT_EQ(ras.Calls(), "") << button;
  }
  DialogWatcher watcher([](HWND dialog) {
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_PASSWORD_OK, BN_CLICKED), 0);  // empty: stays open
    SetDlgItemTextA(dialog, IDC_PASSWORD, "typed secret");
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_PASSWORD_OK, BN_CLICKED), 0);
  });
  settings::CheckDialup();
  ASSERT_EQ(watcher.seen().size(), 1u);
  EXPECT_EQ(watcher.seen()[0].caption, "Enter your Password for Dialup-Networking");
  EXPECT_EQ(beeps.beeps.load(), 1);
  EXPECT_EQ(ras.Calls(), "RasSetEntryDialParamsA Office typed secret\nRasDialA Office typed secret\n");
}

// Ten workers start while no connection is up; the dial takes a while.
TEST_F(Dialup, WorkersStartingAtOnceDialOnce) {
  ras.Set("Entries", "Office");
  ras.Set("Saved", "Office=officepw");
  ras.Set("DialDelay", "300");
  registry.Set("DialUp", "Office");
  std::vector<std::thread> workers;
  for (int i = 0; i < 10; ++i) workers.emplace_back(settings::CheckDialup);
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(ras.Calls(), "RasDialA Office officepw\n");
}

}  // namespace
