#include "engine/proxy.h"

#include <mutex>

#include "engine/http.h"
#include "tasks/url.h"

namespace proxy {
namespace {

// curl's port for a proxy named without one.
constexpr std::uint32_t kEnvironmentDefaultPort = 1080;

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// A port of 1 to 65535 written in digits, else 0.
std::uint32_t ReadPort(const std::string& text) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return 0;
  const unsigned long port = std::stoul(text);
  return port >= 1 && port <= 65535 ? static_cast<std::uint32_t>(port) : 0;
}

// Escapes as a link writes them ("p%40ss"), kept as written when malformed.
std::string Decoded(std::string text) {
  std::string decoded = text;
  return url::PercentDecode(&decoded) == 0 ? decoded : text;
}

// Splits "host:port" (or "[v6]:port"); a bare IPv6 address has no port.
void TakeHostAndPort(const std::string& authority, Server* server) {
  const std::size_t bracket = authority.find(']');
  const std::size_t colon = authority.rfind(':');
  const bool bare_ipv6 = bracket == std::string::npos && authority.find(':') != colon;
  std::string host = authority;
  if (colon != std::string::npos && !bare_ipv6 && (bracket == std::string::npos || colon > bracket)) {
    host = authority.substr(0, colon);
    server->port = ReadPort(authority.substr(colon + 1));
  }
  if (host.size() > 1 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  server->host = host;
}

std::string First(Lookup lookup, const char* lower, const char* upper) {
  const char* value = lookup(lower);
  if ((!value || !*value) && upper) value = lookup(upper);
  return value ? value : "";
}

struct Installed {
  std::mutex lock;
  Environment environment;
};

Installed& InUse() {
  static Installed installed;
  return installed;
}

}  // namespace

Server FromAddress(const std::string& address, std::uint32_t default_port) {
  Server server;
  server.port = default_port;
  std::string rest = address;
  const std::size_t scheme = rest.find("://");
  if (scheme != std::string::npos) rest.erase(0, scheme + 3);
  rest = rest.substr(0, rest.find('/'));
  const std::size_t at = rest.rfind('@');
  if (at != std::string::npos) {
    const std::string userinfo = rest.substr(0, at);
    const std::size_t colon = userinfo.find(':');
    server.user = Decoded(userinfo.substr(0, colon));
    if (colon != std::string::npos) server.password = Decoded(userinfo.substr(colon + 1));
    rest.erase(0, at + 1);
  }
  TakeHostAndPort(rest, &server);
  return server;
}

std::string AuthorizationLine(const std::string& user, const std::string& password) {
  if (user.empty()) return std::string();
  return "Proxy-Authorization: Basic " + http::EncodeBase64(user + ":" + password) + "\r\n";
}

Environment ReadEnvironment(Lookup lookup) {
  Environment environment;
  environment.http = First(lookup, "http_proxy", nullptr);
  environment.https = First(lookup, "https_proxy", "HTTPS_PROXY");
  environment.ftp = First(lookup, "ftp_proxy", "FTP_PROXY");
  environment.all = First(lookup, "all_proxy", "ALL_PROXY");
  environment.no_proxy = First(lookup, "no_proxy", "NO_PROXY");
  return environment;
}

void UseEnvironment(const Environment& environment) {
  Installed& installed = InUse();
  std::lock_guard<std::mutex> hold(installed.lock);
  installed.environment = environment;
}

Server ForLink(int protocol, const std::string& host) {
  Environment environment;
  {
    Installed& installed = InUse();
    std::lock_guard<std::mutex> hold(installed.lock);
    environment = installed.environment;
  }
  std::string address = protocol == url::kHttps ? environment.https
                        : protocol == url::kFtp ? environment.ftp
                                                : environment.http;
  if (address.empty()) address = environment.all;
  if (address.empty() || Exempts(environment.no_proxy, host)) return Server();
  return FromAddress(address, kEnvironmentDefaultPort);
}

bool Exempts(const std::string& no_proxy, const std::string& host) {
  std::string name = Lower(host);
  if (name.size() > 1 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
  std::size_t start = 0;
  while (start < no_proxy.size()) {
    std::size_t end = no_proxy.find_first_of(", \t", start);
    if (end == std::string::npos) end = no_proxy.size();
    std::string entry = Lower(no_proxy.substr(start, end - start));
    start = end + 1;
    if (entry == "*") return true;
    if (!entry.empty() && entry.front() == '.') entry.erase(0, 1);
    if (entry.empty() || entry.size() > name.size()) continue;
    const std::size_t offset = name.size() - entry.size();
    if (name.compare(offset, entry.size(), entry) == 0 && (offset == 0 || name[offset - 1] == '.')) return true;
  }
  return false;
}

}  // namespace proxy
