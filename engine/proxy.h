// Proxies of a transfer: what a proxy address holds (credentials, a port),
// the Proxy-Authorization line, and the proxies that the environment of the
// command-line program names (http_proxy and its kin, as curl reads them).
#pragma once

#include <cstdint>
#include <string>

namespace proxy {

struct Server {
  std::string host;  // empty: no proxy
  std::uint32_t port = 0;
  std::string user;  // percent-decoded; empty: no credentials
  std::string password;
};

// Reads "[scheme://][user[:password]@]host[:port][/]": the port is
// default_port unless the text names one ("[::1]:3128" for an IPv6 address);
// a port that is not 1 to 65535 reads as 0, which no connection takes.
Server FromAddress(const std::string& address, std::uint32_t default_port);

// "Proxy-Authorization: Basic ..." with CR LF, or "" without a user.
std::string AuthorizationLine(const std::string& user, const std::string& password);

// The proxy variables of an environment. Lower case wins; curl reads no
// upper-case HTTP_PROXY (a CGI program gets the client's "Proxy:" header in
// it), so neither is it read here.
struct Environment {
  std::string http;      // http_proxy
  std::string https;     // https_proxy, HTTPS_PROXY
  std::string ftp;       // ftp_proxy, FTP_PROXY
  std::string all;       // all_proxy, ALL_PROXY: for a scheme without its own
  std::string no_proxy;  // no_proxy, NO_PROXY
};
using Lookup = const char* (*)(const char* name);
Environment ReadEnvironment(Lookup lookup);

// Makes environment the one ForLink consults; the program calls it once,
// before any job.
void UseEnvironment(const Environment& environment);

// The proxy the environment in use names for a link of protocol (url::kFtp,
// kHttp, kHttps) to host (port 1080 unless it names one, as curl takes it);
// an empty host when it names none or no_proxy exempts host.
Server ForLink(int protocol, const std::string& host);

// True when a no_proxy list ("*", or names separated by commas or blanks,
// each matching itself and its subdomains, without regard to case) exempts host.
bool Exempts(const std::string& no_proxy, const std::string& host);

}  // namespace proxy
