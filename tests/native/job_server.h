// A loopback HTTP server for the job tests: connection i reads one request
// (header and announced body), records it and gets answers[i]. Every wait is
// bounded; the destructor stops the thread and closes the listener.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace job_server {

// A socket bound to an ephemeral port of 127.0.0.1, whose number goes to *port.
inline int BindLoopback(std::uint16_t* port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), size);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  *port = ntohs(address.sin_port);
  return fd;
}

// A port that refuses connections: bound once, then closed.
inline std::uint16_t RefusingPort() {
  std::uint16_t port = 0;
  close(BindLoopback(&port));
  return port;
}

inline std::string Link(std::uint16_t port, const std::string& path) {
  return "http://127.0.0.1:" + std::to_string(port) + path;
}

inline std::string ReadFile(const std::string& path) {
  std::ostringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
  return content.str();
}

inline std::string Ok(const std::string& body) {
  return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// The header has ended and its announced body has come.
inline bool Whole(const std::string& request) {
  const std::size_t end = request.find("\r\n\r\n");
  if (end == std::string::npos) return false;
  const std::size_t at = request.find("Content-length: ");
  const std::size_t body = at < end ? std::strtoul(request.c_str() + at + 16, nullptr, 10) : 0;
  return request.size() >= end + 4 + body;
}

class Server {
 public:
  explicit Server(std::vector<std::string> answers) : answers_(std::move(answers)) {
    listener_ = BindLoopback(&port_);
    listen(listener_, 16);
    thread_ = std::thread([this] {
      for (std::size_t next = 0; next < answers_.size() && !stop_;) {
        const int connection = Wait(listener_) ? accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC) : -1;
        if (connection < 0) continue;
        Serve(connection, answers_[next++]);
        close(connection);
      }
    });
  }
  ~Server() {
    stop_ = true;
    thread_.join();
    close(listener_);
  }
  std::uint16_t port() const { return port_; }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> hold(lock_);
    return requests_;
  }

 private:
  static bool Wait(int fd) {
    pollfd entry{fd, POLLIN, 0};
    return poll(&entry, 1, 20) > 0;
  }

  void Serve(int connection, const std::string& answer) {
    std::string request;
    char buffer[65536];
    for (int slices = 0; slices < 500 && !stop_ && !Whole(request); ++slices) {
      const ssize_t got = Wait(connection) ? recv(connection, buffer, sizeof buffer, 0) : -2;
      if (got == 0 || got == -1) break;
      if (got > 0) request.append(buffer, static_cast<std::size_t>(got));
    }
    {
      std::lock_guard<std::mutex> hold(lock_);
      requests_.push_back(request);
    }
    for (std::size_t done = 0; done < answer.size();) {
      const ssize_t sent = send(connection, answer.data() + done, answer.size() - done, MSG_NOSIGNAL);
      if (sent <= 0) return;
      done += static_cast<std::size_t>(sent);
    }
  }

  const std::vector<std::string> answers_;
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex lock_;  // guards requests_
  std::vector<std::string> requests_;
  std::thread thread_;
};

}  // namespace job_server
