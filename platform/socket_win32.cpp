#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
#include <vector>

#include "platform/clock.h"
#include "platform/socket.h"
#include "platform/sockaddrs.h"
#include "platform/tls.h"

namespace net {
namespace {

using sockaddrs::MakeAddress;
using sockaddrs::SocketAddress;
using sockaddrs::TakeAddress;

int LastError() { return WSAGetLastError(); }

SOCKET AsSocket(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

enum WaitKind { kWaitRead, kWaitWrite };

// select on one socket. Returns 1 when ready, 0 at the time-out, minus an
// error number otherwise.
int WaitFor(SOCKET s, WaitKind kind, int timeout_ms) {
  fd_set ready;
  FD_ZERO(&ready);
  FD_SET(s, &ready);
  timeval limit;
  limit.tv_sec = timeout_ms / 1000;
  limit.tv_usec = (timeout_ms % 1000) * 1000;
  int n = select(0, kind == kWaitRead ? &ready : nullptr, kind == kWaitRead ? nullptr : &ready, nullptr, &limit);
  if (n == SOCKET_ERROR) return -LastError();
  return n == 0 ? 0 : 1;
}

bool SetNonBlocking(SOCKET s, bool on) {
  u_long value = on ? 1 : 0;
  return ioctlsocket(s, FIONBIO, &value) == 0;
}

}  // namespace

bool Startup() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void Cleanup() { WSACleanup(); }

bool ParseDotted(const std::string& host, Ipv4* address) {
  if (host.empty()) return false;
  unsigned long parsed = inet_addr(host.c_str());
  // INADDR_NONE is also the valid broadcast address; nobody fetches from it.
  if (parsed == INADDR_NONE) return false;
  *address = static_cast<Ipv4>(parsed);
  return true;
}

int ResolveAll(const std::string& host, std::vector<Address>* addresses) {
  if (host.empty()) return kHostNotFound;
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int error = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (error != 0 || !found) return error != 0 ? error : kHostNotFound;
  const std::vector<Address> listed = sockaddrs::AddressesOf(found);
  freeaddrinfo(found);
  *addresses = ConnectionOrder(listed);
  return addresses->empty() ? kHostNotFound : 0;
}

std::string DottedText(Ipv4 address) {
  in_addr a;
  a.s_addr = address;
  const char* text = inet_ntoa(a);
  return text ? text : "";
}

Socket::~Socket() { Close(); }

Socket::Socket(Socket&& other) noexcept : handle_(other.handle_), v6_(other.v6_), tls_(other.tls_) {
  other.handle_ = kNoHandle;
  other.tls_ = nullptr;
}

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    v6_ = other.v6_;
    tls_ = other.tls_;
    other.handle_ = kNoHandle;
    other.tls_ = nullptr;
  }
  return *this;
}

int Socket::Open(bool v6) {
  Close();
  SOCKET s = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return LastError();
  handle_ = static_cast<Handle>(s);
  v6_ = v6;
  return 0;
}

bool Socket::IsOpen() const { return handle_ != kNoHandle; }
long Socket::Number() const { return static_cast<long>(handle_); }

int Socket::StartConnect(const Address& address, std::uint16_t port) {
  if (!IsOpen() || v6_ != address.v6) {
    const int opened = Open(address.v6);
    if (opened != 0) return opened;
  }
  SOCKET s = AsSocket(handle_);
  SocketAddress sa = MakeAddress(address, port);
  if (!SetNonBlocking(s, true)) return LastError();
  if (connect(s, sa.get(), sa.size) == SOCKET_ERROR) {
    const int error = LastError();
    return error == WSAEWOULDBLOCK ? kInProgress : error;
  }
  return SetNonBlocking(s, false) ? 0 : LastError();
}

// A connect that succeeds makes its socket writable; one that fails puts it
// in the exception set.
int Socket::WaitForConnect(Socket* const* attempts, std::size_t count, int timeout_ms, std::size_t* which,
                           int* result) {
  fd_set connected;
  fd_set failed;
  FD_ZERO(&connected);
  FD_ZERO(&failed);
  for (std::size_t i = 0; i < count; ++i) {
    FD_SET(AsSocket(attempts[i]->handle_), &connected);
    FD_SET(AsSocket(attempts[i]->handle_), &failed);
  }
  timeval limit;
  limit.tv_sec = timeout_ms / 1000;
  limit.tv_usec = (timeout_ms % 1000) * 1000;
  const int n = select(0, nullptr, &connected, &failed, &limit);
  if (n == SOCKET_ERROR) return -LastError();
  if (n == 0) return 0;
  for (std::size_t i = 0; i < count; ++i) {
    SOCKET s = AsSocket(attempts[i]->handle_);
    if (FD_ISSET(s, &failed)) {
      int error = 0;
      int size = sizeof error;
      getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size);
      *which = i;
      *result = error != 0 ? error : WSAECONNREFUSED;
      return 1;
    }
    if (FD_ISSET(s, &connected)) {
      *which = i;
      *result = SetNonBlocking(s, false) ? 0 : LastError();
      return 1;
    }
  }
  return 0;
}

int Socket::SendAll(const void* data, std::size_t length, int timeout_ms) {
  if (!IsOpen()) return kBadSocket;
  if (tls_) return tls::SendAll(tls_, data, length, timeout_ms);
  SOCKET s = AsSocket(handle_);
  // A blocking send may wait for buffer space in the middle of a block; the
  // send time-out bounds that wait as the select bounds the one before it.
  DWORD limit = static_cast<DWORD>(timeout_ms);
  setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
  const char* next = static_cast<const char*>(data);
  while (length > 0) {
    int ready = WaitFor(s, kWaitWrite, timeout_ms);
    if (ready == 0) return kTimedOut;
    if (ready < 0) return -ready;
    int chunk = length > 0x40000000u ? 0x40000000 : static_cast<int>(length);
    int sent = send(s, next, chunk, 0);
    if (sent == SOCKET_ERROR) {
      int error = LastError();
      if (error == WSAEWOULDBLOCK || error == WSAEINTR) continue;
      return error;
    }
    next += sent;
    length -= static_cast<std::size_t>(sent);
  }
  return 0;
}

int Socket::WaitReadable(int timeout_ms) {
  if (!IsOpen()) return -kBadSocket;
  if (tls_ && tls::HasPending(tls_)) return 1;
  return WaitFor(AsSocket(handle_), kWaitRead, timeout_ms);
}

long Socket::Receive(void* buffer, std::size_t capacity, int timeout_ms, int* error) {
  *error = 0;
  if (!IsOpen()) {
    *error = kBadSocket;
    return -1;
  }
  if (tls_) return tls::Receive(tls_, buffer, capacity, timeout_ms, error);
  SOCKET s = AsSocket(handle_);
  DWORD start = clock_seam::TickCount();
  int size = capacity > 0x40000000u ? 0x40000000 : static_cast<int>(capacity);
  for (;;) {
    // Bytes already waiting need no wait: under Wine every select is a round
    // trip to its server, which a bulk transfer would make once per block.
    u_long waiting = 0;
    int ready = ioctlsocket(s, FIONREAD, &waiting) == 0 && waiting > 0
                    ? 1
                    : WaitFor(s, kWaitRead, clock_seam::MillisecondsLeft(start, timeout_ms));
    if (ready == 0) {
      *error = kTimedOut;
      return -1;
    }
    if (ready < 0) {
      *error = -ready;
      return -1;
    }
    int n = recv(s, static_cast<char*>(buffer), size, 0);
    if (n != SOCKET_ERROR) return n;
    int code = LastError();
    if (code == WSAEWOULDBLOCK || code == WSAEINTR) continue;
    *error = code;
    return -1;
  }
}

int Socket::LocalAddress(Address* address, std::uint16_t* port) const {
  if (!IsOpen()) return kBadSocket;
  sockaddr_storage sa;
  int size = sizeof sa;
  if (getsockname(AsSocket(handle_), reinterpret_cast<sockaddr*>(&sa), &size) == SOCKET_ERROR) {
    return LastError();
  }
  TakeAddress(sa, address, port);
  return 0;
}

int Socket::PeerAddress(Address* address, std::uint16_t* port) const {
  if (!IsOpen()) return kBadSocket;
  sockaddr_storage sa;
  int size = sizeof sa;
  if (getpeername(AsSocket(handle_), reinterpret_cast<sockaddr*>(&sa), &size) == SOCKET_ERROR) {
    return LastError();
  }
  TakeAddress(sa, address, port);
  return 0;
}

int Socket::Listen(std::uint16_t port, int backlog, const Address& address) {
  if (!IsOpen()) return kBadSocket;
  SOCKET s = AsSocket(handle_);
  SocketAddress sa = MakeAddress(address, port);
  if (bind(s, sa.get(), sa.size) == SOCKET_ERROR) return LastError();
  if (listen(s, backlog) == SOCKET_ERROR) return LastError();
  return 0;
}

int Socket::Accept(int timeout_ms, Socket* accepted) {
  if (!IsOpen()) return kBadSocket;
  SOCKET s = AsSocket(handle_);
  int ready = WaitFor(s, kWaitRead, timeout_ms);
  if (ready == 0) return kTimedOut;
  if (ready < 0) return -ready;
  SOCKET peer = accept(s, nullptr, nullptr);
  if (peer == INVALID_SOCKET) return LastError();
  SetNonBlocking(peer, false);
  *accepted = Socket(static_cast<Handle>(peer), v6_);
  return 0;
}

void Socket::Close() {
  if (handle_ == kNoHandle) return;
  EndTls();
  closesocket(AsSocket(handle_));
  handle_ = kNoHandle;
}

}  // namespace net
