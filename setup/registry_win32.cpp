// The registry entries of an installation, under HKEY_LOCAL_MACHINE.
#include <string>

#include "setup/setup_win32.h"

namespace setup {

const char kAppPathsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\parcelo32.exe";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\parcelo32";
// Where the transfer program keeps its settings.
const char kSettingsKey[] = "SOFTWARE\\Parcelo(32)";

namespace {

// A failure is reported with the key as the title, and the installation
// goes on.
void WriteValue(const char* key_path, const char* name, const std::string& data) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    MessageBoxA(nullptr, "failed2", key_path, MB_OK);
    return;
  }
  // The size counts the terminating NUL, so that readers which take the
  // stored bytes as they are get a terminated text.
  if (RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                     static_cast<DWORD>(data.size() + 1)) != ERROR_SUCCESS) {
    MessageBoxA(nullptr, "failed", key_path, MB_OK);
  }
  RegCloseKey(key);
}

}  // namespace

void WriteRegistryEntries(const std::string& main_directory) {
  WriteValue(kAppPathsKey, "Path", main_directory);
  WriteValue(kAppPathsKey, nullptr, main_directory + "parcelo32.exe");
  WriteValue(kUninstallKey, "UnInstallString", main_directory + "setup -UNINSTALL");
  WriteValue(kUninstallKey, "DisplayName", "Parcelo(32)");
}

}  // namespace setup
