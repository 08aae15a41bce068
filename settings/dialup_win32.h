// The functions of RASAPI32.DLL that the program uses, and the records they
// exchange in their first (Windows 95) layouts, which every version of the
// library accepts when the size field says so. Win32 build only.
#pragma once

#include <windows.h>

#include <ras.h>

namespace settings {

// ras.h declares the records in their newest layouts; these are the older ones.
struct RasConnection95 {  // RASCONN
  DWORD size;
  HRASCONN handle;
  CHAR entry_name[RAS_MaxEntryName + 1];
  CHAR device_type[RAS_MaxDeviceType + 1];
  CHAR device_name[RAS_MaxDeviceName + 1];
};

struct RasConnectStatus95 {  // RASCONNSTATUS
  DWORD size;
  RASCONNSTATE state;
  DWORD error;
  CHAR device_type[RAS_MaxDeviceType + 1];
  CHAR device_name[RAS_MaxDeviceName + 1];
};

struct RasDialParams95 {  // RASDIALPARAMS
  DWORD size;
  CHAR entry_name[RAS_MaxEntryName + 1];
  CHAR phone_number[RAS_MaxPhoneNumber + 1];
  CHAR callback_number[RAS_MaxCallbackNumber + 1];
  CHAR user_name[UNLEN + 1];
  CHAR password[PWLEN + 1];
  CHAR domain[DNLEN + 1];
};

struct RasEntryName95 {  // RASENTRYNAME
  DWORD size;
  CHAR entry_name[RAS_MaxEntryName + 1];
};

static_assert(sizeof(RasConnection95) == 412, "RASCONN of Windows 95");
static_assert(sizeof(RasConnectStatus95) == 160, "RASCONNSTATUS of Windows 95");
static_assert(sizeof(RasDialParams95) == 1052, "RASDIALPARAMS of Windows 95");
static_assert(sizeof(RasEntryName95) == 264, "RASENTRYNAME of Windows 95");

struct RasApi {
  DWORD(WINAPI* get_entry_dial_params)(LPCSTR phone_book, RasDialParams95* params, LPBOOL password_saved);
  DWORD(WINAPI* enum_connections)(RasConnection95* connections, LPDWORD bytes, LPDWORD count);
  DWORD(WINAPI* set_entry_dial_params)(LPCSTR phone_book, RasDialParams95* params, BOOL remove_password);
  DWORD(WINAPI* dial)(LPRASDIALEXTENSIONS extensions, LPCSTR phone_book, RasDialParams95* params,
                      DWORD notifier_type, LPVOID notifier, HRASCONN* connection);
  DWORD(WINAPI* get_connect_status)(HRASCONN connection, RasConnectStatus95* status);
  DWORD(WINAPI* hang_up)(HRASCONN connection);
  DWORD(WINAPI* enum_entries)(LPCSTR reserved, LPCSTR phone_book, RasEntryName95* entries, LPDWORD bytes,
                              LPDWORD count);
};

// The loaded functions, all seven present; nullptr while the library is not
// loaded. Safe to call from any thread.
const RasApi* DialupFunctions();

// The password dialog USERNAME; lParam of WM_INITDIALOG points at the
// std::string that receives the typed password when it ends with 1.
INT_PTR CALLBACK PassDlgFunc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace settings
