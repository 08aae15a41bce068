// The stand-in RASAPI32.DLL of tests/ras for the Win32 tests: loads it in
// place of Wine's, and sets and reads its phone book, connections, saved
// passwords and the calls it received.
#pragma once

#include <windows.h>

#include <string>

#include "harness.h"
#include "ras/ras_registry.h"

namespace harness {

// While alive, RASAPI32.DLL is looked for in the folder "ras" beside the
// test program, and the stand-in's state starts empty. Wine loads it only when the test runs
// with WINEDLLOVERRIDES=rasapi32=n,b (as ctest runs it).
class FakeRas {
 public:
  FakeRas() {
    RegDeleteKeyA(HKEY_CURRENT_USER, ras_registry::kKey);
    SetDllFolder((TestsFolder() + "\\ras").c_str());
  }
  ~FakeRas() {
    SetDllFolder(nullptr);
    RegDeleteKeyA(HKEY_CURRENT_USER, ras_registry::kKey);
  }
  // Whether the library loaded under that name is the stand-in.
  static bool Loaded() {
    HMODULE library = GetModuleHandleA("rasapi32.dll");
    return library && GetProcAddress(library, "ParceloFakeRas") != nullptr;
  }
  void Set(const char* name, const std::string& value) { ras_registry::Write(name, value); }
  std::string Calls() const { return ras_registry::Read("Calls"); }

 private:
  // Declared by the headers only for newer Windows versions than the program
  // targets.
  static void SetDllFolder(const char* folder) {
    using Setter = BOOL(WINAPI*)(LPCSTR);
    const FARPROC found = GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDllDirectoryA");
    if (found) reinterpret_cast<Setter>(reinterpret_cast<void*>(found))(folder);
  }
};

}  // namespace harness
