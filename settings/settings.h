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
  std::int32_t split = 4;                // Split: connections of one download, 1 = one
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

// The edit copy: user-interface thread only.
Record& EditCopy();

}  // namespace settings
