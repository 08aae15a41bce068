// The settings store's registry body under HKLM\SOFTWARE\Parcelo(32).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "harness.h"
#include "settings/settings.h"
#include "settings/store.h"

namespace {

constexpr char kKey[] = "SOFTWARE\\Parcelo(32)";

std::string RawValue(const char* name) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return "<no key>";
  char value[1100] = {};
  DWORD size = sizeof value - 1;
  LONG rc = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS ? value : "<none>";
}

// The value names as stored, with their case.
std::vector<std::string> StoredNames() {
  std::vector<std::string> names;
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
  for (DWORD i = 0; i < 100; ++i) {
    char name[256];
    DWORD size = sizeof name;
    if (RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.push_back(name);
  }
  RegCloseKey(key);
  return names;
}

// Removes the whole settings key around a test that commits.
struct CleanKey {
  CleanKey() { RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey); }
  ~CleanKey() { RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey); }
};

}  // namespace

TEST(RegistryStore, DefaultsWithoutTheKeyAndNumbersReadLikeAtol) {
  CleanKey clean;
  settings::Load("C:\\Prog");
  settings::Record live = settings::Live();
  EXPECT_EQ("C:\\Prog", live.download);
  EXPECT_EQ(1, live.passive);
  EXPECT_EQ(23, live.firewall_port_ftp);
  EXPECT_EQ(23, live.firewall_port_http);
  EXPECT_EQ("", live.dial_up);

  harness::RegistryValues values;
  values.Set("CycleDownload", "3x");
  values.Set("cycleupload", "abc");
  EXPECT_EQ(3, settings::ReadNumber("CycleDownload", 9));
  EXPECT_EQ(0, settings::ReadNumber("CycleUpload", 9));
  EXPECT_EQ(9, settings::ReadNumber("NoSuchValue", 9));
}

TEST(RegistryStore, CommitWritesPassiveInCapitalsAndLoadReadsItBack) {
  CleanKey clean;
  harness::TempProgramDir dir;
  settings::Load(dir.path());
  settings::EditCopy().passive = 0;
  settings::EditCopy().firewall_address_http = "proxy.example.com";
  ASSERT_EQ(0, settings::Commit());
  EXPECT_EQ("0", RawValue("PASSIVE"));
  std::vector<std::string> names = StoredNames();
  EXPECT_NE(names.end(), std::find(names.begin(), names.end(), "PASSIVE"));
  EXPECT_EQ(names.end(), std::find(names.begin(), names.end(), "Passive"));
  EXPECT_EQ(18u, names.size());
  EXPECT_EQ(dir.path(), RawValue("DOWNLOAD"));
  settings::Load(dir.path());
  EXPECT_EQ(0, settings::Live().passive);
  EXPECT_EQ("proxy.example.com", settings::Live().firewall_address_http);
}
