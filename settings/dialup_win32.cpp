#include <windows.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/prompts.h"
#include "platform/win32_owner.h"
#include "resources/config_ids.h"
#include "settings/dialup.h"
#include "settings/dialup_win32.h"
#include "settings/settings.h"
#include "settings/store.h"

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

// Serialises the checks of all workers: with no connection up, the first one
// dials (asking for the password once) and the others then find the
// connection it made, instead of every worker dialling at once.
struct CheckGate {
  std::mutex lock;
  std::atomic<unsigned> finished{0};  // checks run to their end
  bool last_cancelled = false;        // guarded by lock
};

CheckGate& Gate() {
  static CheckGate gate;
  return gate;
}

// The connection found up or dialled last; never hung up.
std::atomic<HRASCONN> g_current{nullptr};

enum class Outcome { kNoDial, kDialled, kCancelled };

constexpr int kConnectionRecords = 16;
constexpr int kPasswordLimit = 254;

void OnPasswordCommand(HWND dialog, int id) {
  // Escape and the close box send IDCANCEL, not the Cancel button's id.
  if (id == IDC_PASSWORD_CANCEL || id == IDCANCEL) {
    EndDialog(dialog, 0);
  } else if (id == IDC_PASSWORD_OK) {
    char typed[kPasswordLimit + 1] = {};
    GetDlgItemTextA(dialog, IDC_PASSWORD, typed, sizeof typed);
    if (typed[0] == '\0') {
      prompts::Beep(0);
      return;
    }
    *reinterpret_cast<std::string*>(GetWindowLongPtrA(dialog, DWLP_USER)) = typed;
    EndDialog(dialog, 1);
  }
}

bool AskPassword(std::string* password) {
  return DialogBoxParamA(GetModuleHandleA(nullptr), "USERNAME", win32::MainWindow(), PassDlgFunc,
                         reinterpret_cast<LPARAM>(password)) == 1;
}

template <std::size_t N>
void CopyText(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  text.copy(field, N - 1);
}

// Dials entry with its saved parameters, asking for the password when none
// is saved and remembering the one typed. A failed dial is hung up; its
// result shows itself in the transfer attempt that follows.
Outcome Dial(const RasApi& ras, const std::string& entry) {
  RasDialParams95 params = {};
  params.size = sizeof params;
  CopyText(params.entry_name, entry);
  BOOL password_saved = FALSE;
  ras.get_entry_dial_params(nullptr, &params, &password_saved);
  if (!password_saved) {
    std::string password;
    if (!AskPassword(&password)) return Outcome::kCancelled;
    CopyText(params.password, password);
    ras.set_entry_dial_params(nullptr, &params, FALSE);
  }
  HRASCONN connection = nullptr;
  if (ras.dial(nullptr, nullptr, &params, 0, nullptr, &connection) != 0) {
    // A failed dial may still hand back a handle: it holds the port until
    // it is hung up.
    if (connection) ras.hang_up(connection);
    connection = nullptr;
  }
  g_current.store(connection);
  return Outcome::kDialled;
}

RASCONNSTATE StateOf(const RasApi& ras, HRASCONN connection) {
  RasConnectStatus95 status = {};
  status.size = sizeof status;
  ras.get_connect_status(connection, &status);
  return status.state;
}

Outcome RunCheck(const RasApi& ras) {
  std::string configured = ReadText("DialUp", "");
  if (configured.size() >= kTextWidth) configured.resize(kTextWidth - 1);
  RasConnection95 connections[kConnectionRecords] = {};
  for (RasConnection95& connection : connections) connection.size = sizeof connection;
  DWORD bytes = sizeof connections;
  DWORD count = 0;
  ras.enum_connections(connections, &bytes, &count);
  // Only the first records can be examined. A library that reports more
  // (a buffer too small) may have filled none of them: records it left
  // without a handle are passed over rather than taken for a connection
  // with an empty name.
  if (count > kConnectionRecords) count = kConnectionRecords;
  if (count == 0) return configured.empty() ? Outcome::kNoDial : Dial(ras, configured);

  for (DWORD i = 0; i < count; ++i) {
    if (connections[i].handle && StateOf(ras, connections[i].handle) == RASCS_Connected) {
      g_current.store(connections[i].handle);
      return Outcome::kNoDial;
    }
  }
  for (DWORD i = 0; i < count; ++i) {
    if (!connections[i].handle) continue;
    connections[i].entry_name[RAS_MaxEntryName] = '\0';
    const std::string name = connections[i].entry_name;
    if (StateOf(ras, connections[i].handle) != RASCS_Disconnected) return Dial(ras, name);
    if (!configured.empty() && name == configured) return Dial(ras, configured);
  }
  return Outcome::kNoDial;
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

void CheckDialup() {
  const RasApi* ras = DialupFunctions();
  if (!ras) return;
  CheckGate& gate = Gate();
  const unsigned arrival = gate.finished.load();
  std::lock_guard<std::mutex> hold(gate.lock);
  // The user has just said no to the password for this burst of workers;
  // asking each of them again would repeat the dialog once per entry.
  if (gate.finished.load() != arrival && gate.last_cancelled) return;
  gate.last_cancelled = RunCheck(*ras) == Outcome::kCancelled;
  gate.finished.fetch_add(1);
}

INT_PTR CALLBACK PassDlgFunc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrA(dialog, DWLP_USER, lparam);
      return TRUE;
    case WM_COMMAND:
      OnPasswordCommand(dialog, LOWORD(wparam));
      return TRUE;
    case WM_CLOSE:
      EndDialog(dialog, 0);
      return TRUE;
  }
  return FALSE;
}

}  // namespace settings
