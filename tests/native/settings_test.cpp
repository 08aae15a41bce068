#include "settings/settings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <limits>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "native/settings_fixtures.h"
#include "settings/store.h"

namespace {

using settings::Record;
using settings_fixtures::RecordingSink;
using settings_fixtures::RecordingStore;
using settings_fixtures::ScratchDir;

auto Fields(const Record& r) {
  return std::make_tuple(r.email, r.download, r.resume_option, r.file_type, r.firewall_address_http,
                         r.firewall_address_ftp, r.firewall_port_ftp, r.firewall_port_http, r.server_retry,
                         r.resume_retry, r.passive, r.window_mode, r.on_top, r.firewall, r.cycle_download,
                         r.cycle_upload, r.use_ftp_script, r.use_http_script, r.dial_up);
}

// A record in which every field differs from its default and from the others.
Record Distinct(const std::string& download) {
  Record r;
  r.email = "me@example.org";
  r.download = download;
  r.resume_option = 1;
  r.file_type = 2;
  r.firewall_address_http = "http-proxy.example";
  r.firewall_address_ftp = "ftp-proxy.example";
  r.firewall_port_ftp = 2121;
  r.firewall_port_http = 3128;
  r.server_retry = 4;
  r.resume_retry = 1;  // nobody writes it, so it keeps its default
  r.passive = 0;
  r.window_mode = 1;
  r.on_top = 1;
  r.firewall = 1;
  r.cycle_download = -3;
  r.cycle_upload = 7;
  r.use_ftp_script = 5;
  r.use_http_script = 6;
  r.dial_up = "Office line";
  return r;
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    settings::InstallStore(&store_);
    prompts::SetSink(&sink_);
  }
  void TearDown() override {
    settings::InstallStore(nullptr);
    prompts::SetSink(nullptr);
  }

  RecordingStore store_;
  RecordingSink sink_;
  ScratchDir dir_;
};

TEST_F(SettingsTest, EmptyStoreGivesTheDefaults) {
  settings::Load("/opt/parcelo");
  Record live = settings::Live();
  EXPECT_EQ(live.download, "/opt/parcelo");
  EXPECT_EQ(live.email, settings::kPlaceholderEmail);
  EXPECT_EQ(live.passive, 1);
  EXPECT_EQ(live.firewall_port_ftp, 23);
  EXPECT_EQ(live.firewall_port_http, 23);
  EXPECT_EQ(live.server_retry, 1);
  EXPECT_EQ(live.resume_retry, 1);
  EXPECT_EQ(live.dial_up, "");
  EXPECT_EQ(live.firewall_address_ftp, "");
  EXPECT_EQ(live.firewall_address_http, "");
  for (std::int32_t zero : {live.resume_option, live.file_type, live.window_mode, live.on_top, live.firewall,
                            live.cycle_download, live.cycle_upload, live.use_ftp_script, live.use_http_script}) {
    EXPECT_EQ(zero, 0);
  }
  EXPECT_EQ(Fields(settings::EditCopy()), Fields(live));
  EXPECT_TRUE(store_.Writes().empty());
}

TEST_F(SettingsTest, LoadReadsInTableOrder) {
  settings::Load(dir_.path());
  const std::vector<std::string> expected = {
      "ResumeOption", "Filetype",   "DOWNLOAD",      "FirewallAddressFTP", "FirewallPortFTP",
      "FirewallAddressHTTP", "FirewallPortHTTP", "email", "DialUp", "Firewall",
      "Passive",      "ServerRetry", "ResumeRetry",  "CycleDownload",      "CycleUpload",
      "WindowMode",   "OnTop",      "UseHTTPScript", "UseFTPScript"};
  EXPECT_EQ(store_.Reads(), expected);
}

TEST_F(SettingsTest, CommitWritesEveryFieldInOrderAsDecimalText) {
  settings::Load(dir_.path());
  settings::EditCopy() = Distinct(dir_.path());
  store_.ClearLog();

  ASSERT_EQ(settings::Commit(), 0);

  const std::vector<std::pair<std::string, std::string>> expected = {
      {"ResumeOption", "1"},
      {"Filetype", "2"},
      {"DOWNLOAD", dir_.path()},
      {"FirewallAddressFTP", "ftp-proxy.example"},
      {"FirewallPortFTP", "2121"},
      {"FirewallAddressHTTP", "http-proxy.example"},
      {"FirewallPortHTTP", "3128"},
      {"email", "me@example.org"},
      {"Firewall", "1"},
      {"WindowMode", "1"},
      {"OnTop", "1"},
      {"PASSIVE", "0"},
      {"ServerRetry", "4"},
      {"CycleDownload", "-3"},
      {"CycleUpload", "7"},
      {"UseHTTPScript", "6"},
      {"UseFTPScript", "5"},
      {"DialUp", "Office line"},
  };
  EXPECT_EQ(store_.Writes(), expected);
  EXPECT_TRUE(store_.Reads().empty());
  EXPECT_TRUE(sink_.shown.empty());
  EXPECT_EQ(Fields(settings::Live()), Fields(Distinct(dir_.path())));
}

TEST_F(SettingsTest, CommittedSettingsLoadBackWhole) {
  settings::Load(dir_.path());
  const Record committed = Distinct(dir_.path());
  settings::EditCopy() = committed;
  ASSERT_EQ(settings::Commit(), 0);

  // PASSIVE is written, Passive read: the store must see them as one value.
  settings::SetLivePassive(1);
  settings::EditCopy().email = "not committed";
  settings::Load("/elsewhere");

  EXPECT_EQ(Fields(settings::Live()), Fields(committed));
  EXPECT_EQ(Fields(settings::EditCopy()), Fields(committed));
}

TEST_F(SettingsTest, LoadDiscardsUncommittedChanges) {
  settings::Load(dir_.path());
  settings::SetLivePassive(0);  // a refused PASV switched the run to active FTP
  settings::EditCopy().dial_up = "typed but not applied";
  EXPECT_EQ(settings::Live().passive, 0);

  settings::Load(dir_.path());
  EXPECT_EQ(settings::Live().passive, 1);
  EXPECT_EQ(settings::EditCopy().dial_up, "");
}

TEST_F(SettingsTest, CommitWithMissingDownloadDirectoryIsRefused) {
  const std::string gone = dir_.Join("downloads");
  std::filesystem::create_directory(gone);
  store_.Put("DOWNLOAD", gone);
  store_.Put("FirewallAddressHTTP", "old-proxy");
  settings::Load(dir_.path());
  const Record before = settings::Live();
  const auto stored_before = store_.Values();
  std::filesystem::remove(gone);  // deleted while the sheet was open

  settings::EditCopy().firewall_address_http = "new-proxy";
  settings::EditCopy().passive = 0;
  store_.ClearLog();
  EXPECT_EQ(settings::Commit(), -1);

  ASSERT_EQ(sink_.shown.size(), 1u);
  EXPECT_EQ(sink_.shown[0].text, "Download directory does not exist");
  EXPECT_EQ(sink_.shown[0].caption, "Error");
  EXPECT_EQ(sink_.shown[0].style, 0x0040u | 0x2000u);  // information icon, task-modal
  EXPECT_TRUE(store_.Writes().empty());
  EXPECT_EQ(store_.Values(), stored_before);
  EXPECT_EQ(Fields(settings::Live()), Fields(before));
  EXPECT_EQ(settings::EditCopy().firewall_address_http, "new-proxy");  // the sheet keeps what was typed
}

TEST_F(SettingsTest, OverlongTextIsCutToItsField) {
  store_.Put("email", std::string(300, 'e'));
  store_.Put("DialUp", std::string(256, 'd'));
  store_.Put("FirewallAddressFTP", std::string(255, 'f'));
  settings::Load(dir_.path());
  Record live = settings::Live();
  EXPECT_EQ(live.email, std::string(255, 'e'));
  EXPECT_EQ(live.dial_up, std::string(255, 'd'));
  EXPECT_EQ(live.firewall_address_ftp, std::string(255, 'f'));

  // The download directory has the wider field; the default is cut to it too.
  settings::Load(std::string(1100, 'p'));
  EXPECT_EQ(settings::Live().download, std::string(1030, 'p'));
  // A stored value never exceeds what one read returns.
  store_.Put("DOWNLOAD", std::string(2000, 's'));
  settings::Load(dir_.path());
  EXPECT_EQ(settings::Live().download, std::string(1023, 's'));
}

TEST_F(SettingsTest, ReadTextGivesTheDefaultOnlyForMissingValues) {
  EXPECT_EQ(settings::ReadText("DialUp", "fallback"), "fallback");
  store_.Put("DialUp", "");
  EXPECT_EQ(settings::ReadText("DialUp", "fallback"), "");
  store_.Put("dialup", "Home");
  EXPECT_EQ(settings::ReadText("DIALUP", "fallback"), "Home");
  store_.Put("DialUp", std::string(1500, 'x'));
  EXPECT_EQ(settings::ReadText("DialUp", ""), std::string(1023, 'x'));
}

TEST_F(SettingsTest, ReadNumberConvertsLikeAtol) {
  const std::int32_t max = std::numeric_limits<std::int32_t>::max();
  const std::int32_t min = std::numeric_limits<std::int32_t>::min();
  const struct {
    const char* text;
    std::int32_t expected;
  } cases[] = {
      {"3x", 3},           {"abc", 0},         {" -7", -7},           {"+12", 12},
      {"\t\n 42 ", 42},    {"", 0},            {"-", 0},              {"- 5", 0},
      {"007", 7},          {"0", 0},           {"12 34", 12},         {"2147483647", max},
      {"2147483648", max}, {"-2147483648", min}, {"-99999999999", min}, {"99999999999999999999", max},
  };
  for (const auto& c : cases) {
    store_.Put("CycleDownload", c.text);
    EXPECT_EQ(settings::ReadNumber("CycleDownload", 99), c.expected) << "text \"" << c.text << "\"";
  }
  EXPECT_EQ(settings::ReadNumber("CycleUpload", 99), 99);
  EXPECT_EQ(settings::ReadNumber("CycleUpload", -1), -1);

  // Through a load, as a hand-edited value would be met.
  store_.Put("CycleDownload", "3x");
  store_.Put("FirewallPortHTTP", "abc");
  settings::Load(dir_.path());
  EXPECT_EQ(settings::Live().cycle_download, 3);
  EXPECT_EQ(settings::Live().firewall_port_http, 0);
  EXPECT_EQ(settings::Live().firewall_port_ftp, 23);
}

TEST_F(SettingsTest, WorkersSeeWholeRecordsWhileCommitsReplaceThem) {
  Record first = Distinct(dir_.path());
  Record second = first;
  second.firewall_address_http = "second-proxy.example";
  second.firewall_port_http = 8080;
  second.email = "second@example.org";
  settings::Load(dir_.path());
  settings::EditCopy() = first;
  ASSERT_EQ(settings::Commit(), 0);

  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  auto reader = [&] {
    for (int i = 0; i < 20000 && !done.load(); ++i) {
      auto seen = Fields(settings::Live());
      if (seen != Fields(first) && seen != Fields(second)) torn.fetch_add(1);
    }
  };
  std::thread a(reader), b(reader);
  for (int i = 0; i < 300; ++i) {
    settings::EditCopy() = (i % 2) ? first : second;
    settings::Commit();
  }
  done.store(true);
  a.join();
  b.join();
  EXPECT_EQ(torn.load(), 0);
}

}  // namespace
