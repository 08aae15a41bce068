// The settings store's registry body under HKLM\SOFTWARE\Parcelo(32).
#include <map>

#include "harness.h"
#include "settings/settings.h"
#include "settings/store.h"

namespace {

constexpr char kKey[] = "SOFTWARE\\Parcelo(32)";

// The values as stored, by name with its case.
std::map<std::string, std::string> StoredValues() {
  std::map<std::string, std::string> values;
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return values;
  for (DWORD i = 0; i < 100; ++i) {
    char name[256], value[1100] = {};
    DWORD name_size = sizeof name, value_size = sizeof value - 1;
    if (RegEnumValueA(key, i, name, &name_size, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &value_size) !=
        ERROR_SUCCESS) {
      break;
    }
    values[name] = value;
  }
  RegCloseKey(key);
  return values;
}

class RegistryStore : public testing::Test {
 protected:
  harness::RegistryValues values;
};

}  // namespace

// Which defaults, and how numbers are read, is the native settings table's;
// here that a missing key gives the defaults and that names ignore case.
TEST_F(RegistryStore, DefaultsWithoutTheKeyAndNamesReadWithoutCase) {
  settings::Load("C:\\Prog");
  EXPECT_EQ("C:\\Prog 1", settings::Live().download + " " + std::to_string(settings::Live().passive));
  values.Set("cycleupload", "7");
  EXPECT_EQ(7, settings::ReadNumber("CycleUpload", 9));
}

TEST_F(RegistryStore, CommitWritesPassiveInCapitalsAndLoadReadsItBack) {
  harness::TempProgramDir dir;
  settings::Load(dir.path());
  settings::EditCopy().passive = 0;
  settings::EditCopy().firewall_address_http = "proxy.example.com";
  ASSERT_EQ(0, settings::Commit());
  std::map<std::string, std::string> stored = StoredValues();
  EXPECT_EQ("0", stored["PASSIVE"]);  // names are unique without case: no "Passive" beside it
  EXPECT_EQ(dir.path(), stored["DOWNLOAD"]);
  settings::Load(dir.path());
  EXPECT_EQ(0, settings::Live().passive);
  EXPECT_EQ("proxy.example.com", settings::Live().firewall_address_http);
}
