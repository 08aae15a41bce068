#include "settings/settings.h"

#include <iterator>
#include <tuple>

#include "settings/ini_store.h"

#include "native/fixtures.h"

namespace {

using namespace fixtures;

using settings::IniStore;
using settings::Record;

struct Settings : ::testing::Test { TaskEnvironment env; };

auto Fields(const Record& r) {
  return std::make_tuple(r.email, r.download, r.resume_option, r.file_type, r.firewall_address_http,
                         r.firewall_address_ftp, r.firewall_port_ftp, r.firewall_port_http, r.server_retry,
                         r.resume_retry, r.passive, r.window_mode, r.on_top, r.firewall, r.cycle_download,
                         r.cycle_upload, r.use_ftp_script, r.use_http_script, r.dial_up, r.server_names,
                         r.http_proxy_user, r.http_proxy_password, r.max_per_server, r.speed_limit, r.split,
                         r.split_min);
}

TEST_F(Settings, CommitWritesInTableOrderAndLoadsBackWhole) {
  // Every field differs from its default and from the others, but
  // resume_retry, which nobody writes; the values need not make sense to the
  // sheet, only be kept apart.
  const Record committed{"me@example.org", env.dir.path(), 1, 2, "http-proxy.example", "ftp-proxy.example",
                         2121, 3128, 4, 1, 0, 3, 8, 9, -3, 7, 5, 6, "Office line", 0, "joe", "pw", 10, 11, 12, 12345};
  settings::EditCopy() = committed;
  ASSERT_EQ(settings::Commit(), 0);
  EXPECT_EQ(env.store.Writes(), (std::vector<std::pair<std::string, std::string>>{
      {"ResumeOption", "1"}, {"Filetype", "2"}, {"DOWNLOAD", env.dir.path()},
      {"FirewallAddressFTP", "ftp-proxy.example"}, {"FirewallPortFTP", "2121"},
      {"FirewallAddressHTTP", "http-proxy.example"}, {"FirewallPortHTTP", "3128"},
      {"email", "me@example.org"}, {"Firewall", "9"}, {"WindowMode", "3"}, {"OnTop", "8"}, {"PASSIVE", "0"},
      {"ServerRetry", "4"}, {"CycleDownload", "-3"}, {"CycleUpload", "7"}, {"UseHTTPScript", "6"},
      {"UseFTPScript", "5"}, {"DialUp", "Office line"}, {"ServerNames", "0"}, {"HttpProxyUser", "joe"},
      {"HttpProxyPassword", "pw"}, {"MaxPerServer", "10"}, {"SpeedLimit", "11"}, {"Split", "12"},
      {"SplitMin", "12345"}}));
  EXPECT_EQ(Fields(settings::Live()), Fields(committed));
  EXPECT_TRUE(env.sink.Shown().empty());
  // A refused PASV and an edit not applied are dropped by the next load;
  // PASSIVE, written in capitals, is what Passive reads.
  settings::SetLivePassive(1);
  settings::EditCopy().email = "not committed";
  settings::Load("/elsewhere");
  EXPECT_EQ(Fields(settings::Live()), Fields(committed));
  EXPECT_EQ(Fields(settings::EditCopy()), Fields(committed));
}

TEST_F(Settings, TextIsCutToItsFieldAndNumbersReadLikeAtol) {
  env.store.Put("email", std::string(300, 'e'));
  env.store.Put("CycleUpload", "3x");
  env.store.Put("FirewallPortHTTP", "abc");
  env.store.Put("ResumeRetry", "5");  // read, though the sheet never writes it
  env.Use("DOWNLOAD", std::string(2000, 's'));  // one read returns at most 1023 bytes
  const Record live = settings::Live();
  EXPECT_EQ(std::tie(live.email, live.download, live.cycle_upload, live.firewall_port_http, live.resume_retry),
            std::make_tuple(std::string(255, 'e'), std::string(1023, 's'), 3, 0, 5));
  env.store.Put("DialUp", "");  // an empty value is not a missing one
  EXPECT_EQ(settings::ReadText("DialUp", "fallback"), "");
  EXPECT_EQ(settings::ReadNumber("CycleDownload", -1), -1);

  const std::pair<const char*, std::int32_t> numbers[] = {
      {"3x", 3}, {"abc", 0}, {" -7", -7}, {"+12", 12}, {"\t\n 42 ", 42}, {"", 0}, {"- 5", 0}, {"12 34", 12},
      {"2147483648", INT32_MAX}, {"-2147483648", INT32_MIN}, {"-99999999999", INT32_MIN},
      {"99999999999999999999", INT32_MAX}};
  for (const auto& [text, expected] : numbers) {
    env.store.Put("CycleDownload", text);
    EXPECT_EQ(settings::ReadNumber("CycleDownload", 99), expected) << "text \"" << text << "\"";
  }
}

std::string ReadOr(IniStore& store, const std::string& name) {
  std::string value;
  return store.Read(name, &value) ? value : "missing";
}

TEST(IniStore, MatchesNamesWithoutCaseAndKeepsHandEditedLines) {
  ScratchDir dir;
  const std::string file = dir.Join("settings.ini");
  WriteFile(file, "; by hand\r\nemail=me@example.org\r\nEmail=later\nno equals\n");
  IniStore store(dir.path());
  EXPECT_EQ(ReadOr(store, "EMAIL"), "me@example.org");
  EXPECT_EQ(ReadOr(store, "no equals"), "missing");
  const std::vector<std::pair<std::string, std::string>> writes = {
      {"Passive", "1"}, {"PASSIVE", "0"}, {"email", "new@example.org"}, {"DOWNLOAD", "  /srv/with blanks  "},
      {"DialUp", ""}, {"FirewallAddressHTTP", "a=b=c"}};
  for (const auto& [name, value] : writes) ASSERT_TRUE(store.Write(name, value)) << name;
  IniStore other(dir.path());  // reads go to the file
  for (std::size_t i = 1; i < writes.size(); ++i) EXPECT_EQ(ReadOr(other, writes[i].first), writes[i].second);
  EXPECT_EQ(ReadOr(other, "Firewall"), "missing");
  EXPECT_EQ(ReadFile(file), "; by hand\r\nemail=new@example.org\nno equals\nPassive=0\n"
                            "DOWNLOAD=  /srv/with blanks  \nDialUp=\nFirewallAddressHTTP=a=b=c\n");
}

TEST(IniStore, RefusesWhatCouldNotBeReadBackAndKeepsTheFileWhenAWriteFails) {
  ScratchDir dir;
  const std::string home = dir.Join("home/parcelo");
  IniStore store(home), nowhere;
  EXPECT_EQ(ReadOr(store, "DialUp"), "missing");
  EXPECT_FALSE(std::filesystem::exists(home));
  ASSERT_TRUE(store.Write("DialUp", "Home"));  // creates the directory
  for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
           {"DialUp", "x\nPassive=0"}, {"DialUp", "x\rPassive=0"}, {"Dial=Up", "x"}, {"", "x"}}) {
    EXPECT_FALSE(store.Write(name, value)) << name << "=" << value;
  }
  {
    FullDisk full(100);
    EXPECT_FALSE(store.Write("email", std::string(200, 'e')));
  }
  EXPECT_EQ(ReadFile(home + "/settings.ini"), "DialUp=Home\n");
  EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(home), {}));  // no temporary file left
  EXPECT_FALSE(nowhere.Write("DialUp", "Home"));
  EXPECT_EQ(ReadOr(nowhere, "DialUp"), "missing");
}

}  // namespace
