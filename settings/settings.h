// The settings record, its two process-wide instances (live settings and the
// edit copy), and loading and committing them through the settings store.
#pragma once

#include <cstdint>
#include <string>

namespace settings {

// Widths of the text fields, terminating NUL included. Longer stored values
// are cut to width - 1 when read.
constexpr std::size_t kTextWidth = 256;
constexpr std::size_t kDownloadUsed = 1031;

struct Record {
  std::string email;                  // email
  std::string download;               // DOWNLOAD
  std::int32_t resume_option = 0;     // ResumeOption: 0 Auto Resume, 1 Overwrite
  std::int32_t file_type = 0;         // Filetype: 0 Auto, 1 Binary, 2 ASCII
  std::string firewall_address_http;  // FirewallAddressHTTP
  std::string firewall_address_ftp;   // FirewallAddressFTP
  std::int32_t firewall_port_ftp = 23;
  std::int32_t firewall_port_http = 23;
  std::int32_t server_retry = 1;
  std::int32_t resume_retry = 1;
  std::int32_t passive = 1;  // read as Passive, written as PASSIVE
  std::int32_t window_mode = 0;
  std::int32_t on_top = 0;
  std::int32_t firewall = 0;
  std::int32_t cycle_download = 0;
  std::int32_t cycle_upload = 0;
  std::int32_t use_ftp_script = 0;
  std::int32_t use_http_script = 0;
  std::string dial_up;  // DialUp
  // ServerNames: 1 lets the server name a download's local file (a
  // redirect's link, Content-Disposition), 0 keeps the name from the link.
  std::int32_t server_names = 1;
  // HttpProxyUser, HttpProxyPassword: Basic credentials for the HTTP proxy
  // when its address carries none.
  std::string http_proxy_user;
  std::string http_proxy_password;
  // Connections at once to one host and port, pieces of a split download
  // included; 0 = no cap.
  std::int32_t max_per_server = 8;  // MaxPerServer
  // KiB per second for all transfers together, downloads and uploads; 0 = none.
  std::int32_t speed_limit = 0;  // SpeedLimit
  // Connections one large download is split over (1 = one).
  std::int32_t split = 4;  // Split
  std::int32_t split_min = 16 << 20;     // SplitMin: bytes from which a download is split
};

// The anonymous FTP password when no email is stored.
extern const char kPlaceholderEmail[];

// Fills the live settings from the store (DOWNLOAD defaulting to
// download_default: the program directory in the Win32 program) and copies
// them onto the edit copy.
void Load(const std::string& download_default);

// Validates the edit copy, copies it onto the live settings and writes it to the
// store. Returns 0, or -1 (with "Download directory names a device: <name>"
// or "Download directory does not exist") leaving memory and store unchanged.
int Commit();

// A consistent copy of the live settings; safe from any thread.
Record Live();
// Workers switch the run to active FTP after a refused PASV.
void SetLivePassive(std::int32_t passive);
// A run of the command-line program that keeps the names from links.
void SetLiveServerNames(std::int32_t server_names);

// The edit copy: user-interface thread only.
Record& EditCopy();

}  // namespace settings
