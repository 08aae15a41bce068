#include "ras_fake.h"

namespace harness {
namespace {

const char kKey[] = "Software\\Parcelo(32) Tests\\Rasapi";

std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string folder = path;
  return folder.substr(0, folder.rfind('\\'));
}

// Declared by the headers only for newer Windows versions than the program
// targets.
void SetDllFolder(const char* folder) {
  using Setter = BOOL(WINAPI*)(LPCSTR);
  const FARPROC found = GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDllDirectoryA");
  if (found) reinterpret_cast<Setter>(reinterpret_cast<void*>(found))(folder);
}

}  // namespace

FakeRas::FakeRas(const char* variant) {
  RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
  SetDllFolder((ProgramFolder() + "\\" + variant).c_str());
}

FakeRas::~FakeRas() {
  SetDllFolder(nullptr);
  RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
}

bool FakeRas::Loaded() {
  HMODULE library = GetModuleHandleA("rasapi32.dll");
  return library && GetProcAddress(library, "ParceloFakeRas") != nullptr;
}

void FakeRas::Set(const char* name, const std::string& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return;
  }
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
}

std::string FakeRas::Calls() const {
  char value[8192] = {};
  DWORD size = sizeof value - 1;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return std::string();
  RegQueryValueExA(key, "Calls", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  return value;
}

}  // namespace harness
