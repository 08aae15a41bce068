#include "settings/settings.h"

#include <cstdio>
#include <mutex>

#include "platform/fs.h"
#include "platform/prompts.h"
#include "settings/store.h"

namespace settings {

const char kPlaceholderEmail[] = "parcelo@example.com";

namespace {

struct Instances {
  // Guards live: workers copy it while a commit on the user-interface thread
  // replaces it, and a worker may switch it to active FTP at any time.
  std::mutex live_lock;
  Record live;
  Record edit;  // user-interface thread only
};

Instances& Shared() {
  static Instances instances;
  return instances;
}

// Stored text longer than its field keeps the field's first width - 1 bytes.
std::string ReadField(const char* name, const std::string& default_text, std::size_t width) {
  std::string text = ReadText(name, default_text);
  if (text.size() > width - 1) text.resize(width - 1);
  return text;
}

void WriteNumber(const char* name, std::int32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
  WriteText(name, text);
}

}  // namespace

void Load(const std::string& download_default) {
  Record record;
  record.resume_option = ReadNumber("ResumeOption", 0);
  record.file_type = ReadNumber("Filetype", 0);
  record.download = ReadField("DOWNLOAD", download_default, kDownloadUsed);
  record.firewall_address_ftp = ReadField("FirewallAddressFTP", "", kTextWidth);
  record.firewall_port_ftp = ReadNumber("FirewallPortFTP", 23);
  record.firewall_address_http = ReadField("FirewallAddressHTTP", "", kTextWidth);
  record.firewall_port_http = ReadNumber("FirewallPortHTTP", 23);
  record.email = ReadField("email", kPlaceholderEmail, kTextWidth);
  record.dial_up = ReadField("DialUp", "", kTextWidth);
  record.firewall = ReadNumber("Firewall", 0);
  record.passive = ReadNumber("Passive", 1);
  record.server_retry = ReadNumber("ServerRetry", 1);
  record.resume_retry = ReadNumber("ResumeRetry", 1);
  record.cycle_download = ReadNumber("CycleDownload", 0);
  record.cycle_upload = ReadNumber("CycleUpload", 0);
  record.window_mode = ReadNumber("WindowMode", 0);
  record.on_top = ReadNumber("OnTop", 0);
  record.use_http_script = ReadNumber("UseHTTPScript", 0);
  record.use_ftp_script = ReadNumber("UseFTPScript", 0);
  record.server_names = ReadNumber("ServerNames", 1);
  record.http_proxy_user = ReadField("HttpProxyUser", "", kTextWidth);
  record.http_proxy_password = ReadField("HttpProxyPassword", "", kTextWidth);
  record.max_per_server = ReadNumber("MaxPerServer", 8);
  record.speed_limit = ReadNumber("SpeedLimit", 0);
  record.split = ReadNumber("Split", 4);
  record.split_min = ReadNumber("SplitMin", 16 << 20);

  Instances& shared = Shared();
  {
    std::lock_guard<std::mutex> hold(shared.live_lock);
    shared.live = record;
  }
  shared.edit = record;
}

int Commit() {
  Instances& shared = Shared();
  const Record& edit = shared.edit;
  // A device name passes for an existing directory on some systems ("C:\dl\nul").
  const std::string device = fs::DeviceComponent(edit.download);
  if (!device.empty()) {
    prompts::Message("Download directory names a device: " + device, "Error",
                     prompts::kIconInformation | prompts::kTaskModal);
    return -1;
  }
  if (!fs::DirectoryExists(edit.download)) {
    prompts::Message("Download directory does not exist", "Error",
                     prompts::kIconInformation | prompts::kTaskModal);
    return -1;
  }
  {
    std::lock_guard<std::mutex> hold(shared.live_lock);
    shared.live = edit;
  }
  WriteNumber("ResumeOption", edit.resume_option);
  WriteNumber("Filetype", edit.file_type);
  WriteText("DOWNLOAD", edit.download);
  WriteText("FirewallAddressFTP", edit.firewall_address_ftp);
  WriteNumber("FirewallPortFTP", edit.firewall_port_ftp);
  WriteText("FirewallAddressHTTP", edit.firewall_address_http);
  WriteNumber("FirewallPortHTTP", edit.firewall_port_http);
  WriteText("email", edit.email);
  WriteNumber("Firewall", edit.firewall);
  WriteNumber("WindowMode", edit.window_mode);
  WriteNumber("OnTop", edit.on_top);
  WriteNumber("PASSIVE", edit.passive);
  WriteNumber("ServerRetry", edit.server_retry);
  WriteNumber("CycleDownload", edit.cycle_download);
  WriteNumber("CycleUpload", edit.cycle_upload);
  WriteNumber("UseHTTPScript", edit.use_http_script);
  WriteNumber("UseFTPScript", edit.use_ftp_script);
  WriteText("DialUp", edit.dial_up);
  WriteNumber("ServerNames", edit.server_names);
  WriteText("HttpProxyUser", edit.http_proxy_user);
  WriteText("HttpProxyPassword", edit.http_proxy_password);
  WriteNumber("MaxPerServer", edit.max_per_server);
  WriteNumber("SpeedLimit", edit.speed_limit);
  WriteNumber("Split", edit.split);
  WriteNumber("SplitMin", edit.split_min);
  return 0;
}

Record Live() {
  Instances& shared = Shared();
  std::lock_guard<std::mutex> hold(shared.live_lock);
  return shared.live;
}

void SetLivePassive(std::int32_t passive) {
  Instances& shared = Shared();
  std::lock_guard<std::mutex> hold(shared.live_lock);
  shared.live.passive = passive;
}

void SetLiveServerNames(std::int32_t server_names) {
  Instances& shared = Shared();
  std::lock_guard<std::mutex> hold(shared.live_lock);
  shared.live.server_names = server_names;
}

Record& EditCopy() { return Shared().edit; }

}  // namespace settings
