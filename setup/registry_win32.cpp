// The registry entries of an installation, under HKEY_LOCAL_MACHINE.
#include <string>

#include "setup/setup_win32.h"

namespace setup {

const char kAppPathsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\parcelo32.exe";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\parcelo32";
// Where the transfer program keeps its settings.
const char kSettingsKey[] = "SOFTWARE\\Parcelo(32)";
// The program's version, as its version resource states it.
const char kDisplayVersion[] = "3.1.3";

namespace {

// A failure is reported with the key as the title, and the installation
// goes on.
void SetValue(const char* key_path, const char* name, DWORD type, const BYTE* data, DWORD size) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    ShowMessage(nullptr, "failed2", key_path, MB_OK);
    return;
  }
  if (RegSetValueExA(key, name, 0, type, data, size) != ERROR_SUCCESS) ShowMessage(nullptr, "failed", key_path, MB_OK);
  RegCloseKey(key);
}

// The size counts the terminating NUL, so that readers which take the
// stored bytes as they are get a terminated text.
void WriteValue(const char* key_path, const char* name, const std::string& data) {
  SetValue(key_path, name, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()), static_cast<DWORD>(data.size() + 1));
}

void WriteNumber(const char* key_path, const char* name, DWORD number) {
  SetValue(key_path, name, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
}

bool HasValue(const char* key_path, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  const bool found = RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  RegCloseKey(key);
  return found;
}

// The program takes a directory without its final '\', except a drive's root.
std::string WithoutFinalSeparator(std::string directory) {
  if (directory.size() > 3 && directory.back() == '\\') directory.pop_back();
  return directory;
}

}  // namespace

void WriteRegistryEntries(const std::string& main_directory, const std::string& download_directory,
                          uint64_t installed_bytes) {
  const std::string program = main_directory + "parcelo32.exe";
  WriteValue(kAppPathsKey, "Path", main_directory);
  WriteValue(kAppPathsKey, nullptr, program);
  // Quoted: the default directory holds a blank, and an unquoted path
  // would start "C:\Program" instead.
  WriteValue(kUninstallKey, "UnInstallString", "\"" + main_directory + "setup.exe\" -UNINSTALL");
  WriteValue(kUninstallKey, "DisplayName", "Parcelo(32)");
  WriteValue(kUninstallKey, "DisplayVersion", kDisplayVersion);
  WriteValue(kUninstallKey, "Publisher", "The Parcelo(32) developers");
  WriteValue(kUninstallKey, "DisplayIcon", program + ",0");
  WriteValue(kUninstallKey, "InstallLocation", main_directory);
  WriteNumber(kUninstallKey, "EstimatedSize", static_cast<DWORD>((installed_bytes + 1023) / 1024));
  WriteNumber(kUninstallKey, "NoModify", 1);
  WriteNumber(kUninstallKey, "NoRepair", 1);
  if (!download_directory.empty() && !HasValue(kSettingsKey, "DOWNLOAD")) {
    WriteValue(kSettingsKey, "DOWNLOAD", WithoutFinalSeparator(download_directory));
  }
}

}  // namespace setup
