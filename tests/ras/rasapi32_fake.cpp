// A stand-in RASAPI32.DLL for the Win32 tests: the seven functions the
// program looks up, over a phone book, connections and saved passwords that
// the tests write to the registry key below, and a record of the calls that
// change something. It takes the records only in their Windows 95 sizes.
//
// HKEY_CURRENT_USER\Software\Parcelo(32) Tests\Rasapi, all REG_SZ:
//   Entries      phone-book entry names, "|" between them
//   Connections  "name:state|name:state", states as decimal RASCONNSTATE
//   Saved        saved passwords, "name=password|..."
//   DialDelay    milliseconds RasDialA takes before the connection is up
//   DialError    when set, the error RasDialA returns (with a handle, and no
//                connection made)
//   Calls        one line per call made: "RasDialA name password",
//                "RasSetEntryDialParamsA name password"
#include <windows.h>

#include <cstring>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "ras_registry.h"

namespace {

constexpr DWORD kConnected = 0x2000;
constexpr DWORD kBufferTooSmall = 603;
constexpr DWORD kInvalidSize = 632;

struct Connection95 {
  DWORD size;
  HANDLE handle;
  CHAR entry_name[257];
  CHAR device_type[17];
  CHAR device_name[129];
};
struct ConnectStatus95 {
  DWORD size;
  DWORD state;
  DWORD error;
  CHAR device_type[17];
  CHAR device_name[129];
};
struct DialParams95 {
  DWORD size;
  CHAR entry_name[257];
  CHAR phone_number[129];
  CHAR callback_number[129];
  CHAR user_name[257];
  CHAR password[257];
  CHAR domain[16];
};
struct EntryName95 {
  DWORD size;
  CHAR entry_name[257];
};

// Workers call in at once: each call reads and rewrites the state whole.
std::mutex g_lock;
using Hold = std::lock_guard<std::mutex>;

using ras_registry::Read;
using ras_registry::Write;

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
  return parts;
}

// The connections as "name:state" parts, in their order.
std::vector<std::string> Connections() { return Split(Read("Connections"), '|'); }
std::string NameOf(const std::string& connection) { return connection.substr(0, connection.rfind(':')); }

bool SavedPassword(const std::string& entry, std::string* password) {
  for (const std::string& part : Split(Read("Saved"), '|')) {
    if (part.compare(0, entry.size() + 1, entry + "=") == 0) return *password = part.substr(entry.size() + 1), true;
  }
  return false;
}

void Record(const std::string& line) { Write("Calls", Read("Calls") + line + "\n"); }

// Whether `records` records of Record fit in *bytes; both counts are handed
// back either way, as the real library does.
template <typename Record>
DWORD Fits(std::size_t records, LPDWORD bytes, LPDWORD count) {
  const DWORD needed = static_cast<DWORD>(records * sizeof(Record));
  const bool fits = *bytes >= needed;
  *count = static_cast<DWORD>(records);
  *bytes = needed;
  return fits ? 0 : kBufferTooSmall;
}

template <std::size_t N>
void Copy(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  text.copy(field, N - 1);
}

}  // namespace

extern "C" {

// Lets a test tell this library from the one Wine brings.
DWORD WINAPI ParceloFakeRas() { return 1; }

DWORD WINAPI RasGetEntryDialParamsA(LPCSTR, DialParams95* params, LPBOOL password_saved) {
  if (!params || params->size != sizeof(DialParams95)) return kInvalidSize;
  Hold hold(g_lock);
  std::string password;
  *password_saved = SavedPassword(params->entry_name, &password) ? TRUE : FALSE;
  Copy(params->user_name, "user");
  Copy(params->password, password);
  return 0;
}

DWORD WINAPI RasEnumConnectionsA(Connection95* connections, LPDWORD bytes, LPDWORD count) {
  if (!connections || connections->size != sizeof(Connection95)) return kInvalidSize;
  Hold hold(g_lock);
  const std::vector<std::string> links = Connections();
  if (const DWORD error = Fits<Connection95>(links.size(), bytes, count)) return error;
  for (std::size_t i = 0; i < links.size(); ++i) {
    connections[i].handle = reinterpret_cast<HANDLE>(i + 1);  // its place in Connections
    Copy(connections[i].entry_name, NameOf(links[i]));
  }
  return 0;
}

DWORD WINAPI RasSetEntryDialParamsA(LPCSTR, DialParams95* params, BOOL remove_password) {
  if (!params || params->size != sizeof(DialParams95)) return kInvalidSize;
  Hold hold(g_lock);
  const std::string entry = params->entry_name;
  Record("RasSetEntryDialParamsA " + entry + " " + params->password + (remove_password ? " removed" : ""));
  if (!remove_password) {
    const std::string saved = Read("Saved");
    Write("Saved", saved + (saved.empty() ? "" : "|") + entry + "=" + params->password);
  }
  return 0;
}

DWORD WINAPI RasDialA(LPVOID, LPCSTR, DialParams95* params, DWORD, LPVOID, HANDLE* connection) {
  if (!params || params->size != sizeof(DialParams95)) return kInvalidSize;
  const std::string entry = params->entry_name;
  {
    Hold hold(g_lock);
    Record("RasDialA " + entry + " " + params->password);
  }
  Sleep(std::strtoul(Read("DialDelay").c_str(), nullptr, 10));
  // As the real library does, a failed dial still hands back a handle.
  const DWORD error = std::strtoul(Read("DialError").c_str(), nullptr, 10);
  if (error != 0) {
    *connection = reinterpret_cast<HANDLE>(99);
    return error;
  }
  Hold hold(g_lock);
  std::vector<std::string> links = Connections();
  std::size_t index = 0;
  while (index < links.size() && NameOf(links[index]) != entry) ++index;
  if (index == links.size()) links.push_back(entry);
  links[index] = entry + ":" + std::to_string(kConnected);
  std::string text;
  for (const std::string& link : links) text += (text.empty() ? "" : "|") + link;
  Write("Connections", text);
  *connection = reinterpret_cast<HANDLE>(index + 1);
  return 0;
}

DWORD WINAPI RasGetConnectStatusA(HANDLE connection, ConnectStatus95* status) {
  if (!status || status->size != sizeof(ConnectStatus95)) return kInvalidSize;
  Hold hold(g_lock);
  const std::vector<std::string> links = Connections();
  const std::size_t index = reinterpret_cast<std::size_t>(connection);
  if (index < 1 || index > links.size()) return ERROR_INVALID_HANDLE;
  status->state = std::strtoul(links[index - 1].c_str() + links[index - 1].rfind(':') + 1, nullptr, 10);
  return 0;
}

DWORD WINAPI RasHangUpA(HANDLE) {
  Hold hold(g_lock);
  Record("RasHangUpA");
  return 0;
}

DWORD WINAPI RasEnumEntriesA(LPCSTR, LPCSTR, EntryName95* entries, LPDWORD bytes, LPDWORD count) {
  if (!entries || entries->size != sizeof(EntryName95)) return kInvalidSize;
  Hold hold(g_lock);
  const std::vector<std::string> names = Split(Read("Entries"), '|');
  if (const DWORD error = Fits<EntryName95>(names.size(), bytes, count)) return error;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (entries[i].size != sizeof(EntryName95)) return kInvalidSize;  // every record must be sized
    Copy(entries[i].entry_name, names[i]);
  }
  return 0;
}

}  // extern "C"
