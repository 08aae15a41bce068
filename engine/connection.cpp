#include "engine/connection.h"

#include <cstring>
#include <vector>

#include "engine/proxy.h"
#include "engine/text_format.h"
#include "engine/timeouts.h"
#include "platform/clock.h"
#include "tasks/url.h"

namespace session {
namespace {

// Host names longer than this are refused rather than cut.
constexpr std::size_t kHostLimit = 511;
// Bytes of the control connection read in one receive.
constexpr std::size_t kControlReadAhead = 4096;

// The server of the attempt: the URL's, or the proxy of its protocol.
void ChooseServer(const AttemptParams& params, bool firewall, std::string* host,
                  std::uint32_t* port) {
  if (!firewall) {
    *host = params.host;
    *port = params.port;
  } else if (params.protocol == url::kHttp || params.protocol == url::kHttps) {
    *host = params.http_proxy_host;
    *port = params.http_proxy_port;
  } else {
    *host = params.ftp_proxy_host;
    *port = params.ftp_proxy_port;
  }
}

// The host as the sockets and TLS take it: an IPv6 literal without the
// brackets that set it apart from the port in a link.
std::string BareHost(const std::string& host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') return host.substr(1, host.size() - 2);
  return host;
}

// The addresses of the server: a numeric address as it is written (no
// lookup, so a dotted address costs nothing more than before), else its
// resolved IPv6 and IPv4 addresses after "Resolving address". Returns
// kSuccess or kFailure after "Host not found".
int FindServer(const Context& context, const std::string& host, std::vector<net::Address>* addresses) {
  net::Address numeric;
  const std::string bare = BareHost(host);
  if (bare.size() <= kHostLimit && net::ParseNumeric(bare, &numeric)) {
    addresses->assign(1, numeric);
    return kSuccess;
  }
  ShowStatus(context, "Resolving address");
  // A bracketed host that is no IPv6 literal is never a name to look up.
  if (bare.size() > kHostLimit || bare != host || net::ResolveAll(bare, addresses) != 0) {
    ShowStatus(context, "Host not found");
    return kFailure;
  }
  return kSuccess;
}

// Longest CONNECT answer taken from a proxy.
constexpr std::size_t kTunnelAnswerLimit = 8192;

// Asks the HTTP proxy on connection for a tunnel to the entry's server and
// reads its answer up to the blank line, byte by byte so that nothing of the
// server's stream is taken. Returns kSuccess for a 2xx answer, else kFailure
// after telling why.
int OpenTunnel(Context& context, net::Socket& connection, const AttemptParams& params) {
  const std::string authority = params.host + ":" + std::to_string(params.port);
  const std::string credentials = proxy::AuthorizationLine(params.proxy_user, params.proxy_password);
  context.proxy_authorized = !credentials.empty();
  const std::string request =
      "CONNECT " + authority + " HTTP/1.0\r\nHost: " + authority + "\r\n" + credentials + "\r\n";
  if (connection.SendAll(request.data(), request.size(), timeouts::DataMs()) != 0) {
    ShowStatus(context, "Failed");
    return kFailure;
  }
  std::string answer;
  const std::uint32_t start = clock_seam::TickCount();
  while (answer.size() < 4 || answer.compare(answer.size() - 4, 4, "\r\n\r\n") != 0) {
    char byte = 0;
    int error = 0;
    const int left = clock_seam::MillisecondsLeft(start, timeouts::DataMs());
    if (answer.size() >= kTunnelAnswerLimit || left == 0 ||
        connection.Receive(&byte, 1, left, &error) != 1) {
      ShowStatus(context, "Proxy refused the tunnel");
      return kFailure;
    }
    answer += byte;
  }
  // "HTTP/1.x 200 ..."
  const std::size_t blank = answer.find(' ');
  if (blank == std::string::npos || answer.compare(0, 5, "HTTP/") != 0 || blank + 1 >= answer.size() ||
      answer[blank + 1] != '2') {
    ShowStatus(context, "Proxy refused the tunnel");
    if (answer.compare(blank + 1, 3, "407") == 0) SetCause(context, ProxyRefusal(context));
    return kFailure;
  }
  return kSuccess;
}

// Makes connection a TLS stream to the entry's host. Returns kSuccess, or a
// failure after telling why; a refused certificate is never tried again.
int SecureConnection(const Context& context, net::Socket& connection, const AttemptParams& params) {
  ShowStatus(context, "Securing connection");
  std::string reason;
  const int result = connection.StartTls(BareHost(params.host), timeouts::DataMs(), &reason);
  if (result == 0) return kSuccess;
  if (result == net::kTlsCertificate) {
    ShowStatus(context, "Certificate error: " + reason);
    return kNotRetried;
  }
  if (result == net::kTlsNotAvailable) {
    ShowStatus(context, reason);
    return kNotRetried;
  }
  if (result == net::kTlsFailed) {
    ShowStatus(context, "Secure connection failed: " + reason);
  } else if (result == net::kTimedOut) {
    ShowStatus(context, "Secure connection failed: timed out");
  } else {
    ShowStatusNumber(context, "Secure connection failed: error %d", result);
  }
  return kFailure;
}

}  // namespace

int OpenConnection(Context& context, const AttemptParams& params, net::Socket& control) {
  std::string host;
  std::uint32_t port = 0;
  ChooseServer(params, context.via_proxy, &host, &port);

  std::vector<net::Address> addresses;
  if (FindServer(context, host, &addresses) != kSuccess) return kFailure;
  if (control.Open(addresses[0].v6) != 0) return kNoSocket;
  const int refused = port == 0 || port > 65535
                          ? net::kAddressNotAvailable
                          : control.ConnectFirst(addresses, static_cast<std::uint16_t>(port), timeouts::ConnectMs());
  if (refused != 0) {
    Fail(context, "Failed to connect", SocketErrorText(refused));
    return kFailure;
  }
  ResetControlInput(context);
  if (params.protocol == url::kHttps) {
    // Through the proxy the request travels inside the tunnel, in the form
    // the server itself takes.
    if (context.via_proxy && OpenTunnel(context, control, params) != kSuccess) return kFailure;
    context.via_proxy = false;
    const int secured = SecureConnection(context, control, params);
    if (secured != kSuccess) return secured;
  }
  return kSuccess;
}

std::string SocketErrorText(int error_number) {
  switch (error_number) {
    case net::kConnectionRefused: return "Connection refused";
    case net::kTimedOut: return "Timed out";
    case net::kHostUnreachable: return "Host unreachable";
    case net::kNetworkUnreachable: return "Network unreachable";
    case net::kNetworkDown: return "Network down";
    case net::kConnectionReset: return "Connection reset by the server";
    case net::kConnectionAborted: return "Connection aborted";
    case net::kAddressNotAvailable: return "Address not available";
    case net::kTlsCutShort: return "Secure stream ended without close notify";
    default: return text::Format("Network error %d", error_number);
  }
}

int ReadReplyByte(Context& context, net::Socket& control, std::uint32_t reply_start,
                  int timeout_ms, char* byte) {
  if (context.control_begin == context.control_end) {
    if (context.control_input.size() < kControlReadAhead) {
      context.control_input.resize(kControlReadAhead);
    }
    int left = clock_seam::MillisecondsLeft(reply_start, timeout_ms);
    if (left == 0) return kConnectionLost;
    int error = 0;
    long n = control.Receive(context.control_input.data(), context.control_input.size(), left,
                             &error);
    if (n <= 0) return kConnectionLost;
    context.control_begin = 0;
    context.control_end = static_cast<std::size_t>(n);
  }
  *byte = context.control_input[context.control_begin++];
  return 1;
}

void ResetControlInput(Context& context) {
  context.control_begin = 0;
  context.control_end = 0;
}

bool IsConnectionLoss(int error_number) {
  switch (error_number) {
    case net::kNetworkDown:
    case net::kNetworkReset:
    case net::kConnectionAborted:
    case net::kConnectionReset:
    case net::kNotConnected:
    case net::kShutDown:
      return true;
    default:
      return false;
  }
}

int SendBlock(const Context& context, net::Socket& socket, const void* bytes, std::size_t length) {
  int error = socket.SendAll(bytes, length, timeouts::DataMs());
  if (error == 0) return kSuccess;
  ShowStatusNumber(context, "write buffer %d", error);
  return IsConnectionLoss(error) ? kConnectionLost : kFailure;
}

namespace {

// One field of a passive reply: at most seven characters, blanks around a
// number of 0 to 255 allowed (some servers write "( 10, 0, 0, 1, 4, 1)").
bool ParsePassiveField(const std::string& field, int* value) {
  std::size_t begin = field.find_first_not_of(' ');
  if (begin == std::string::npos) return false;
  std::size_t end = field.find_last_not_of(' ') + 1;
  int number = 0;  // at most seven digits: no overflow
  for (std::size_t i = begin; i < end; ++i) {
    if (field[i] < '0' || field[i] > '9') return false;
    number = number * 10 + (field[i] - '0');
  }
  if (number > 255) return false;
  *value = number;
  return true;
}

}  // namespace

bool ParsePassiveReply(const std::string& reply_text, net::Ipv4* address, std::uint16_t* port) {
  constexpr std::size_t kFieldLimit = 7;
  std::size_t open = reply_text.find('(');
  if (open == std::string::npos) return false;
  int values[6] = {};
  int count = 0;
  std::string field;
  for (std::size_t i = open + 1; i < reply_text.size(); ++i) {
    char c = reply_text[i];
    if (c != ',' && c != ')') {
      if (field.size() == kFieldLimit) return false;
      field.push_back(c);
      continue;
    }
    if (count == 6 || !ParsePassiveField(field, &values[count])) return false;
    ++count;
    field.clear();
    if (c == ')') {
      if (count != 6) return false;
      unsigned char bytes[4] = {static_cast<unsigned char>(values[0]),
                                static_cast<unsigned char>(values[1]),
                                static_cast<unsigned char>(values[2]),
                                static_cast<unsigned char>(values[3])};
      std::memcpy(address, bytes, sizeof bytes);
      *port = static_cast<std::uint16_t>(values[4] * 256 + values[5]);
      return true;
    }
  }
  return false;
}

bool ParseExtendedPassiveReply(const std::string& reply_text, std::uint16_t* port) {
  const std::size_t open = reply_text.find('(');
  if (open == std::string::npos || reply_text.size() < open + 4) return false;
  const char delimiter = reply_text[open + 1];
  if (delimiter < 33 || delimiter > 126 || reply_text[open + 2] != delimiter || reply_text[open + 3] != delimiter) {
    return false;
  }
  std::size_t i = open + 4;
  std::uint32_t number = 0;
  for (int digits = 0; i < reply_text.size() && reply_text[i] >= '0' && reply_text[i] <= '9'; ++i, ++digits) {
    if (digits == 5) return false;
    number = number * 10 + static_cast<std::uint32_t>(reply_text[i] - '0');
  }
  if (number == 0 || number > 65535 || reply_text.compare(i, 2, std::string{delimiter, ')'}) != 0) return false;
  *port = static_cast<std::uint16_t>(number);
  return true;
}

int OpenDataConnection(const Context& context, const net::Address& address, std::uint16_t port,
                       net::Socket* data) {
  if (data->Open(address.v6) != 0) return kNoSocket;
  if (data->Connect(address, port, timeouts::ConnectMs()) != 0) {
    data->Close();
    ShowStatus(context, "Failed connection");
    return kFailure;
  }
  return kSuccess;
}

}  // namespace session
