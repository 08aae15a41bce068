#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
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

// errno values carried as the Windows Sockets numbers that the status texts and
// the connection-loss test expect.
int FromErrno(int error) {
  switch (error) {
    case 0: return kNoError;
    case EINTR: return kInterrupted;
    case EACCES: return kAccessDenied;
    case EINVAL: return kInvalidArgument;
    case EMFILE: case ENFILE: return kTooManySockets;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN:
#endif
    case EWOULDBLOCK: return kWouldBlock;
    case EINPROGRESS: case EALREADY: return kInProgress;
    case EBADF: case ENOTSOCK: return kBadSocket;
    case EADDRINUSE: return kAddressInUse;
    case EADDRNOTAVAIL: return kAddressNotAvailable;
    case ENETDOWN: return kNetworkDown;
    case ENETUNREACH: return kNetworkUnreachable;
    case ENETRESET: return kNetworkReset;
    case ECONNABORTED: return kConnectionAborted;
    case ECONNRESET: return kConnectionReset;
    case ENOBUFS: case ENOMEM: return kNoBufferSpace;
    case EISCONN: return kAlreadyConnected;
    case ENOTCONN: return kNotConnected;
    // Sending after the stream was shut down; Linux says EPIPE where Windows
    // says 10058.
    case EPIPE: case ESHUTDOWN: return kShutDown;
    case ETIMEDOUT: return kTimedOut;
    case ECONNREFUSED: return kConnectionRefused;
    case EHOSTUNREACH: case EHOSTDOWN: return kHostUnreachable;
    default: return kInvalidArgument;
  }
}

int LastError() { return FromErrno(errno); }

// Waits for events on fd; 1 when they came, 0 at the time-out, minus an error
// number otherwise. poll, unlike select, takes descriptors above 1023, which a
// process with a thousand workers reaches.
int WaitFor(int fd, short events, int timeout_ms) {
  std::uint32_t start = clock_seam::TickCount();
  for (;;) {
    pollfd entry{fd, events, 0};
    int n = poll(&entry, 1, clock_seam::MillisecondsLeft(start, timeout_ms));
    if (n > 0) return 1;
    if (n == 0) return 0;
    if (errno != EINTR) return -LastError();
  }
}

bool SetNonBlocking(int fd, bool on) {
  int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0) return false;
  flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return fcntl(fd, F_SETFL, flags) == 0;
}

}  // namespace

bool Startup() { return true; }
void Cleanup() {}

bool ParseDotted(const std::string& host, Ipv4* address) {
  in_addr parsed;
  if (host.empty() || inet_aton(host.c_str(), &parsed) == 0) return false;
  *address = parsed.s_addr;
  return true;
}

int ResolveAll(const std::string& host, std::vector<Address>* addresses) {
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) {
    return kHostNotFound;
  }
  const std::vector<Address> listed = sockaddrs::AddressesOf(found);
  freeaddrinfo(found);
  *addresses = ConnectionOrder(listed);
  return addresses->empty() ? kHostNotFound : 0;
}

std::string DottedText(Ipv4 address) {
  in_addr a;
  a.s_addr = address;
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
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
  int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return LastError();
  handle_ = fd;
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
  int fd = static_cast<int>(handle_);
  SocketAddress sa = MakeAddress(address, port);
  if (!SetNonBlocking(fd, true)) return LastError();
  if (connect(fd, sa.get(), sa.size) != 0) return errno == EINPROGRESS ? kInProgress : LastError();
  return SetNonBlocking(fd, false) ? 0 : LastError();
}

int Socket::WaitForConnect(Socket* const* attempts, std::size_t count, int timeout_ms, std::size_t* which,
                           int* result) {
  std::vector<pollfd> entries(count);
  for (std::size_t i = 0; i < count; ++i) entries[i] = {static_cast<int>(attempts[i]->handle_), POLLOUT, 0};
  const std::uint32_t start = clock_seam::TickCount();
  int n = 0;
  while ((n = poll(entries.data(), entries.size(), clock_seam::MillisecondsLeft(start, timeout_ms))) < 0) {
    if (errno != EINTR) return -LastError();
  }
  if (n == 0) return 0;
  std::size_t i = 0;
  while (entries[i].revents == 0) ++i;
  int error = 0;
  socklen_t size = sizeof error;
  if (getsockopt(entries[i].fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
  *which = i;
  *result = FromErrno(error);
  if (*result == 0 && !SetNonBlocking(entries[i].fd, false)) *result = LastError();
  return 1;
}

int Socket::SendAll(const void* data, std::size_t length, int timeout_ms) {
  if (!IsOpen()) return kBadSocket;
  if (tls_) return tls::SendAll(tls_, data, length, timeout_ms);
  int fd = static_cast<int>(handle_);
  const char* next = static_cast<const char*>(data);
  while (length > 0) {
    // Each wait restarts the clock: the time-out bounds a stall, not the
    // whole transfer.
    int ready = WaitFor(fd, POLLOUT, timeout_ms);
    if (ready == 0) return kTimedOut;
    if (ready < 0) return -ready;
    ssize_t sent = send(fd, next, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
      return LastError();
    }
    next += sent;
    length -= static_cast<std::size_t>(sent);
  }
  return 0;
}

int Socket::WaitReadable(int timeout_ms) {
  if (!IsOpen()) return -kBadSocket;
  if (tls_ && tls::HasPending(tls_)) return 1;
  return WaitFor(static_cast<int>(handle_), POLLIN, timeout_ms);
}

long Socket::Receive(void* buffer, std::size_t capacity, int timeout_ms, int* error) {
  *error = 0;
  if (!IsOpen()) {
    *error = kBadSocket;
    return -1;
  }
  if (tls_) return tls::Receive(tls_, buffer, capacity, timeout_ms, error);
  int fd = static_cast<int>(handle_);
  std::uint32_t start = clock_seam::TickCount();
  for (;;) {
    // Data that has already arrived is taken without a poll first: on a busy
    // transfer that halves the system calls.
    ssize_t n = recv(fd, buffer, capacity, MSG_DONTWAIT);
    if (n >= 0) return static_cast<long>(n);
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      *error = LastError();
      return -1;
    }
    int ready = WaitFor(fd, POLLIN, clock_seam::MillisecondsLeft(start, timeout_ms));
    if (ready == 0) {
      *error = kTimedOut;
      return -1;
    }
    if (ready < 0) {
      *error = -ready;
      return -1;
    }
  }
}

int Socket::LocalAddress(Address* address, std::uint16_t* port) const {
  if (!IsOpen()) return kBadSocket;
  sockaddr_storage sa;
  socklen_t size = sizeof sa;
  if (getsockname(static_cast<int>(handle_), reinterpret_cast<sockaddr*>(&sa), &size) != 0) {
    return LastError();
  }
  TakeAddress(sa, address, port);
  return 0;
}

int Socket::PeerAddress(Address* address, std::uint16_t* port) const {
  if (!IsOpen()) return kBadSocket;
  sockaddr_storage sa;
  socklen_t size = sizeof sa;
  if (getpeername(static_cast<int>(handle_), reinterpret_cast<sockaddr*>(&sa), &size) != 0) {
    return LastError();
  }
  TakeAddress(sa, address, port);
  return 0;
}

int Socket::Listen(std::uint16_t port, int backlog, const Address& address) {
  if (!IsOpen()) return kBadSocket;
  int fd = static_cast<int>(handle_);
  SocketAddress sa = MakeAddress(address, port);
  if (bind(fd, sa.get(), sa.size) != 0) return LastError();
  if (listen(fd, backlog) != 0) return LastError();
  return 0;
}

int Socket::Accept(int timeout_ms, Socket* accepted) {
  if (!IsOpen()) return kBadSocket;
  int fd = static_cast<int>(handle_);
  std::uint32_t start = clock_seam::TickCount();
  for (;;) {
    int ready = WaitFor(fd, POLLIN, clock_seam::MillisecondsLeft(start, timeout_ms));
    if (ready == 0) return kTimedOut;
    if (ready < 0) return -ready;
    int peer = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (peer >= 0) {
      SetNonBlocking(peer, false);
      *accepted = Socket(peer, v6_);
      return 0;
    }
    // The connection may have gone again between poll and accept.
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED) {
      continue;
    }
    return LastError();
  }
}

void Socket::Close() {
  if (handle_ == kNoHandle) return;
  EndTls();
  close(static_cast<int>(handle_));
  handle_ = kNoHandle;
}

}  // namespace net
