// Scripted servers on 127.0.0.1 (or ::1) for transcript and job tests. Every wait is
// bounded; each destructor stops its thread and closes every socket.
//
// FtpPeer: on each control connection it sends the greeting, then answers
// every command line with the next step of the script, whatever the command
// was, and records the line; the test compares the record with the steps'
// expected lines. A step may then open the data connection (passive: "{pasv}"
// in the reply becomes a fresh listener's address, "{pasv-port}" its port
// alone, "{epsv}" the "|||port|" of an EPSV reply; the listener is on the
// control connection's loopback address; active: the peer connects to the
// last PORT or EPRT argument), send or receive on it, and send a final reply.
// A SIZE line the script does not expect next is answered 550 off the record,
// as by a server without SIZE.
//
// HttpPeer: each connection it accepts gets the next answer of the script: the
// peer records the request up to the end of its header plus the body its
// Content-length announces, sends the answer's pieces 50 ms apart (so they
// arrive as separate segments) and closes.
//
// RangePeer: serves one body to many connections at once, a thread each:
// "Range: bytes=N-" gets a 206 from N, a request without a range a 200 that
// says "Accept-Ranges: bytes"; both carry an ETag. Or over FTP: SIZE, PASV,
// REST N and RETR. Faults are set by the number of the connection in the
// order accepted (from 0).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace peers {

using Hold = std::lock_guard<std::mutex>;
constexpr int kWaitLimitMs = 10000;  // bound of every single wait

// A listening socket on 127.0.0.1 (or ::1) and a free port, stored in *port; -1 on failure.
inline int ListenLoopback(std::uint16_t* port, bool v6 = false) {
  int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sockaddr_in6 sa6{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sa6.sin6_family = AF_INET6;
  sa6.sin6_addr = in6addr_loopback;
  socklen_t size = v6 ? sizeof sa6 : sizeof sa;
  auto* address = v6 ? reinterpret_cast<sockaddr*>(&sa6) : reinterpret_cast<sockaddr*>(&sa);
  if (bind(fd, address, size) == 0 && listen(fd, 8) == 0 && getsockname(fd, address, &size) == 0) {
    *port = ntohs(v6 ? sa6.sin6_port : sa.sin_port);
    return fd;
  }
  if (fd >= 0) close(fd);
  return -1;
}

// True when a socket can listen on ::1; tests over IPv6 skip without it.
inline bool HaveIpv6Loopback() {
  std::uint16_t port = 0;
  const int fd = ListenLoopback(&port, true);
  if (fd >= 0) close(fd);
  return fd >= 0;
}

inline bool Readable(int fd, int ms = kWaitLimitMs) {
  pollfd entry{fd, POLLIN, 0};
  return poll(&entry, 1, ms) > 0;
}

inline void SendText(int fd, std::string text) {
  for (ssize_t n; !text.empty() && (n = send(fd, text.data(), text.size(), MSG_NOSIGNAL)) > 0;) {
    text.erase(0, static_cast<std::size_t>(n));
  }
}

// A command line without CR LF; false when the client closed or ready(fd)
// gave up waiting for it.
template <typename Ready>
bool ReadLine(int fd, std::string* line, Ready ready) {
  line->clear();
  for (char c = 0; line->size() < 2 || line->compare(line->size() - 2, 2, "\r\n") != 0; *line += c) {
    if (!ready(fd) || recv(fd, &c, 1, 0) != 1) return false;
  }
  line->resize(line->size() - 2);
  return true;
}

// A descriptor, closed when replaced or destroyed.
struct Fd {
  int fd = -1;
  ~Fd() { Reset(); }
  void Reset(int other = -1) {
    if (fd >= 0) close(fd);
    fd = other;
  }
};

struct DataPlan {
  enum Kind { kNone, kSend, kReceive };
  Kind kind = kNone;
  std::string payload;  // kSend: the bytes to send
  int pause_ms = 0;     // kSend: wait this long after the payload before ending;
                        // kReceive: after the client's close, before the final reply
  bool reset = false;   // kSend: end with a reset (RST) instead of a close
  bool hold = false;    // kSend: stay open until Release() or the client closes
};

struct Step {
  Step(std::string e, std::string r, DataPlan d = {}, std::string f = "", bool close = false)
      : expect(e), reply(r), data(d), final_reply(f), close_instead(close) {}
  std::string expect;          // command line the client should send, without CR LF
  std::string reply;           // reply lines joined by "\r\n", without the last CR LF
  DataPlan data;               // what happens on the data connection after the reply
  std::string final_reply;     // sent once the data connection has ended; empty: nothing
  bool close_instead;          // close the control connection instead of replying
};

// Closes the control connection when expect arrives.
inline Step Hangup(std::string expect) { return {std::move(expect), "", {}, "", true}; }
inline DataPlan Send(std::string payload) { return {DataPlan::kSend, std::move(payload)}; }
inline DataPlan Receive() { return {DataPlan::kReceive, ""}; }

class FtpPeer {
 public:
  FtpPeer(std::string greeting, std::vector<Step> script, bool v6 = false)
      : greeting_(std::move(greeting)), script_(std::move(script)), v6_(v6) {
    listener_.fd = ListenLoopback(&port_, v6);
    thread_ = std::thread([this] {
      for (Fd control; listener_.fd >= 0 && Wait(listener_.fd); control.Reset()) {
        if ((control.fd = accept4(listener_.fd, nullptr, nullptr, SOCK_CLOEXEC)) < 0) continue;
        ++active_;
        Serve(control.fd);
        control.Reset();
        --active_;
      }
    });
  }
  ~FtpPeer() { stopping_ = true; thread_.join(); }
  FtpPeer(const FtpPeer&) = delete;

  std::uint16_t port() const { return port_; }
  // Lines received so far without CR LF; bytes received by kReceive steps.
  std::vector<std::string> Commands() { Hold hold(lock_); return commands_; }
  std::string Stored() { Hold hold(lock_); return stored_; }
  void Release() { released_ = true; }  // lets a held data connection end
  // Waits until no control connection is open; false after timeout_ms.
  bool WaitSessionsEnded(int timeout_ms) {
    for (int waited = 0; active_ > 0 && waited < timeout_ms; waited += 20) usleep(20000);
    return active_ == 0;
  }

 private:
  // True when fd is readable within the bound; false at the bound, when
  // stopping, or (until_released) once released.
  bool Wait(int fd, bool until_released = false) {
    for (int waited = 0; waited < kWaitLimitMs && !stopping_; waited += 20) {
      if (until_released && released_) return false;
      if (Readable(fd, 20)) return true;
    }
    return false;
  }

  void Serve(int control) {
    if (!greeting_.empty()) SendText(control, greeting_ + "\r\n");
    Fd data_listener;
    sockaddr_in active{AF_INET, 0, {}, {}};  // the last PORT argument
    sockaddr_in6 active6{AF_INET6, 0, 0, {}, 0};  // the last EPRT argument
    // Its bytes as written are the address and the port in network order.
    auto* address = reinterpret_cast<unsigned char*>(&active.sin_addr.s_addr);
    auto* port = reinterpret_cast<unsigned char*>(&active.sin_port);
    for (std::string line; ReadLine(control, &line, [this](int fd) { return Wait(fd); });) {
      if (line.compare(0, 5, "SIZE ") == 0 && (next_step_ == script_.size() || script_[next_step_].expect.compare(0, 5, "SIZE ") != 0)) {
        SendText(control, "550 No size\r\n");
        continue;
      }
      { Hold hold(lock_); commands_.push_back(line); }
      std::sscanf(line.c_str(), "PORT %hhu,%hhu,%hhu,%hhu,%hhu,%hhu", &address[0], &address[1],
                  &address[2], &address[3], &port[0], &port[1]);
      char eprt_address[64] = "";
      unsigned eprt_port = 0;
      if (std::sscanf(line.c_str(), "EPRT |2|%63[^|]|%u|", eprt_address, &eprt_port) == 2 &&
          inet_pton(AF_INET6, eprt_address, &active6.sin6_addr) == 1) {
        active6.sin6_port = htons(static_cast<std::uint16_t>(eprt_port));
      }
      if (next_step_ == script_.size()) {
        SendText(control, "502 Not in the script\r\n");
        continue;
      }
      const Step& step = script_[next_step_++];
      if (step.close_instead) return;
      std::string reply = step.reply;
      // "{pasv}", "{pasv-port}" or "{epsv}" names a fresh data listener.
      const std::size_t mark = reply.find('{');
      if (mark != std::string::npos) {
        std::uint16_t data_port = 0;
        data_listener.Reset(ListenLoopback(&data_port, v6_));
        const std::string numbers = std::to_string(data_port >> 8) + "," + std::to_string(data_port & 0xFF);
        const std::string field = reply.substr(mark, reply.find('}', mark) + 1 - mark);
        reply.replace(mark, field.size(), field == "{epsv}"        ? "|||" + std::to_string(data_port) + "|"
                                          : field == "{pasv-port}" ? numbers
                                                                   : "127,0,0,1," + numbers);
      }
      SendText(control, reply + "\r\n");
      if (step.data.kind == DataPlan::kNone) continue;
      Fd data;
      if (data_listener.fd >= 0 && Wait(data_listener.fd)) {
        data.fd = accept4(data_listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
      } else if (data_listener.fd < 0 && active.sin_port != 0) {
        data.fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (connect(data.fd, reinterpret_cast<sockaddr*>(&active), sizeof active) != 0) data.Reset();
      } else if (data_listener.fd < 0 && active6.sin6_port != 0) {
        data.fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (connect(data.fd, reinterpret_cast<sockaddr*>(&active6), sizeof active6) != 0) data.Reset();
      }
      data_listener.Reset();
      if (data.fd >= 0) Play(step.data, data.fd);
      data.Reset();
      if (!step.final_reply.empty()) SendText(control, step.final_reply + "\r\n");
    }
  }

  void Play(const DataPlan& plan, int data) {
    char buffer[65536];
    if (plan.kind == DataPlan::kReceive) {
      for (ssize_t n = 0; Wait(data) && (n = recv(data, buffer, sizeof buffer, 0)) > 0;) {
        Hold hold(lock_);
        stored_.append(buffer, static_cast<std::size_t>(n));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(plan.pause_ms));
      return;
    }
    SendText(data, plan.payload);
    std::this_thread::sleep_for(std::chrono::milliseconds(plan.pause_ms));
    // Held until released, the client closes, or the bound passes.
    while (plan.hold && Wait(data, true) && recv(data, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
    }
    linger abort_on_close{1, 0};
    if (plan.reset) setsockopt(data, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
  }

  const std::string greeting_;
  const std::vector<Step> script_;
  const bool v6_;
  std::size_t next_step_ = 0;  // peer thread only
  std::uint16_t port_ = 0;
  Fd listener_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> released_{false};
  std::atomic<int> active_{0};  // open control connections
  std::mutex lock_;  // guards the fields below
  std::vector<std::string> commands_;
  std::string stored_;
  std::thread thread_;
};

using HttpAnswer = std::vector<std::string>;  // its pieces; none: close without a byte

inline std::string Link(std::uint16_t port, const std::string& path) {
  return "http://127.0.0.1:" + std::to_string(port) + path;
}

class HttpPeer {
 public:
  explicit HttpPeer(std::vector<HttpAnswer> script) : script_(std::move(script)) {
    listener_.fd = ListenLoopback(&port_);
    thread_ = std::thread([this] { Run(); });
  }
  ~HttpPeer() { shutdown(listener_.fd, SHUT_RDWR); thread_.join(); }  // the shutdown wakes the wait to accept

  std::uint16_t port() const { return port_; }
  std::string Link(const std::string& path) const { return peers::Link(port_, path); }
  // The recorded requests, one per connection.
  std::vector<std::string> Requests() { Hold hold(lock_); return requests_; }

 private:
  // The header has ended and the body it announces has come.
  static bool Whole(const std::string& request) {
    const std::size_t end = request.find("\r\n\r\n"), at = request.find("\r\nContent-length: ");
    if (end == std::string::npos) return false;
    return request.size() >= end + 4 + (at < end ? std::strtoul(request.c_str() + at + 18, nullptr, 10) : 0);
  }

  void Run() {
    for (const HttpAnswer& pieces : script_) {
      Fd fd;
      if (!Readable(listener_.fd) || (fd.fd = accept4(listener_.fd, nullptr, nullptr, SOCK_CLOEXEC)) < 0) return;
      timeval limit{10, 0};
      setsockopt(fd.fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
      std::string request, buffer(65536, '\0');
      for (ssize_t got; !Whole(request) && request.size() < (1u << 22) && Readable(fd.fd);) {
        if ((got = recv(fd.fd, &buffer[0], buffer.size(), 0)) <= 0) break;
        request.append(buffer, 0, static_cast<std::size_t>(got));
      }
      { Hold hold(lock_); requests_.push_back(request); }
      for (const std::string& piece : pieces) {
        if (&piece != &pieces[0]) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        send(fd.fd, piece.data(), piece.size(), MSG_NOSIGNAL);  // blocks until all is queued
      }
    }
  }

  const std::vector<HttpAnswer> script_;
  Fd listener_;
  std::uint16_t port_ = 0;
  std::mutex lock_;  // guards requests_
  std::vector<std::string> requests_;
  std::thread thread_;
};

struct RangeFaults {
  int slow = -1;             // this connection sends at about 64 KiB/s, the others at about 6 MiB/s
  int refuse_from = -1;      // connections from this one on are answered 503
  int whole_at = -1;         // this connection's range is answered 200 with the whole body
  int new_etag_from = -1;    // from this connection on the ETag is another
  int dies_at = -1;          // this connection closes after 16 KiB of body
  bool ftp = false;          // speaks FTP: refused connections get a 421 greeting
  int no_rest_from = -1;     // FTP: from this connection on REST is answered 502
  int stalls_at = -1;        // this connection sends no body until another asks for its first byte
};

class RangePeer {
 public:
  RangePeer(std::string body, RangeFaults faults) : body_(std::move(body)), faults_(faults) {
    listener_.fd = ListenLoopback(&port_);
    thread_ = std::thread([this] {
      for (int number = 0; number < kMostConnections && Readable(listener_.fd); ++number) {
        const int fd = accept4(listener_.fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        servers_.emplace_back([this, fd, number] { faults_.ftp ? ServeFtp(fd, number) : Serve(fd, number); });
      }
    });
  }
  ~RangePeer() {
    shutdown(listener_.fd, SHUT_RDWR);
    thread_.join();
    for (std::thread& server : servers_) server.join();
  }

  std::uint16_t port() const { return port_; }
  std::string Link(const std::string& path) const { return peers::Link(port_, path); }
  // Whether the stalled connection was still open when another asked for its bytes.
  bool Relieved() { Hold hold(lock_); return relieved_; }
  // The range of each request ("N-", "N-L" or "(none)"; over FTP the REST of each
  // RETR, and "refused" for a refused login or REST), and the body bytes each
  // connection sent, by its number.
  std::vector<std::string> Ranges() { Hold hold(lock_); return ranges_; }
  std::size_t Sent(int number) { Hold hold(lock_); return sent_[static_cast<std::size_t>(number)]; }

 private:
  static constexpr int kMostConnections = 64;

  void Serve(int fd, int number) {
    Fd connection;
    connection.fd = fd;
    std::string request, buffer(4096, '\0');
    for (ssize_t got; request.find("\r\n\r\n") == std::string::npos && Readable(fd);) {
      if ((got = recv(fd, &buffer[0], buffer.size(), 0)) <= 0) return;
      request.append(buffer, 0, static_cast<std::size_t>(got));
    }
    const std::size_t range = request.find("Range: bytes=");
    char* after = nullptr;
    const std::size_t from = range == std::string::npos ? 0 : std::strtoull(request.c_str() + range + 13, &after, 10);
    const bool closed = range != std::string::npos && after[0] == '-' && after[1] >= '0' && after[1] <= '9';
    const std::size_t last = closed ? std::strtoull(after + 1, nullptr, 10) : body_.size() - 1;
    {
      Hold hold(lock_);
      ranges_.push_back(range == std::string::npos ? "(none)" : std::to_string(from) + "-" + (closed ? std::to_string(last) : ""));
      relief_asked_ = relief_asked_ || (range != std::string::npos && from == stalled_from_);
    }
    if (number >= faults_.refuse_from && faults_.refuse_from >= 0) {
      SendText(fd, "HTTP/1.0 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n");
      return;
    }
    const bool partial = range != std::string::npos && number != faults_.whole_at && from <= body_.size();
    const std::size_t first = partial ? from : 0;
    const std::size_t end = partial ? std::min(last + 1, body_.size()) : body_.size();
    const std::string etag = number >= faults_.new_etag_from && faults_.new_etag_from >= 0 ? "\"b\"" : "\"a\"";
    std::string header = partial ? "HTTP/1.0 206 Partial Content\r\nContent-Range: bytes " + std::to_string(first) +
                                       "-" + std::to_string(end - 1) + "/" + std::to_string(body_.size()) + "\r\n"
                                 : "HTTP/1.0 200 OK\r\nAccept-Ranges: bytes\r\n";
    SendText(fd, header + "ETag: " + etag + "\r\nContent-Length: " + std::to_string(end - first) + "\r\n\r\n");
    if (number == faults_.stalls_at) return Stall(fd, first);
    SendBody(fd, number, first, end);
  }

  // The same body over FTP: each connection logs in, is told SIZE, and gets
  // the body from its REST offset over a passive data connection.
  void ServeFtp(int fd, int number) {
    Fd connection, listener, data;
    connection.fd = fd;
    const bool refused = number >= faults_.refuse_from && faults_.refuse_from >= 0;
    SendText(fd, refused ? "421 Too many connections\r\n" : "220 Ready\r\n");
    if (refused) { Hold hold(lock_); ranges_.push_back("refused"); return; }
    std::size_t from = 0;
    bool rested = false;
    for (std::string line; ReadLine(fd, &line, [](int ready) { return Readable(ready); });) {
      const std::string verb = line.substr(0, 4);
      std::uint16_t port = 0;
      if (verb == "PASV") listener.Reset(ListenLoopback(&port));
      const bool no_rest = number >= faults_.no_rest_from && faults_.no_rest_from >= 0;
      if (verb == "REST" && no_rest) { Hold hold(lock_); ranges_.push_back("refused"); }
      if (verb == "REST" && !no_rest) {
        from = std::strtoull(line.c_str() + 5, nullptr, 10);
        rested = true;
      }
      const std::string pasv = "227 Passive (127,0,0,1," + std::to_string(port >> 8) + "," + std::to_string(port & 255) + ")";
      SendText(fd, (verb == "USER"   ? "331 Password"
                    : verb == "SIZE" ? "213 " + std::to_string(body_.size())
                    : verb == "PASV" ? pasv
                    : verb == "REST" ? (no_rest ? "502 No restart" : "350 Restarting")
                    : verb == "RETR" ? "150 Sending"
                                     : "200 Ok") + std::string("\r\n"));
      if (verb != "RETR" || !Readable(listener.fd)) continue;
      if ((data.fd = accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC)) < 0) continue;
      { Hold hold(lock_); ranges_.push_back(rested ? std::to_string(from) + "-" : "(none)"); }
      SendBody(data.fd, number, from, body_.size());
      data.Reset();
      SendText(fd, "226 Done\r\n");
    }
  }

  // Sends nothing until another connection asks for the byte at first or the
  // client closes, for at most ten seconds.
  void Stall(int fd, std::size_t first) {
    { Hold hold(lock_); stalled_from_ = first; }
    for (int i = 0; i < 1000; ++i) {
      char byte = 0;
      if (Readable(fd, 10) && recv(fd, &byte, 1, MSG_DONTWAIT) <= 0) return;
      Hold hold(lock_);
      if ((relieved_ = relief_asked_)) return;
    }
  }

  // Sends the body from first to end, paced, and records how much went out.
  void SendBody(int fd, int number, std::size_t first, std::size_t end) {
    if (number == faults_.dies_at) end = std::min(end, first + 16384);
    const std::size_t step = number == faults_.slow ? 6554 : 65536;  // 64 KiB/s when slow
    timeval limit{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    std::size_t at = first;
    for (ssize_t n = 0; at < end; at += static_cast<std::size_t>(n)) {
      if ((n = send(fd, body_.data() + at, std::min(step, end - at), MSG_NOSIGNAL)) <= 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(number == faults_.slow ? 100 : 10));
    }
    Hold hold(lock_);
    sent_[static_cast<std::size_t>(number)] = at - first;
  }

  const std::string body_;
  const RangeFaults faults_;
  Fd listener_;
  std::uint16_t port_ = 0;
  std::mutex lock_;  // guards the fields below
  std::vector<std::string> ranges_;
  std::size_t stalled_from_ = ~std::size_t{0};
  bool relief_asked_ = false;
  bool relieved_ = false;
  std::vector<std::size_t> sent_ = std::vector<std::size_t>(kMostConnections);
  std::vector<std::thread> servers_;  // the acceptor's alone until joined
  std::thread thread_;
};

// A port that refuses connections: a peer's, once it has closed.
inline std::uint16_t RefusingPort() { return HttpPeer({}).port(); }

}  // namespace peers
