#include "settings/config_sheet_win32.h"

#include <commctrl.h>

#include <cstdint>
#include <new>
#include <vector>

#include "resources/config_ids.h"
#include "settings/dialup_win32.h"
#include "settings/settings.h"
#include "settings/dirlist_win32.h"

namespace settings {
namespace {

// Set by OpenConfiguration for the sheet it runs; user-interface thread only.
struct SheetContext {
  HINSTANCE instance = nullptr;
  std::string program_directory;
  std::string help_file;
  // The General page's radio choices as shown, taken by its Apply.
  int shown_resume = 0;
  int shown_file_type = 0;
};
SheetContext g_sheet;

constexpr char kNoDialup[] = "Don't use dial-up connection";

void Answer(HWND page, LONG_PTR result) { SetWindowLongPtrA(page, DWLP_MSGRESULT, result); }

// At most limit characters of an edit's text.
std::string EditText(HWND page, int id, int limit) {
  std::vector<char> text(static_cast<std::size_t>(limit) + 1, '\0');
  GetDlgItemTextA(page, id, text.data(), limit + 1);
  return text.data();
}

// Read unsigned; what is no number, or below 1 taken as a signed 32-bit
// value, stores 0. A port above 65535 stays as typed: the connection layer
// refuses it.
std::int32_t EditNumber(HWND page, int id) {
  BOOL read = FALSE;
  const std::int32_t value = static_cast<std::int32_t>(GetDlgItemInt(page, id, &read, FALSE));
  return read && value >= 1 ? value : 0;
}

void ShowNumber(HWND page, int id, std::int32_t value) {
  SetDlgItemInt(page, id, static_cast<UINT>(value), FALSE);
}

bool Checked(HWND page, int id) { return IsDlgButtonChecked(page, id) == BST_CHECKED; }

void Check(HWND page, int id, bool on) { CheckDlgButton(page, id, on ? BST_CHECKED : BST_UNCHECKED); }

// Commits the edit copy for a page's Apply; a refused commit keeps the
// sheet open on this page.
void ApplyCommit(HWND page) {
  Answer(page, Commit() == 0 ? PSNRET_NOERROR : PSNRET_INVALID_NOCHANGEPAGE);
}

void OpenHelp(HWND page) {
  WinHelpA(GetParent(page), g_sheet.help_file.c_str(), HELP_CONTEXT, HELP_CONTEXT_CONFIG);
}

// The notifications every page answers alike; fill and apply are the page's.
template <typename Fill, typename Apply>
INT_PTR OnNotify(HWND page, LPARAM lparam, Fill fill, Apply apply) {
  switch (reinterpret_cast<NMHDR*>(lparam)->code) {
    case PSN_SETACTIVE:
      fill(page);
      Answer(page, 0);
      return TRUE;
    case PSN_KILLACTIVE:
      Answer(page, FALSE);
      return TRUE;
    case PSN_APPLY:
      apply(page);
      return TRUE;
    case PSN_RESET:
      EditCopy() = Live();
      return TRUE;
    case PSN_HELP:
      OpenHelp(page);
      return TRUE;
  }
  return FALSE;
}

// General page.

void FillGeneral(HWND page) {
  const Record edit = EditCopy();  // filling the edits stores them again
  SetDlgItemTextA(page, IDC_GENERAL_DOWNLOAD, edit.download.c_str());
  SetDlgItemTextA(page, IDC_GENERAL_EMAIL, edit.email.c_str());
  g_sheet.shown_resume = edit.resume_option;
  g_sheet.shown_file_type = edit.file_type;
  CheckRadioButton(page, IDC_GENERAL_AUTORESUME, IDC_GENERAL_OVERWRITE, IDC_GENERAL_AUTORESUME + edit.resume_option);
  CheckRadioButton(page, IDC_GENERAL_AUTO, IDC_GENERAL_ASCII, IDC_GENERAL_AUTO + edit.file_type);
  Check(page, IDC_GENERAL_WINDOWMODE, edit.window_mode != 0);
  Check(page, IDC_GENERAL_ONTOP, edit.on_top != 0);
}

void ReadGeneralEdit(HWND page, int id) {
  if (id == IDC_GENERAL_EMAIL) EditCopy().email = EditText(page, id, 254);
  if (id == IDC_GENERAL_DOWNLOAD) EditCopy().download = EditText(page, id, 1029);
}

void ApplyGeneral(HWND page) {
  ReadGeneralEdit(page, IDC_GENERAL_EMAIL);
  ReadGeneralEdit(page, IDC_GENERAL_DOWNLOAD);
  Record& edit = EditCopy();
  edit.resume_option = g_sheet.shown_resume;
  edit.file_type = g_sheet.shown_file_type;
  edit.window_mode = Checked(page, IDC_GENERAL_WINDOWMODE) ? 1 : 0;
  edit.on_top = Checked(page, IDC_GENERAL_ONTOP) ? 1 : 0;
  ApplyCommit(page);
}

void BrowseDownload(HWND page) {
  std::string chosen;
  if (dirlist::ChooseDirectory(g_sheet.instance, page, &chosen)) {
    SetDlgItemTextA(page, IDC_GENERAL_DOWNLOAD, chosen.c_str());
  }
}

void OnGeneralCommand(HWND page, WPARAM wparam) {
  const int id = LOWORD(wparam);
  Record& edit = EditCopy();
  switch (id) {
    case IDC_GENERAL_EMAIL:
    case IDC_GENERAL_DOWNLOAD:
      if (HIWORD(wparam) == EN_UPDATE) ReadGeneralEdit(page, id);
      break;
    case IDC_GENERAL_AUTORESUME:
    case IDC_GENERAL_OVERWRITE:
      CheckRadioButton(page, IDC_GENERAL_AUTORESUME, IDC_GENERAL_OVERWRITE, id);
      g_sheet.shown_resume = edit.resume_option = id - IDC_GENERAL_AUTORESUME;
      break;
    case IDC_GENERAL_AUTO:
    case IDC_GENERAL_BINARY:
    case IDC_GENERAL_ASCII:
      CheckRadioButton(page, IDC_GENERAL_AUTO, IDC_GENERAL_ASCII, id);
      g_sheet.shown_file_type = edit.file_type = id - IDC_GENERAL_AUTO;
      break;
    case IDC_GENERAL_WINDOWMODE:
      edit.window_mode = Checked(page, id) ? 1 : 0;
      break;
    case IDC_GENERAL_ONTOP:
      edit.on_top = Checked(page, id) ? 1 : 0;
      break;
    case IDC_GENERAL_BROWSE:
      BrowseDownload(page);
      break;
  }
}

// Firewall page.

const int kProxyEdits[] = {IDC_FIREWALL_HTTP_ADDRESS, IDC_FIREWALL_HTTP_PORT, IDC_FIREWALL_FTP_ADDRESS,
                           IDC_FIREWALL_FTP_PORT};

void EnableProxyEdits(HWND page, bool enable) {
  for (int id : kProxyEdits) EnableWindow(GetDlgItem(page, id), enable);
}

void ReadProxyEdit(HWND page, int id) {
  Record& edit = EditCopy();
  switch (id) {
    case IDC_FIREWALL_HTTP_ADDRESS:
      edit.firewall_address_http = EditText(page, id, 254);
      break;
    case IDC_FIREWALL_FTP_ADDRESS:
      edit.firewall_address_ftp = EditText(page, id, 254);
      break;
    case IDC_FIREWALL_HTTP_PORT:
      edit.firewall_port_http = EditNumber(page, id);
      break;
    case IDC_FIREWALL_FTP_PORT:
      edit.firewall_port_ftp = EditNumber(page, id);
      break;
  }
}

void FillFirewall(HWND page) {
  const Record edit = EditCopy();
  Check(page, IDC_FIREWALL_PASSIVE, edit.passive != 0);
  Check(page, IDC_FIREWALL_ON, edit.firewall != 0);
  SetDlgItemTextA(page, IDC_FIREWALL_FTP_ADDRESS, edit.firewall_address_ftp.c_str());
  ShowNumber(page, IDC_FIREWALL_FTP_PORT, edit.firewall_port_ftp);
  SetDlgItemTextA(page, IDC_FIREWALL_HTTP_ADDRESS, edit.firewall_address_http.c_str());
  ShowNumber(page, IDC_FIREWALL_HTTP_PORT, edit.firewall_port_http);
  EnableProxyEdits(page, edit.firewall != 0);
}

void ApplyFirewall(HWND page) {
  Record& edit = EditCopy();
  edit.passive = Checked(page, IDC_FIREWALL_PASSIVE) ? 1 : 0;
  edit.firewall = Checked(page, IDC_FIREWALL_ON) ? 1 : 0;
  if (edit.firewall) {
    for (int id : kProxyEdits) ReadProxyEdit(page, id);
  }
  ApplyCommit(page);
}

void OnFirewallCommand(HWND page, WPARAM wparam) {
  const int id = LOWORD(wparam);
  switch (id) {
    case IDC_FIREWALL_ON:
      EditCopy().firewall = Checked(page, id) ? 1 : 0;
      EnableProxyEdits(page, Checked(page, id));
      break;
    case IDC_FIREWALL_PASSIVE:
      EditCopy().passive = Checked(page, id) ? 1 : 0;
      break;
    default:
      if (HIWORD(wparam) == EN_UPDATE) ReadProxyEdit(page, id);
      break;
  }
}

// Misc. page.

// Split connections of one download: 1 (no split) to 16.
std::int32_t SplitNumber(HWND page) {
  const std::int32_t typed = EditNumber(page, IDC_CONNECTION_SPLIT);
  return typed < 1 ? 1 : typed > 16 ? 16 : typed;
}

void FillConnection(HWND page) {
  const Record edit = EditCopy();
  ShowNumber(page, IDC_CONNECTION_CYCLE_DOWNLOAD, edit.cycle_download);
  ShowNumber(page, IDC_CONNECTION_CYCLE_UPLOAD, edit.cycle_upload);
  ShowNumber(page, IDC_CONNECTION_MAX_PER_SERVER, edit.max_per_server);
  ShowNumber(page, IDC_CONNECTION_SPEED_LIMIT, edit.speed_limit);
  ShowNumber(page, IDC_CONNECTION_SPLIT, edit.split);
}

void OnConnectionCommand(HWND page, WPARAM wparam) {
  if (HIWORD(wparam) != EN_UPDATE) return;
  const int id = LOWORD(wparam);
  Record& edit = EditCopy();
  if (id == IDC_CONNECTION_CYCLE_DOWNLOAD) edit.cycle_download = EditNumber(page, id);
  if (id == IDC_CONNECTION_CYCLE_UPLOAD) edit.cycle_upload = EditNumber(page, id);
  if (id == IDC_CONNECTION_MAX_PER_SERVER) edit.max_per_server = EditNumber(page, id);
  if (id == IDC_CONNECTION_SPEED_LIMIT) edit.speed_limit = EditNumber(page, id);
  if (id == IDC_CONNECTION_SPLIT) edit.split = SplitNumber(page);
}

// Dial-up page.

// The phone-book entries, asked for in two calls: the first learns the size
// of the records, the second fills them. Empty when the library is absent
// or either call fails; false when the buffer could not be had.
bool PhoneBookEntries(std::vector<std::string>* names) {
  const RasApi* ras = DialupFunctions();
  if (!ras) return true;
  RasEntryName95 probe = {};
  probe.size = sizeof probe;
  DWORD bytes = 0;
  DWORD count = 0;
  ras->enum_entries(nullptr, nullptr, &probe, &bytes, &count);
  if (bytes == 0) return true;
  std::vector<char> buffer;
  try {
    buffer.assign(bytes, '\0');
  } catch (const std::bad_alloc&) {
    return false;
  }
  auto* records = reinterpret_cast<RasEntryName95*>(buffer.data());
  const DWORD room = static_cast<DWORD>(bytes / sizeof(RasEntryName95));
  for (DWORD i = 0; i < count && i < room; ++i) records[i].size = sizeof(RasEntryName95);
  if (ras->enum_entries(nullptr, nullptr, records, &bytes, &count) != 0) return true;
  for (DWORD i = 0; i < count && i < room; ++i) {
    records[i].entry_name[sizeof records[i].entry_name - 1] = '\0';
    if (records[i].entry_name[0] != '\0') names->push_back(records[i].entry_name);
  }
  return true;
}

void FillDialup(HWND page) {
  HWND list = GetDlgItem(page, IDC_DIALUP_ENTRIES);
  SendMessageA(list, CB_RESETCONTENT, 0, 0);
  SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kNoDialup));
  std::vector<std::string> names;
  if (!PhoneBookEntries(&names)) return;  // no item selected
  const std::string& wanted = EditCopy().dial_up;
  LRESULT selected = 0;
  for (const std::string& name : names) {
    const LRESULT index = SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    if (!wanted.empty() && name == wanted && selected == 0) selected = index;
  }
  SendMessageA(list, CB_SETCURSEL, selected, 0);
}

void OnDialupCommand(HWND page, WPARAM wparam) {
  if (LOWORD(wparam) != IDC_DIALUP_ENTRIES) return;
  HWND list = GetDlgItem(page, IDC_DIALUP_ENTRIES);
  const LRESULT selected = SendMessageA(list, CB_GETCURSEL, 0, 0);
  if (selected == CB_ERR) return;
  if (selected == 0) {
    EditCopy().dial_up.clear();
    return;
  }
  char name[kTextWidth] = {};
  if (SendMessageA(list, CB_GETLBTEXTLEN, selected, 0) < static_cast<LRESULT>(sizeof name)) {
    SendMessageA(list, CB_GETLBTEXT, selected, reinterpret_cast<LPARAM>(name));
    EditCopy().dial_up = name;
  }
}

// Called by the system while it creates the sheet: the pages start from the
// stored values, whatever was changed in memory since.
int CALLBACK SheetCallback(HWND, UINT, LPARAM) {
  Load(g_sheet.program_directory);
  return 0;
}

PROPSHEETPAGEA Page(const char* templ, const char* title, DLGPROC procedure) {
  PROPSHEETPAGEA page = {};
  page.dwSize = sizeof page;
  page.dwFlags = PSP_USETITLE | PSP_HASHELP;
  page.hInstance = g_sheet.instance;
  page.pszTemplate = templ;
  page.pszTitle = title;
  page.pfnDlgProc = procedure;
  return page;
}

// Every page answers its messages alike: its own commands, and the sheet's
// notifications with its own fill and apply.
INT_PTR PageMessage(HWND page, UINT message, WPARAM wparam, LPARAM lparam, void (*on_command)(HWND, WPARAM),
                    void (*fill)(HWND), void (*apply)(HWND)) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      on_command(page, wparam);
      return TRUE;
    case WM_NOTIFY:
      return OnNotify(page, lparam, fill, apply);
    case WM_HELP:  // F1
      OpenHelp(page);
      return TRUE;
  }
  return FALSE;
}

}  // namespace

INT_PTR CALLBACK GeneralDlgFunc(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
  return PageMessage(page, message, wparam, lparam, OnGeneralCommand, FillGeneral, ApplyGeneral);
}

INT_PTR CALLBACK FirewallDlgFunc(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
  return PageMessage(page, message, wparam, lparam, OnFirewallCommand, FillFirewall, ApplyFirewall);
}

INT_PTR CALLBACK ConnectionDlgFunc(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
  return PageMessage(page, message, wparam, lparam, OnConnectionCommand, FillConnection, ApplyCommit);
}

INT_PTR CALLBACK DialupDlgFunc(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
  return PageMessage(page, message, wparam, lparam, OnDialupCommand, FillDialup, ApplyCommit);
}

void OpenConfiguration(HINSTANCE instance, HWND owner, const std::string& program_directory,
                       const std::string& help_file) {
  g_sheet = SheetContext();
  g_sheet.instance = instance;
  g_sheet.program_directory = program_directory;
  g_sheet.help_file = help_file;
  PROPSHEETPAGEA pages[] = {
      Page("GENERAL", "General", GeneralDlgFunc),
      Page("FIREWALL", "Firewall", FirewallDlgFunc),
      Page("CONNECTION", "Misc.", ConnectionDlgFunc),
      Page("Dialup", "Dialup", DialupDlgFunc),
  };
  PROPSHEETHEADERA header = {};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW | PSH_USECALLBACK;
  header.hwndParent = owner;
  header.hInstance = instance;
  header.pszCaption = "Configuration";
  header.nPages = sizeof pages / sizeof pages[0];
  header.nStartPage = 0;
  header.ppsp = pages;
  header.pfnCallback = SheetCallback;
  PropertySheetA(&header);
}

}  // namespace settings
