// A scripted HTTP server on 127.0.0.1 for transcript and job tests. Each
// connection it accepts gets the next answer of the script: the peer records
// the request up to the end of its header plus the body its Content-length
// announces, sends the answer's pieces 50 ms apart (so they arrive as separate
// segments) and closes. Every wait is bounded by ten seconds; the destructor
// shuts the listener, which ends the thread, and closes it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace peers {

using HttpAnswer = std::vector<std::string>;  // its pieces; none: close without a byte

inline std::string Link(std::uint16_t port, const std::string& path) {
  return "http://127.0.0.1:" + std::to_string(port) + path;
}

class HttpPeer {
 public:
  explicit HttpPeer(std::vector<HttpAnswer> script) : script_(std::move(script)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(listener_, reinterpret_cast<sockaddr*>(&address), size);
    listen(listener_, 8);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~HttpPeer() {
    shutdown(listener_, SHUT_RDWR);  // wakes the wait for a connection
    thread_.join();
    close(listener_);
  }

  std::uint16_t port() const { return port_; }
  std::string Link(const std::string& path) const { return peers::Link(port_, path); }
  // The recorded requests, one per connection.
  std::vector<std::string> Requests() { std::lock_guard<std::mutex> hold(lock_); return requests_; }

 private:
  void Record(const std::string& request) { std::lock_guard<std::mutex> hold(lock_); requests_.push_back(request); }
  static bool Readable(int fd) {
    pollfd entry{fd, POLLIN, 0};
    return poll(&entry, 1, 10000) > 0;
  }
  // The header has ended and the body it announces has come.
  static bool Whole(const std::string& request) {
    const std::size_t end = request.find("\r\n\r\n"), at = request.find("\r\nContent-length: ");
    if (end == std::string::npos) return false;
    return request.size() >= end + 4 + (at < end ? std::strtoul(request.c_str() + at + 18, nullptr, 10) : 0);
  }

  void Run() {
    for (const HttpAnswer& pieces : script_) {
      const int fd = Readable(listener_) ? accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC) : -1;
      if (fd < 0) return;
      timeval limit{10, 0};
      setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
      std::string request, buffer(65536, '\0');
      for (ssize_t got; !Whole(request) && request.size() < (1u << 22) && Readable(fd);) {
        if ((got = recv(fd, &buffer[0], buffer.size(), 0)) <= 0) break;
        request.append(buffer, 0, static_cast<std::size_t>(got));
      }
      Record(request);
      for (const std::string& piece : pieces) {
        if (&piece != &pieces[0]) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        send(fd, piece.data(), piece.size(), MSG_NOSIGNAL);  // blocks until all is queued
      }
      close(fd);
    }
  }

  const std::vector<HttpAnswer> script_;
  const int listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  std::uint16_t port_ = 0;
  std::mutex lock_;  // guards requests_
  std::vector<std::string> requests_;
  std::thread thread_;
};

// A port that refuses connections: a peer's, once it has closed.
inline std::uint16_t RefusingPort() { return HttpPeer({}).port(); }

}  // namespace peers
