#include <windows.h>

#include <atomic>

#include "settings/dialup.h"
#include "settings/dialup_win32.h"

namespace settings {
namespace {

HMODULE g_library = nullptr;  // user-interface thread only
RasApi g_api = {};
// Workers read the functions through this; it points at g_api only while the
// library is loaded and every function was found.
std::atomic<const RasApi*> g_published{nullptr};

// The lookups in the order the user is told about, with the text that names
// the first one missing.
struct Lookup {
  const char* function;
  const char* missing_text;
};

constexpr Lookup kLookups[] = {
    {"RasGetEntryDialParamsA", "Failed to get proc address 1"},
    {"RasEnumConnectionsA", "Failed to get proc address 2"},
    {"RasSetEntryDialParamsA", "Failed to get proc address 3"},
    {"RasDialA", "Failed to get proc address 4"},
    {"RasGetConnectStatusA", "Failed to get proc address 5"},
    {"RasHangUpA", "Failed to get proc address 6"},
    {"RasEnumEntriesA", "Failed to get proc address 7"},
};
constexpr int kFunctionCount = sizeof kLookups / sizeof kLookups[0];

// GetProcAddress hands back a generic function pointer; the exported function
// has the signature of the RasApi member it is stored in.
template <typename Function>
void Assign(Function* target, FARPROC address) {
  *target = reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

void FillApi(const FARPROC (&found)[kFunctionCount]) {
  Assign(&g_api.get_entry_dial_params, found[0]);
  Assign(&g_api.enum_connections, found[1]);
  Assign(&g_api.set_entry_dial_params, found[2]);
  Assign(&g_api.dial, found[3]);
  Assign(&g_api.get_connect_status, found[4]);
  Assign(&g_api.hang_up, found[5]);
  Assign(&g_api.enum_entries, found[6]);
}

}  // namespace

int LoadDialupLibrary() {
  UnloadDialupLibrary();
  HMODULE library = LoadLibraryA("RASAPI32.DLL");
  if (!library) return 0;  // no dial-up networking on this machine: run without it

  FARPROC found[kFunctionCount] = {};
  for (int i = 0; i < kFunctionCount; ++i) {
    found[i] = GetProcAddress(library, kLookups[i].function);
    if (!found[i]) {
      // The main window is still being created, so the box has no owner.
      MessageBoxA(nullptr, kLookups[i].missing_text, "INFO", MB_OK);
      FreeLibrary(library);
      return -1;
    }
  }
  FillApi(found);
  g_library = library;
  g_published.store(&g_api);
  return 0;
}

void UnloadDialupLibrary() {
  g_published.store(nullptr);
  if (g_library) FreeLibrary(g_library);
  g_library = nullptr;
}

bool DialupLibraryLoaded() { return g_published.load() != nullptr; }

const RasApi* DialupFunctions() { return g_published.load(); }

void CheckDialup() {}

}  // namespace settings
