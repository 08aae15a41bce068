// Socket addresses of either family for the two socket bodies: the seam's
// Address and port to a sockaddr and back, and the addresses a lookup found.
// Only socket_posix.cpp and socket_win32.cpp include it.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/socket.h"

namespace net {
namespace sockaddrs {

// A socket address of either family, with its length.
struct SocketAddress {
  sockaddr_storage storage;
  socklen_t size;
  sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
};

inline SocketAddress MakeAddress(const Address& address, std::uint16_t port) {
  SocketAddress sa;
  std::memset(&sa.storage, 0, sizeof sa.storage);
  if (address.v6) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&sa.storage);
    in6->sin6_family = AF_INET6;
    std::memcpy(&in6->sin6_addr, address.bytes, 16);
    in6->sin6_port = htons(port);
    sa.size = sizeof *in6;
  } else {
    auto* in4 = reinterpret_cast<sockaddr_in*>(&sa.storage);
    in4->sin_family = AF_INET;
    in4->sin_addr.s_addr = address.ToIpv4();
    in4->sin_port = htons(port);
    sa.size = sizeof *in4;
  }
  return sa;
}

// The address and port (host order) of a socket address of either family.
inline void TakeAddress(const sockaddr_storage& storage, Address* address, std::uint16_t* port) {
  *address = Address();
  if (storage.ss_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&storage);
    address->v6 = true;
    std::memcpy(address->bytes, &in6->sin6_addr, 16);
    *port = ntohs(in6->sin6_port);
  } else {
    const auto* in4 = reinterpret_cast<const sockaddr_in*>(&storage);
    *address = Address::FromIpv4(in4->sin_addr.s_addr);
    *port = ntohs(in4->sin_port);
  }
}

// The IPv4 and IPv6 addresses of a getaddrinfo answer, in its order.
inline std::vector<Address> AddressesOf(const addrinfo* found) {
  std::vector<Address> listed;
  for (const addrinfo* a = found; a; a = a->ai_next) {
    if (a->ai_family != AF_INET && a->ai_family != AF_INET6) continue;
    sockaddr_storage storage;
    std::memset(&storage, 0, sizeof storage);
    const std::size_t length = static_cast<std::size_t>(a->ai_addrlen);
    std::memcpy(&storage, a->ai_addr, length < sizeof storage ? length : sizeof storage);
    std::uint16_t unused_port = 0;
    listed.emplace_back();
    TakeAddress(storage, &listed.back(), &unused_port);
  }
  return listed;
}

}  // namespace sockaddrs
}  // namespace net
