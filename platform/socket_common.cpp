// The parts of the socket seam that are the same on both builds: addresses
// as text, the order in which a host's addresses are tried, and the race of
// connection attempts over the two halves of a connect that each body has.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/clock.h"
#include "platform/socket.h"

namespace net {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "a.b.c.d" with four decimal parts of at most three digits, each 0-255: the
// only IPv4 form an IPv6 text may end in.
bool ParseStrictDotted(const std::string& text, std::uint8_t out[4]) {
  int part = 0;
  int value = 0;
  int digits = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '.') {
      if (digits == 0 || part == 4) return false;
      out[part++] = static_cast<std::uint8_t>(value);
      value = 0;
      digits = 0;
    } else if (text[i] >= '0' && text[i] <= '9' && digits < 3) {
      value = value * 10 + (text[i] - '0');
      ++digits;
      if (value > 255) return false;
    } else {
      return false;
    }
  }
  return part == 4;
}

// Eight groups of up to four hex digits joined by ':', one "::" standing for
// a run of zero groups, the last two groups optionally written dotted.
bool ParseIpv6(const std::string& text, std::uint8_t out[16]) {
  std::uint16_t groups[8] = {};
  int count = 0;
  int gap = -1;  // index where "::" stands
  std::size_t i = 0;
  if (text.compare(0, 2, "::") == 0) {
    gap = 0;
    i = 2;
  } else if (text.empty() || text[0] == ':') {
    return false;
  }
  while (i < text.size()) {
    if (count == 8) return false;
    std::size_t end = text.find(':', i);
    if (end == std::string::npos) end = text.size();
    const std::string part = text.substr(i, end - i);
    if (part.find('.') != std::string::npos) {
      std::uint8_t v4[4];
      if (end != text.size() || count > 6 || !ParseStrictDotted(part, v4)) return false;
      groups[count++] = static_cast<std::uint16_t>(v4[0] << 8 | v4[1]);
      groups[count++] = static_cast<std::uint16_t>(v4[2] << 8 | v4[3]);
      break;
    }
    if (part.empty() || part.size() > 4) return false;
    int value = 0;
    for (char c : part) {
      if (HexValue(c) < 0) return false;
      value = value * 16 + HexValue(c);
    }
    groups[count++] = static_cast<std::uint16_t>(value);
    if (end == text.size()) break;
    if (end + 1 < text.size() && text[end + 1] == ':') {
      if (gap >= 0) return false;
      gap = count;
      i = end + 2;
    } else {
      i = end + 1;
      if (i == text.size()) return false;  // a single ':' at the end
    }
  }
  if (gap < 0 ? count != 8 : count > 7) return false;
  std::uint16_t full[8] = {};
  const int tail = gap < 0 ? 0 : count - gap;
  for (int g = 0; g < count; ++g) full[g < count - tail ? g : 8 - tail + (g - (count - tail))] = groups[g];
  for (int g = 0; g < 8; ++g) {
    out[2 * g] = static_cast<std::uint8_t>(full[g] >> 8);
    out[2 * g + 1] = static_cast<std::uint8_t>(full[g] & 0xFF);
  }
  return true;
}

std::string Ipv6Text(const std::uint8_t bytes[16]) {
  int groups[8];
  for (int g = 0; g < 8; ++g) groups[g] = bytes[2 * g] << 8 | bytes[2 * g + 1];
  // The longest run of two or more zero groups, the first of equals, is "::".
  int best = -1, best_length = 1;
  for (int g = 0; g < 8;) {
    int run = 0;
    while (g + run < 8 && groups[g + run] == 0) ++run;
    if (run > best_length) {
      best = g;
      best_length = run;
    }
    g += run > 0 ? run : 1;
  }
  std::string text;
  for (int g = 0; g < 8; ++g) {
    if (g == best) {
      text += "::";
      g += best_length - 1;
      continue;
    }
    if (!text.empty() && text.back() != ':') text += ':';
    char group[8];
    std::snprintf(group, sizeof group, "%x", groups[g]);
    text += group;
  }
  return text;
}

}  // namespace

Address Address::FromIpv4(Ipv4 address) {
  Address a;
  std::memcpy(a.bytes, &address, sizeof address);
  return a;
}

Ipv4 Address::ToIpv4() const {
  Ipv4 address = 0;
  std::memcpy(&address, bytes, sizeof address);
  return address;
}

bool operator==(const Address& a, const Address& b) {
  return a.v6 == b.v6 && std::memcmp(a.bytes, b.bytes, a.v6 ? 16 : 4) == 0;
}

bool ParseNumeric(const std::string& host, Address* address) {
  Ipv4 dotted = 0;
  if (ParseDotted(host, &dotted)) {
    *address = Address::FromIpv4(dotted);
    return true;
  }
  Address parsed;
  parsed.v6 = true;
  if (!ParseIpv6(host, parsed.bytes)) return false;
  *address = parsed;
  return true;
}

std::string AddressText(const Address& address) {
  return address.v6 ? Ipv6Text(address.bytes) : DottedText(address.ToIpv4());
}

std::vector<Address> ConnectionOrder(const std::vector<Address>& found) {
  std::vector<Address> v6, v4, order;
  for (const Address& a : found) {
    std::vector<Address>& family = a.v6 ? v6 : v4;
    if (std::find(family.begin(), family.end(), a) == family.end()) family.push_back(a);
  }
  for (std::size_t i = 0; i < std::max(v6.size(), v4.size()) && order.size() < kAddressLimit; ++i) {
    if (i < v6.size()) order.push_back(v6[i]);
    if (i < v4.size() && order.size() < kAddressLimit) order.push_back(v4[i]);
  }
  return order;
}

int Socket::Connect(const Address& address, std::uint16_t port, int timeout_ms) {
  return ConnectFirst({address}, port, timeout_ms);
}

int Socket::ConnectFirst(const std::vector<Address>& addresses, std::uint16_t port, int timeout_ms,
                         int next_after_ms) {
  if (addresses.empty()) return kHostNotFound;
  std::vector<Socket> attempts(addresses.size());
  std::vector<std::uint32_t> started(addresses.size());
  std::vector<std::size_t> running;  // indexes of the attempts under way
  // A socket the caller opened serves the first attempt.
  if (IsOpen() && !tls_ && v6_ == addresses[0].v6) attempts[0] = std::move(*this);
  Close();
  int last_error = kTimedOut;
  std::size_t next = 0;
  std::uint32_t last_start = 0;
  for (;;) {
    while (next < addresses.size() &&
           (running.empty() || clock_seam::MillisecondsLeft(last_start, next_after_ms) == 0)) {
      last_start = started[next] = clock_seam::TickCount();
      const int started_result = attempts[next].StartConnect(addresses[next], port);
      if (started_result == 0) {
        *this = std::move(attempts[next]);
        return 0;
      }
      if (started_result == kInProgress) {
        running.push_back(next);
      } else {
        last_error = started_result;
        attempts[next].Close();
      }
      ++next;
    }
    if (running.empty()) return last_error;
    int wait = next < addresses.size() ? clock_seam::MillisecondsLeft(last_start, next_after_ms) : timeout_ms;
    for (std::size_t k = 0; k < running.size(); ++k) {
      const int left = clock_seam::MillisecondsLeft(started[running[k]], timeout_ms);
      if (left == 0) {
        last_error = kTimedOut;
        attempts[running[k]].Close();
        running.erase(running.begin() + static_cast<std::ptrdiff_t>(k));
        wait = -1;  // look again: the next attempt may start now
        break;
      }
      wait = std::min(wait, left);
    }
    if (wait < 0) continue;
    std::vector<Socket*> waiting;
    for (std::size_t index : running) waiting.push_back(&attempts[index]);
    std::size_t which = 0;
    int result = 0;
    const int ended = WaitForConnect(waiting.data(), waiting.size(), wait, &which, &result);
    if (ended < 0) return -ended;
    if (ended == 0) continue;
    if (result == 0) {
      *this = std::move(attempts[running[which]]);
      return 0;
    }
    last_error = result;
    attempts[running[which]].Close();
    running.erase(running.begin() + static_cast<std::ptrdiff_t>(which));
  }
}

}  // namespace net
