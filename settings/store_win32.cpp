#include <windows.h>

#include <vector>

#include "settings/store.h"

namespace settings {
namespace {

const char kKeyPath[] = "SOFTWARE\\Parcelo(32)";

// The key HKEY_LOCAL_MACHINE\SOFTWARE\Parcelo(32). The registry compares
// value names without regard to case and serialises access itself, so the
// body keeps no state of its own.
class RegistryStore : public Store {
 public:
  bool Read(const std::string& name, std::string* value) override;
  bool Write(const std::string& name, const std::string& value) override;
};

// Reads a REG_SZ value whole; values of any other type count as unreadable.
bool QueryText(HKEY key, const std::string& name, std::string* value) {
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return false;
  }
  std::vector<char> buffer(size + 1, '\0');
  if (RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                       &size) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return false;
  }
  // The stored size counts the terminating NUL when the writer included it,
  // and the text may not be terminated at all; stop at the first NUL.
  buffer[size] = '\0';
  value->assign(buffer.data());
  return true;
}

bool RegistryStore::Read(const std::string& name, std::string* value) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  bool ok = QueryText(key, name, value);
  RegCloseKey(key);
  return ok;
}

bool RegistryStore::Write(const std::string& name, const std::string& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  LONG result = RegSetValueExA(key, name.c_str(), 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(value.c_str()),
                               static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

}  // namespace

Store& PlatformStore() {
  static RegistryStore store;
  return store;
}

// The registry needs no directory.
void SetStoreDirectory(const std::string&) {}

}  // namespace settings
