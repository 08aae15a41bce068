#include "ras_fake.h"

#include "harness.h"
#include "ras/ras_registry.h"

namespace harness {
namespace {

using ras_registry::kKey;

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
  SetDllFolder((TestsFolder() + "\\" + variant).c_str());
}

FakeRas::~FakeRas() {
  SetDllFolder(nullptr);
  RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
}

bool FakeRas::Loaded() {
  HMODULE library = GetModuleHandleA("rasapi32.dll");
  return library && GetProcAddress(library, "ParceloFakeRas") != nullptr;
}

void FakeRas::Set(const char* name, const std::string& value) { ras_registry::Write(name, value); }

std::string FakeRas::Calls() const { return ras_registry::Read("Calls"); }

}  // namespace harness
