// Socket seam: blocking IPv4 TCP byte streams with time-outs. Win32 body:
// Windows Sockets 1.1 (wsock32). POSIX body: BSD sockets. Errors are reported
// with the Windows Sockets numbers on both builds, so the status texts that
// show them read the same everywhere.
//
// Every wait is bounded by the time-out its caller passes; a socket stays in
// blocking mode between calls. After StartTls the stream calls (SendAll,
// WaitReadable, Receive) carry the bytes through TLS, so a protocol above runs
// unchanged over either. A Socket owns its handle and closes it when
// destroyed, so every return path of an attempt releases its connections.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace net {

// Windows Sockets error numbers.
enum ErrorNumber : int {
  kNoError = 0,
  kInterrupted = 10004,
  kAccessDenied = 10013,
  kInvalidArgument = 10022,
  kTooManySockets = 10024,
  kWouldBlock = 10035,
  kInProgress = 10036,
  kBadSocket = 10038,
  kAddressInUse = 10048,
  kAddressNotAvailable = 10049,
  kNetworkDown = 10050,
  kNetworkUnreachable = 10051,
  kNetworkReset = 10052,
  kConnectionAborted = 10053,
  kConnectionReset = 10054,
  kNoBufferSpace = 10055,
  kAlreadyConnected = 10056,
  kNotConnected = 10057,
  kShutDown = 10058,
  kTimedOut = 10060,
  kConnectionRefused = 10061,
  kHostUnreachable = 10065,
  kHostNotFound = 11001,
};

// Outcomes of StartTls beyond the error numbers above.
enum TlsOutcome : int {
  kTlsFailed = 20001,            // no TLS session could be agreed
  kTlsCertificate = 20002,       // the server's certificate was not accepted
  kTlsNotAvailable = 20003,      // this build has no TLS
  // A receive error: the peer closed the TCP connection of a TLS stream
  // without close notify. The stream may have been cut anywhere, so what
  // came is not known to be whole.
  kTlsCutShort = 20004,
};

// Starts and stops the socket library (WSAStartup for version 1.1 on Windows);
// the shell calls them once per process. POSIX: nothing to do.
bool Startup();
void Cleanup();

// An IPv4 address in network byte order, as it travels in a packet.
using Ipv4 = std::uint32_t;

// True when host is written as a dotted IPv4 address; then *address holds it.
// Such a host is never looked up.
bool ParseDotted(const std::string& host, Ipv4* address);

// Looks host up and gives its first IPv4 address. Returns 0, or kHostNotFound
// (or another error number) when it has none.
int Resolve(const std::string& host, Ipv4* address);

// Dotted text of an address ("127.0.0.1").
std::string DottedText(Ipv4 address);

class Socket {
 public:
  Socket() = default;
  ~Socket();
  Socket(Socket&& other) noexcept;
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  // Creates a TCP stream socket (closing any previous one). Returns 0 or an
  // error number.
  int Open();
  bool IsOpen() const;
  // The handle as a number, for status texts.
  long Number() const;

  // Connects an open socket, giving up after timeout_ms. Returns 0 or an error
  // number (kTimedOut when the time ran out).
  int Connect(Ipv4 address, std::uint16_t port, int timeout_ms);

  // Sends every byte; a peer that accepts nothing for timeout_ms fails the
  // send. Returns 0 or an error number.
  int SendAll(const void* data, std::size_t length, int timeout_ms);

  // Waits until the socket can be read (data, end of stream or an error).
  // Returns 1 when readable, 0 when timeout_ms passed, or minus an error number.
  int WaitReadable(int timeout_ms);

  // Receives what has arrived, at most capacity bytes, waiting up to
  // timeout_ms. Returns the count (> 0), 0 when the peer closed the stream
  // (over TLS: after close notify), or -1 with *error set (kTimedOut when
  // nothing came in time, kTlsCutShort for a TLS stream closed without
  // close notify).
  long Receive(void* buffer, std::size_t capacity, int timeout_ms, int* error);

  // Local address and port (host order) of a bound or connected socket.
  // Returns 0 or an error number.
  int LocalAddress(Ipv4* address, std::uint16_t* port) const;
  // Address and port (host order) of the peer of a connected socket. Returns 0
  // or an error number.
  int PeerAddress(Ipv4* address, std::uint16_t* port) const;

  // Binds an open socket to the given local address (0: any) and port (0: any
  // free port) and listens. Returns 0 or an error number.
  int Listen(std::uint16_t port, int backlog, Ipv4 address = 0);

  // Accepts one connection on a listening socket, waiting up to timeout_ms.
  // Returns 0 with *accepted open, or an error number.
  int Accept(int timeout_ms, Socket* accepted);

  // Runs a TLS handshake (1.2 or later) over the connected stream: sends host
  // as the server name, verifies the server's chain against the system's
  // trusted roots and its certificate against host (a name or a dotted
  // address). Returns 0; kTimedOut when the handshake stalled for timeout_ms;
  // kTlsCertificate with *reason saying in a few words why the certificate
  // was refused; kTlsFailed, kTlsNotAvailable or another error number.
  // Verification cannot be turned off.
  int StartTls(const std::string& host, int timeout_ms, std::string* reason);
  bool IsTls() const { return tls_ != nullptr; }

  // Closes the stream; over TLS it first tells the peer (close notify).
  void Close();

 private:
  using Handle = std::intptr_t;
  static constexpr Handle kNoHandle = -1;
  explicit Socket(Handle handle) : handle_(handle) {}
  void EndTls();
  Handle handle_ = kNoHandle;
  struct TlsSession* tls_ = nullptr;  // owned; set between StartTls and Close
};

}  // namespace net
