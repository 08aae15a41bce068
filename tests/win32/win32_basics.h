// Files, registry values and window texts for the Win32 tests and for the
// setup end-to-end driver, which runs without the program's own code.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <fstream>
#include <iterator>
#include <string>

namespace harness {

inline bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

// Removes a file or a directory with everything in it.
inline void RemoveTree(const std::string& path) {
  const std::string from = path + '\0';  // a list of names ends with an empty one
  SHFILEOPSTRUCTA operation = {};
  operation.wFunc = FO_DELETE;
  operation.pFrom = from.c_str();
  operation.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
  SHFileOperationA(&operation);
}

inline bool KeyExists(const char* key) {
  HKEY handle;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

// Sets a REG_SZ value of HKLM\key, making the key; false when it cannot.
inline bool SetRegValue(const char* key, const char* name, const std::string& data) {
  HKEY handle;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()), data.size() + 1);
  RegCloseKey(handle);
  return true;
}

// WM_GETTEXT, which reads another process's edit controls too (GetWindowText
// gives only their captions).
inline std::string WindowText(HWND window) {
  char text[8192] = "";
  DWORD_PTR copied = 0;
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000,
                      &copied);
  return text;
}

// Posted, so that a dialog that runs long work on the press cannot stall the test.
inline void Press(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

}  // namespace harness
