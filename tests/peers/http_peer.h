// A scripted HTTP server on 127.0.0.1 for transcript tests. Each connection it
// accepts gets the next answer of the script: the peer records the request up
// to the end of its header plus the answer's body count of further bytes, sends
// the answer's pieces 50 ms apart (so they arrive as separate segments) and
// closes. Every wait is bounded by ten seconds; the destructor shuts the
// listener, which ends the thread, and closes it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace peers {

struct HttpAnswer {
  std::vector<std::string> pieces;  // none: close without a byte
  std::size_t body = 0;             // request body bytes to record first
};

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
  // The recorded requests, one per connection.
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> hold(lock_);
    return requests_;
  }

 private:
  static bool Readable(int fd) {
    pollfd entry{fd, POLLIN, 0};
    return poll(&entry, 1, 10000) > 0;
  }

  void Run() {
    for (const HttpAnswer& answer : script_) {
      int fd = Readable(listener_) ? accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC) : -1;
      if (fd < 0) return;
      timeval limit{10, 0};
      setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
      std::string request, buffer(65536, '\0');
      for (ssize_t got; request.size() < (1u << 22) && Readable(fd);) {
        if ((got = recv(fd, &buffer[0], buffer.size(), 0)) <= 0) break;
        request.append(buffer, 0, static_cast<std::size_t>(got));
        std::size_t end = request.find("\r\n\r\n");
        if (end != std::string::npos && request.size() >= end + 4 + answer.body) break;
      }
      {
        std::lock_guard<std::mutex> hold(lock_);
        requests_.push_back(request);
      }
      for (const std::string& piece : answer.pieces) {
        if (&piece != &answer.pieces[0]) std::this_thread::sleep_for(std::chrono::milliseconds(50));
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

}  // namespace peers
