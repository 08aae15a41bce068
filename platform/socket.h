// Socket seam: blocking IPv4 and IPv6 TCP byte streams with time-outs. Win32
// body: Windows Sockets 2 (ws2_32, for getaddrinfo and IPv6). POSIX body: BSD
// sockets. Errors are reported with the Windows Sockets numbers on both
// builds, so the status texts that show them read the same everywhere.
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
#include <vector>

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

// Starts and stops the socket library (WSAStartup for version 2.2 on Windows);
// the shell calls them once per process. POSIX: nothing to do.
bool Startup();
void Cleanup();

// An IPv4 address in network byte order, as it travels in a packet.
using Ipv4 = std::uint32_t;

// An IPv4 or an IPv6 address, its bytes as they travel in a packet. The
// default is the IPv4 "any" address 0.0.0.0.
struct Address {
  bool v6 = false;
  std::uint8_t bytes[16] = {};  // IPv4: the first four

  static Address FromIpv4(Ipv4 address);
  Ipv4 ToIpv4() const;  // the first four bytes, whatever the family
};
bool operator==(const Address& a, const Address& b);

// True when host is written as a dotted IPv4 address; then *address holds it.
// Such a host is never looked up.
bool ParseDotted(const std::string& host, Ipv4* address);

// True when host is a numeric address: dotted IPv4 (as ParseDotted takes it)
// or IPv6 text without brackets ("2001:db8::1", "::ffff:1.2.3.4"); then
// *address holds it. Portable, so that a link is judged the same on both
// builds.
bool ParseNumeric(const std::string& host, Address* address);

// "127.0.0.1", or IPv6 in its shortest form ("2001:db8::1").
std::string AddressText(const Address& address);

// Looks host up and gives its IPv6 and IPv4 addresses in the order they are
// tried: the families alternate, IPv6 first, each in the resolver's order, at
// most kAddressLimit of them. Returns 0, or kHostNotFound (or another error
// number) when it has none.
constexpr std::size_t kAddressLimit = 16;
int ResolveAll(const std::string& host, std::vector<Address>* addresses);
// The order of ResolveAll for a list in the resolver's order.
std::vector<Address> ConnectionOrder(const std::vector<Address>& found);

// Dotted text of an address ("127.0.0.1").
std::string DottedText(Ipv4 address);

// How long an attempt to connect to one address of a host runs alone before
// the next address gets its own attempt beside it: a host whose first path
// is broken costs this much, not a whole connect time-out.
constexpr int kNextAttemptDelayMs = 250;

class Socket {
 public:
  Socket() = default;
  ~Socket();
  Socket(Socket&& other) noexcept;
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  // Creates a TCP stream socket of the family (closing any previous one).
  // Returns 0 or an error number.
  int Open(bool v6 = false);
  bool IsOpen() const;
  // The handle as a number, for status texts.
  long Number() const;

  // Connects to address, giving up after timeout_ms (a socket open in the
  // other family is replaced). Returns 0 or an error number (kTimedOut when
  // the time ran out).
  int Connect(const Address& address, std::uint16_t port, int timeout_ms);

  // Connects to the first of addresses that answers. The first attempt
  // starts at once; each next one when the attempts before it have failed or
  // after next_after_ms without an answer, while those go on. Every attempt
  // gives up timeout_ms after its own start. The first to connect becomes
  // this socket and the others are closed. Returns 0, or the error number of
  // the attempt that ended last (kHostNotFound for an empty list).
  int ConnectFirst(const std::vector<Address>& addresses, std::uint16_t port, int timeout_ms,
                   int next_after_ms = kNextAttemptDelayMs);

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
  int LocalAddress(Address* address, std::uint16_t* port) const;
  // Address and port (host order) of the peer of a connected socket. Returns 0
  // or an error number.
  int PeerAddress(Address* address, std::uint16_t* port) const;

  // Binds an open socket, of the address's family, to the given local address
  // (default: IPv4 any) and port (0: any free port) and listens. Returns 0 or
  // an error number.
  int Listen(std::uint16_t port, int backlog, const Address& address = Address());

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
  explicit Socket(Handle handle, bool v6) : handle_(handle), v6_(v6) {}
  void EndTls();
  // The two halves of a connect that other attempts may run beside: starts
  // a non-blocking connect (opening a socket of the address's family unless
  // one of that family is open) and returns 0 when it connected at once, kInProgress while
  // it runs, or an error number.
  int StartConnect(const Address& address, std::uint16_t port);
  // Waits up to timeout_ms for one of the started attempts to end. Returns 1
  // with *which and its outcome in *result (0: connected, back in blocking
  // mode; else an error number), 0 when the time ran out, or minus an error
  // number.
  static int WaitForConnect(Socket* const* attempts, std::size_t count, int timeout_ms,
                            std::size_t* which, int* result);
  Handle handle_ = kNoHandle;
  bool v6_ = false;
  struct TlsSession* tls_ = nullptr;  // owned; set between StartTls and Close
};

}  // namespace net
