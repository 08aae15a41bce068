// The Configuration sheet driven through the real property sheet: pages
// reached with PSM_SETCURSEL, controls set with their own messages, OK and
// Cancel pressed through the sheet; what reaches the store and the live
// settings.
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <vector>

#include "harness.h"
#include "ras_fake.h"
#include "resources/config_ids.h"
#include "settings/settings.h"
#include "settings/store.h"
#include "resources/parcelo32_ids.h"
#include "settings/dirlist.h"

using harness::WindowText;

namespace {

using Texts = std::vector<std::string>;

constexpr char kUnset[] = "(unset)";
enum PageIndex { kGeneral, kFirewall, kMisc, kDialup };

std::string Stored(const char* name) { return settings::ReadText(name, kUnset); }

HWND CurrentPage(HWND sheet) { return reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0)); }

HWND Show(HWND sheet, int index) {
  SendMessageA(sheet, PSM_SETCURSEL, index, 0);
  return CurrentPage(sheet);
}

void Click(HWND page, int id) { SendMessageA(GetDlgItem(page, id), BM_CLICK, 0, 0); }
void Type(HWND page, int id, const char* text) { SetDlgItemTextA(page, id, text); }
void Press(HWND sheet, int button) { SendMessageA(sheet, PSM_PRESSBUTTON, button, 0); }

class ConfigSheet : public harness::WindowTest {
 protected:
  // Config: runs act once on the sheet, which must end it (OK or Cancel);
  // answers each "Error" box with OK and accepts in the directory chooser.
  // Returns the texts of the Error boxes.
  Texts Configure(const std::function<void(HWND sheet)>& act) {
    const auto seen = OnDialog(IDM_CONFIG, [](HWND dialog) { return WindowText(dialog) == "Configuration"; }, act);
    return harness::TextsOf(seen, "Error");
  }
};

// OK writes back what was stored, whichever pages were seen: no page takes a
// setting from a control that shows another one, and the General page leaves
// Passive alone.
TEST_F(ConfigSheet, OkAfterVisitingPagesKeepsTheStoredValues) {
  const std::vector<std::vector<int>> visits = {{}, {kFirewall}, {kFirewall, kMisc, kDialup, kGeneral}};
  Open();
  for (const std::vector<int>& visit : visits) {
    SCOPED_TRACE(visit.size());
    const std::pair<const char*, const char*> stored[] = {
        {"DOWNLOAD", dir.path().c_str()}, {"Passive", "0"},       {"ResumeOption", "1"},
        {"Filetype", "2"},                {"Firewall", "1"},      {"FirewallPortHTTP", "8080"},
        {"FirewallAddressHTTP", "proxy.example"},                 {"FirewallPortFTP", "2121"},
        {"CycleDownload", "3"},           {"CycleUpload", "4"},   {"email", "me@example.org"},
        {"OnTop", "1"},                   {"WindowMode", "0"},    {"MaxPerServer", "3"},
        {"SpeedLimit", "512"},            {"Split", "6"}};
    for (const auto& [name, value] : stored) registry.Set(name, value);
    Texts errors = Configure([&](HWND sheet) {
      for (int page : visit) Show(sheet, page);
      Press(sheet, PSBTN_OK);
    });
    EXPECT_TRUE(errors.empty());
    for (const auto& [name, value] : stored) EXPECT_EQ(Stored(name), value) << name;
  }
}

// Cancel leaves the store and the live settings as they were, whatever the
// pages were given.
TEST_F(ConfigSheet, CancelKeepsEverything) {
  registry.Set("DOWNLOAD", dir.path());
  registry.Set("Firewall", "0");
  registry.Set("email", "kept@example.org");
  Open();
  Configure([&](HWND sheet) {
    HWND general = CurrentPage(sheet);
    Type(general, IDC_GENERAL_EMAIL, "changed@example.org");
    Click(general, IDC_GENERAL_OVERWRITE);
    HWND page = Show(sheet, kFirewall);
    Click(page, IDC_FIREWALL_PASSIVE);
    Click(page, IDC_FIREWALL_ON);
    Press(sheet, PSBTN_CANCEL);
  });
  EXPECT_EQ(Stored("email"), "kept@example.org");
  EXPECT_EQ(Stored("ResumeOption"), kUnset);
  EXPECT_EQ(Stored("PASSIVE"), kUnset);
  EXPECT_EQ(Stored("Firewall"), "0");
  // What is live and the copy the next opening edits stay as they were.
  EXPECT_EQ(settings::Live().email + settings::EditCopy().email, "kept@example.orgkept@example.org");
}

// Numbers are read unsigned as typed; what is no number, or below 1, is 0.
// The Misc. page stores while the user types: its OK only commits. Browse
// puts the chosen directory (the chooser accepts the current one) into the
// download edit.
TEST_F(ConfigSheet, TypedNumbersTextsAndTheBrowsedDirectoryReachTheStore) {
  registry.Set("DOWNLOAD", dir.File("gone"));
  Open();
  std::string shown;
  Texts errors = Configure([&](HWND sheet) {
    HWND general = CurrentPage(sheet);
    Click(general, IDC_GENERAL_BROWSE);
    shown = WindowText(GetDlgItem(general, IDC_GENERAL_DOWNLOAD));
    Type(general, IDC_GENERAL_EMAIL, "typed@example.org");
    Click(general, IDC_GENERAL_OVERWRITE);
    Click(general, IDC_GENERAL_BINARY);
    Click(general, IDC_GENERAL_WINDOWMODE);
    HWND firewall = Show(sheet, kFirewall);
    Click(firewall, IDC_FIREWALL_ON);
    Type(firewall, IDC_FIREWALL_HTTP_ADDRESS, "10.0.0.8");
    Type(firewall, IDC_FIREWALL_HTTP_PORT, "abc");
    Type(firewall, IDC_FIREWALL_FTP_PORT, "70000");
    HWND misc = Show(sheet, kMisc);
    Type(misc, IDC_CONNECTION_CYCLE_DOWNLOAD, "5");
    Type(misc, IDC_CONNECTION_CYCLE_UPLOAD, "-3");
    Type(misc, IDC_CONNECTION_MAX_PER_SERVER, "0");
    Type(misc, IDC_CONNECTION_SPEED_LIMIT, "2048");
    Type(misc, IDC_CONNECTION_SPLIT, "40");
    Press(sheet, PSBTN_OK);
  });
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(shown, dirlist::AcceptedText(dir.path()));
  const std::pair<const char*, std::string> expected[] = {
      {"email", "typed@example.org"}, {"ResumeOption", "1"},     {"Filetype", "1"},
      {"WindowMode", "1"},            {"Firewall", "1"},         {"FirewallAddressHTTP", "10.0.0.8"},
      {"FirewallPortHTTP", "0"},      {"FirewallPortFTP", "70000"}, {"CycleDownload", "5"},
      {"CycleUpload", "0"},           {"PASSIVE", "1"},          {"MaxPerServer", "0"},
      {"SpeedLimit", "2048"},         {"Split", "16"},           {"DOWNLOAD", dirlist::AcceptedText(dir.path())}};
  for (const auto& [name, value] : expected) EXPECT_EQ(Stored(name), value) << name;
  EXPECT_EQ(settings::Live().firewall_port_ftp, 70000);
}

// The first visited page refuses the commit; the pages after it are not
// applied, so the user is told once, and the sheet stays for a correction,
// the main window still disabled once the box is gone.
TEST_F(ConfigSheet, RefusedDownloadDirectoryKeepsTheSheetOpen) {
  const std::pair<std::string, const char*> cases[] = {
      {dir.File("gone"), "Download directory does not exist"},
      {dir.File("Com2\\x"), "Download directory names a device: Com2"}};
  for (const auto& [download, error] : cases) {
    SCOPED_TRACE(error);
    registry.Set("DOWNLOAD", download);
    Open();
    bool open_after_ok = false, main_enabled_after_ok = true;
    Texts errors = Configure([&](HWND sheet) {
      Show(sheet, kFirewall);
      Press(sheet, PSBTN_OK);
      open_after_ok = IsWindow(sheet) && IsWindowVisible(sheet);
      main_enabled_after_ok = IsWindowEnabled(window) != FALSE;
      Press(sheet, PSBTN_CANCEL);
    });
    EXPECT_EQ(errors, Texts{error});
    EXPECT_TRUE(open_after_ok);
    EXPECT_FALSE(main_enabled_after_ok);
    EXPECT_EQ(Stored("PASSIVE"), kUnset);
    EXPECT_EQ(Stored("DOWNLOAD"), download);
  }
}

class DialupPage : public ConfigSheet {
 protected:
  harness::FakeRas ras;
};

// "Don't use dial-up connection" stores an empty DialUp and shows again on
// the next opening; an entry of the phone book stores its name.
TEST_F(DialupPage, ListsThePhoneBookAndStoresTheChoice) {
  ras.Set("Entries", "Office|Home");
  registry.Set("DOWNLOAD", dir.path());
  registry.Set("DialUp", "Home");
  Open();
  ASSERT_TRUE(harness::FakeRas::Loaded()) << "run with WINEDLLOVERRIDES=rasapi32=n,b";
  // Each opening: the item selected as it opens, the item picked (-1:
  // Cancel instead), DialUp afterwards.
  const struct { int selected, pick; const char* stored; } openings[] = {{2, 0, ""}, {0, 1, "Office"}, {1, -1, "Office"}};
  for (const auto& o : openings) {
    SCOPED_TRACE(o.pick);
    Texts items;
    int selected = -1;
    Configure([&](HWND sheet) {
      HWND page = Show(sheet, kDialup);
      HWND box = GetDlgItem(page, IDC_DIALUP_ENTRIES);
      items = harness::Items(box, CB_GETCOUNT, CB_GETLBTEXT);
      selected = static_cast<int>(SendMessageA(box, CB_GETCURSEL, 0, 0));
      if (o.pick >= 0) {  // picked as the user does: the list tells its page
        SendMessageA(box, CB_SETCURSEL, o.pick, 0);
        SendMessageA(page, WM_COMMAND, MAKEWPARAM(IDC_DIALUP_ENTRIES, CBN_SELCHANGE), reinterpret_cast<LPARAM>(box));
      }
      Press(sheet, o.pick >= 0 ? PSBTN_OK : PSBTN_CANCEL);
    });
    EXPECT_EQ(items, (Texts{"Don't use dial-up connection", "Office", "Home"}));
    EXPECT_EQ(selected, o.selected);
    EXPECT_EQ(Stored("DialUp"), o.stored);
  }
}

}  // namespace
