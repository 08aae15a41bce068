// config and log: the settings and the transfer logs.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "settings/places.h"
#include "settings/settings.h"
#include "settings/store.h"
#include "tasks/taskfile.h"
#include "tasks/transfer_log.h"

namespace cli {
namespace {

// One setting of the record, by its registry value name.
struct Setting {
  const char* name;
  std::string settings::Record::*text;      // a text setting, or
  std::int32_t settings::Record::*number;   // a number setting
  std::size_t width;                        // text: longest value + 1
  bool writable;                            // written by a commit
};

using R = settings::Record;
const Setting kSettings[] = {
    {"ResumeOption", nullptr, &R::resume_option, 0, true},
    {"Filetype", nullptr, &R::file_type, 0, true},
    {"DOWNLOAD", &R::download, nullptr, settings::kDownloadUsed, true},
    {"FirewallAddressFTP", &R::firewall_address_ftp, nullptr, settings::kTextWidth, true},
    {"FirewallPortFTP", nullptr, &R::firewall_port_ftp, 0, true},
    {"FirewallAddressHTTP", &R::firewall_address_http, nullptr, settings::kTextWidth, true},
    {"FirewallPortHTTP", nullptr, &R::firewall_port_http, 0, true},
    {"email", &R::email, nullptr, settings::kTextWidth, true},
    {"DialUp", &R::dial_up, nullptr, settings::kTextWidth, true},
    {"Firewall", nullptr, &R::firewall, 0, true},
    {"Passive", nullptr, &R::passive, 0, true},
    {"ServerRetry", nullptr, &R::server_retry, 0, true},
    // Read at start-up, never written by the program.
    {"ResumeRetry", nullptr, &R::resume_retry, 0, false},
    {"CycleDownload", nullptr, &R::cycle_download, 0, true},
    {"CycleUpload", nullptr, &R::cycle_upload, 0, true},
    {"WindowMode", nullptr, &R::window_mode, 0, true},
    {"OnTop", nullptr, &R::on_top, 0, true},
    {"UseHTTPScript", nullptr, &R::use_http_script, 0, true},
    {"UseFTPScript", nullptr, &R::use_ftp_script, 0, true},
    {"ServerNames", nullptr, &R::server_names, 0, true},
    {"HttpProxyUser", &R::http_proxy_user, nullptr, settings::kTextWidth, true},
    {"HttpProxyPassword", &R::http_proxy_password, nullptr, settings::kTextWidth, true},
    {"MaxPerServer", nullptr, &R::max_per_server, 0, true},
    {"SpeedLimit", nullptr, &R::speed_limit, 0, true},
    {"Split", nullptr, &R::split, 0, true},
    {"SplitMin", nullptr, &R::split_min, 0, true},
};

bool SameName(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return i == a.size() && !b[i];
}

const Setting* FindSetting(const std::string& name) {
  for (const Setting& setting : kSettings) {
    if (SameName(name, setting.name)) return &setting;
  }
  return nullptr;
}

std::string ValueOf(const Setting& setting, const settings::Record& record) {
  if (setting.text) return record.*setting.text;
  return std::to_string(record.*setting.number);
}

// A decimal 32-bit number: optional sign, then digits only.
bool ReadNumber(const std::string& text, std::int32_t* value) {
  std::size_t i = text.size() > 0 && (text[0] == '-' || text[0] == '+') ? 1 : 0;
  if (i == text.size() || text.size() - i > 10) return false;
  std::int64_t number = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    number = number * 10 + (text[i] - '0');
  }
  if (text[0] == '-') number = -number;
  if (number < INT32_MIN || number > INT32_MAX) return false;
  *value = static_cast<std::int32_t>(number);
  return true;
}

// A commit writes every setting of the record. This store lets all writes
// through but that of a DOWNLOAD that was not stored and still holds its
// default, so that the default keeps following the user's download directory
// (and, where there is none, the current directory of each run).
class UnsetDownloadKept : public settings::Store {
 public:
  explicit UnsetDownloadKept(const std::string& download_default) : default_(download_default) {
    std::string ignored;
    stored_ = settings::PlatformStore().Read("DOWNLOAD", &ignored);
  }
  bool Read(const std::string& name, std::string* value) override {
    return settings::PlatformStore().Read(name, value);
  }
  bool Write(const std::string& name, const std::string& value) override {
    if (!stored_ && SameName(name, "DOWNLOAD") && value == default_) return true;
    return settings::PlatformStore().Write(name, value);
  }

 private:
  const std::string default_;
  bool stored_ = false;
};

bool HoldsLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

int SetSetting(const Setting& setting, const std::string& value) {
  if (!setting.writable) {
    std::fprintf(stderr, "parcelo: %s is read only\n", setting.name);
    return kExitRefused;
  }
  settings::Record& edit = settings::EditCopy();
  if (setting.text) {
    if (value.size() >= setting.width || HoldsLineBreak(value)) {
      std::fprintf(stderr, "parcelo: %s takes one line of at most %zu characters\n", setting.name,
                   setting.width - 1);
      return kExitRefused;
    }
    edit.*setting.text = value;
  } else if (!ReadNumber(value, &(edit.*setting.number))) {
    std::fprintf(stderr, "parcelo: %s takes a number\n", setting.name);
    return kExitRefused;
  }
  UnsetDownloadKept store(setting.text == &R::download ? std::string() : DefaultDownloadDirectory());
  settings::InstallStore(&store);
  // The commit has shown its reason through the prompts port.
  const int committed = settings::Commit();
  settings::InstallStore(nullptr);
  return committed == 0 ? kExitOk : kExitRefused;
}

}  // namespace

int RunConfig(const Invocation& invocation) {
  const std::vector<std::string>& arguments = invocation.arguments;
  const settings::Record live = settings::Live();
  if (arguments.empty()) {
    for (const Setting& setting : kSettings) {
      std::printf("%s=%s\n", setting.name, ValueOf(setting, live).c_str());
    }
    return kExitOk;
  }
  if (arguments.size() > 2) {
    std::fprintf(stderr, "parcelo: config takes at most a NAME and a VALUE\n");
    return kExitRefused;
  }
  const Setting* setting = FindSetting(arguments[0]);
  if (!setting) {
    std::fprintf(stderr, "parcelo: no setting named %s\n", arguments[0].c_str());
    return kExitRefused;
  }
  if (arguments.size() == 1) {
    std::printf("%s\n", ValueOf(*setting, live).c_str());
    return kExitOk;
  }
  return SetSetting(*setting, arguments[1]);
}

int RunLog(const Invocation& invocation) {
  int mode = app::kReceiveMode;
  bool clear = false;
  for (const std::string& argument : invocation.arguments) {
    if (argument == "--send") {
      mode = app::kSendMode;
    } else if (argument == "--clear") {
      clear = true;
    } else {
      std::fprintf(stderr, "parcelo: log takes only --send and --clear\n");
      return kExitRefused;
    }
  }
  const std::string path = transfer_log::LogPath(mode);
  if (clear) {
    if (transfer_log::ClearLog(mode) == 0) return kExitOk;
    std::fprintf(stderr, "parcelo: cannot empty %s\n", path.c_str());
    return kExitFailed;
  }
  const std::string problem = ReadProblem(path, true);  // a missing log is an empty one
  if (!problem.empty()) {
    std::fprintf(stderr, "parcelo: cannot read log file %s: %s\n", path.c_str(), problem.c_str());
    return kExitRefused;
  }
  for (const transfer_log::LogRow& row : transfer_log::ReadLog(mode)) {
    std::printf("%s\t%s\t%s\n", row.stamp.c_str(), row.local_file.c_str(), row.url.c_str());
  }
  return kExitOk;
}

}  // namespace cli
