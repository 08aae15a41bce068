#include "settings/ini_store.h"

#include <iterator>

#include "native/fixtures.h"

namespace {

using namespace fixtures;

using settings::IniStore;

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
