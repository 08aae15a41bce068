// The registry key through which the Win32 tests and the stand-in
// RASAPI32.DLL share the stand-in's state, and its one reader and writer.
#pragma once

#include <windows.h>

#include <string>

namespace ras_registry {

inline const char kKey[] = "Software\\Parcelo(32) Tests\\Rasapi";

// The value, or empty when it or the key is missing.
inline std::string Read(const char* name) {
  char value[8192] = {};
  DWORD size = sizeof value - 1;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return std::string();
  RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  return value;
}

inline void Write(const char* name, const std::string& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return;
  }
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
}

}  // namespace ras_registry
