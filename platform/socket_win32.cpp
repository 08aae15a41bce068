#include <winsock.h>

#include <cstring>

#include "platform/clock.h"
#include "platform/socket.h"
#include "platform/tls.h"

namespace net {
namespace {

int LastError() { return WSAGetLastError(); }

SOCKET AsSocket(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

enum WaitKind { kWaitRead, kWaitWrite, kWaitConnect };

// select on one socket. Returns 1 when ready, 0 at the time-out, minus an
// error number otherwise. A failed non-blocking connect is reported through
// the exception set and gives minus its error.
int WaitFor(SOCKET s, WaitKind kind, int timeout_ms) {
  fd_set ready;
  fd_set failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(s, &ready);
  FD_SET(s, &failed);
  timeval limit;
  limit.tv_sec = timeout_ms / 1000;
  limit.tv_usec = (timeout_ms % 1000) * 1000;
  int n = select(0, kind == kWaitRead ? &ready : nullptr, kind == kWaitRead ? nullptr : &ready,
                 kind == kWaitConnect ? &failed : nullptr, &limit);
  if (n == SOCKET_ERROR) return -LastError();
  if (n == 0) return 0;
  if (kind == kWaitConnect && FD_ISSET(s, &failed)) {
    int error = 0;
    int size = sizeof error;
    getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size);
    return -(error != 0 ? error : WSAECONNREFUSED);
  }
  return 1;
}

bool SetNonBlocking(SOCKET s, bool on) {
  u_long value = on ? 1 : 0;
  return ioctlsocket(s, FIONBIO, &value) == 0;
}

sockaddr_in MakeAddress(Ipv4 address, std::uint16_t port) {
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = address;
  sa.sin_port = htons(port);
  return sa;
}

}  // namespace

bool Startup() {
  WSADATA data;
  return WSAStartup(MAKEWORD(1, 1), &data) == 0;
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

int Resolve(const std::string& host, Ipv4* address) {
  if (host.empty()) return kHostNotFound;
  // The result lives in storage of the calling thread, so workers may
  // resolve at the same time.
  hostent* found = gethostbyname(host.c_str());
  if (!found || found->h_addrtype != AF_INET || !found->h_addr_list || !found->h_addr_list[0]) {
    int error = LastError();
    return error != 0 ? error : kHostNotFound;
  }
  std::memcpy(address, found->h_addr_list[0], sizeof *address);
  return 0;
}

std::string DottedText(Ipv4 address) {
  in_addr a;
  a.s_addr = address;
  const char* text = inet_ntoa(a);
  return text ? text : "";
}

Socket::~Socket() { Close(); }

Socket::Socket(Socket&& other) noexcept : handle_(other.handle_), tls_(other.tls_) {
  other.handle_ = kNoHandle;
  other.tls_ = nullptr;
}

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    tls_ = other.tls_;
    other.handle_ = kNoHandle;
    other.tls_ = nullptr;
  }
  return *this;
}

int Socket::Open() {
  Close();
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return LastError();
  handle_ = static_cast<Handle>(s);
  return 0;
}

bool Socket::IsOpen() const { return handle_ != kNoHandle; }
long Socket::Number() const { return static_cast<long>(handle_); }

int Socket::Connect(Ipv4 address, std::uint16_t port, int timeout_ms) {
  if (!IsOpen()) return kBadSocket;
  SOCKET s = AsSocket(handle_);
  sockaddr_in sa = MakeAddress(address, port);
  if (!SetNonBlocking(s, true)) return LastError();
  int result = 0;
  if (connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == SOCKET_ERROR) {
    int error = LastError();
    if (error != WSAEWOULDBLOCK) {
      result = error;
    } else {
      int ready = WaitFor(s, kWaitConnect, timeout_ms);
      result = ready == 0 ? kTimedOut : ready < 0 ? -ready : 0;
    }
  }
  if (!SetNonBlocking(s, false) && result == 0) result = LastError();
  return result;
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

int Socket::LocalAddress(Ipv4* address, std::uint16_t* port) const {
  if (!IsOpen()) return kBadSocket;
  sockaddr_in sa;
  int size = sizeof sa;
  if (getsockname(AsSocket(handle_), reinterpret_cast<sockaddr*>(&sa), &size) == SOCKET_ERROR) {
    return LastError();
  }
  *address = sa.sin_addr.s_addr;
  *port = ntohs(sa.sin_port);
  return 0;
}

int Socket::PeerAddress(Ipv4* address, std::uint16_t* port) const {
  if (!IsOpen()) return kBadSocket;
  sockaddr_in sa;
  int size = sizeof sa;
  if (getpeername(AsSocket(handle_), reinterpret_cast<sockaddr*>(&sa), &size) == SOCKET_ERROR) {
    return LastError();
  }
  *address = sa.sin_addr.s_addr;
  *port = ntohs(sa.sin_port);
  return 0;
}

int Socket::Listen(std::uint16_t port, int backlog, Ipv4 address) {
  if (!IsOpen()) return kBadSocket;
  SOCKET s = AsSocket(handle_);
  sockaddr_in sa = MakeAddress(address, port);
  if (bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == SOCKET_ERROR) return LastError();
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
  *accepted = Socket(static_cast<Handle>(peer));
  return 0;
}

void Socket::Close() {
  if (handle_ == kNoHandle) return;
  EndTls();
  closesocket(AsSocket(handle_));
  handle_ = kNoHandle;
}

}  // namespace net
