#include "settings/ini_store.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "native/settings_fixtures.h"
#include "settings/settings.h"

namespace {

using settings::IniStore;
using settings_fixtures::RecordingSink;
using settings_fixtures::ScratchDir;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void Spill(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

std::string ReadOr(IniStore& store, const std::string& name, const std::string& otherwise) {
  std::string value;
  return store.Read(name, &value) ? value : otherwise;
}

class IniStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir_.path().empty()); }
  std::string FilePath() const { return dir_.Join("settings.ini"); }

  ScratchDir dir_;
};

TEST_F(IniStoreTest, NamesMatchWithoutCaseAndKeepTheirFirstSpelling) {
  IniStore store(dir_.path());
  ASSERT_TRUE(store.Write("Passive", "1"));
  ASSERT_TRUE(store.Write("PASSIVE", "0"));
  EXPECT_EQ(ReadOr(store, "passive", "missing"), "0");
  EXPECT_EQ(ReadOr(store, "Passive", "missing"), "0");
  EXPECT_EQ(Slurp(FilePath()), "Passive=0\n");
}

TEST_F(IniStoreTest, ValuesComeBackExactly) {
  IniStore store(dir_.path());
  const struct {
    const char* name;
    const char* value;
  } cases[] = {
      {"email", "a=b=c"},
      {"DOWNLOAD", "  /srv/with blanks  "},
      {"DialUp", ""},
      {"FirewallAddressHTTP", "proxy.example;port=8080"},
  };
  for (const auto& c : cases) ASSERT_TRUE(store.Write(c.name, c.value)) << c.name;
  for (const auto& c : cases) EXPECT_EQ(ReadOr(store, c.name, "missing"), c.value) << c.name;
  EXPECT_EQ(ReadOr(store, "Firewall", "missing"), "missing");
}

TEST_F(IniStoreTest, AnotherInstanceSeesWhatWasWritten) {
  IniStore first(dir_.path());
  ASSERT_TRUE(first.Write("WindowMode", "1"));
  IniStore second(dir_.path());
  EXPECT_EQ(ReadOr(second, "WindowMode", "missing"), "1");

  // Reads go to the file, so a change made elsewhere is seen at once.
  ASSERT_TRUE(second.Write("WindowMode", "0"));
  ASSERT_TRUE(second.Write("OnTop", "1"));
  EXPECT_EQ(ReadOr(first, "WindowMode", "missing"), "0");
  EXPECT_EQ(ReadOr(first, "OnTop", "missing"), "1");
}

TEST_F(IniStoreTest, FirstWriteCreatesTheDirectoryAndFile) {
  const std::string nested = dir_.Join("home/parcelo");
  IniStore store(nested);
  EXPECT_EQ(ReadOr(store, "email", "missing"), "missing");
  EXPECT_FALSE(std::filesystem::exists(nested));
  ASSERT_TRUE(store.Write("email", "x@example.org"));
  EXPECT_EQ(Slurp(nested + "/settings.ini"), "email=x@example.org\n");
}

TEST_F(IniStoreTest, HandEditedFileIsReadAndItsOtherLinesKept) {
  Spill(FilePath(),
        "; written by hand\r\n"
        "email=me@example.org\r\n"
        "Email=a later duplicate\n"
        "DOWNLOAD=/old\n"
        "no equals sign here\n");
  IniStore store(dir_.path());
  EXPECT_EQ(ReadOr(store, "EMAIL", "missing"), "me@example.org");
  EXPECT_EQ(ReadOr(store, "no equals sign here", "missing"), "missing");

  ASSERT_TRUE(store.Write("email", "new@example.org"));
  ASSERT_TRUE(store.Write("download", "/new"));
  EXPECT_EQ(Slurp(FilePath()),
            "; written by hand\r\n"
            "email=new@example.org\n"
            "DOWNLOAD=/new\n"
            "no equals sign here\n");
}

TEST_F(IniStoreTest, RefusesWhatCouldNotBeReadBack) {
  IniStore store(dir_.path());
  ASSERT_TRUE(store.Write("DialUp", "Home"));
  const std::string before = Slurp(FilePath());

  EXPECT_FALSE(store.Write("DialUp", "x\nPassive=0"));
  EXPECT_FALSE(store.Write("DialUp", "x\rPassive=0"));
  EXPECT_FALSE(store.Write("Dial=Up", "x"));
  EXPECT_FALSE(store.Write("", "x"));
  EXPECT_EQ(Slurp(FilePath()), before);
  EXPECT_EQ(ReadOr(store, "Passive", "missing"), "missing");

  IniStore nowhere;
  EXPECT_FALSE(nowhere.Write("DialUp", "Home"));
  EXPECT_EQ(ReadOr(nowhere, "DialUp", "missing"), "missing");
}

TEST_F(IniStoreTest, ReadersNeverSeeHalfARewrite) {
  IniStore writer(dir_.path());
  IniStore reader(dir_.path());
  // Large values make a rewrite in place slow enough to be caught mid-way.
  const std::string small(16, 's');
  const std::string large(256 * 1024, 'L');
  ASSERT_TRUE(writer.Write("Firewall", "1"));
  ASSERT_TRUE(writer.Write("email", small));

  std::atomic<bool> done{false};
  std::atomic<int> bad{0};
  std::thread watcher([&] {
    for (int i = 0; i < 100000 && !done.load(); ++i) {
      std::string value;
      if (!reader.Read("Firewall", &value) || value != "1") bad.fetch_add(1);
      if (!reader.Read("email", &value) || (value != small && value != large)) bad.fetch_add(1);
    }
  });
  for (int i = 0; i < 60; ++i) writer.Write("email", (i % 2) ? small : large);
  done.store(true);
  watcher.join();
  EXPECT_EQ(bad.load(), 0);

  // Nothing is left behind beside the file itself.
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    ++entries;
    EXPECT_EQ(entry.path().filename(), "settings.ini");
  }
  EXPECT_EQ(entries, 1);
}

TEST_F(IniStoreTest, ProgramStoreKeepsSettingsInTheGivenDirectory) {
  RecordingSink sink;
  prompts::SetSink(&sink);
  settings::InstallStore(nullptr);
  settings::SetStoreDirectory(dir_.path());

  settings::Load(dir_.path());
  settings::EditCopy().passive = 0;
  settings::EditCopy().dial_up = "Office";
  EXPECT_EQ(settings::Commit(), 0);
  settings::Load("/elsewhere");
  EXPECT_EQ(settings::Live().passive, 0);
  EXPECT_EQ(settings::Live().dial_up, "Office");
  EXPECT_EQ(settings::Live().download, dir_.path());

  const std::string text = Slurp(FilePath());
  EXPECT_NE(text.find("\nPASSIVE=0\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("Passive="), std::string::npos) << text;

  settings::SetStoreDirectory("");
  prompts::SetSink(nullptr);
  EXPECT_TRUE(sink.shown.empty());
}

}  // namespace
