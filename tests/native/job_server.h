// A loopback HTTP server for the job tests: connection i reads one request
// (header and announced body) and gets answer i: its first part at once, its
// second part after Release() when it has one. Every wait is bounded; the
// destructor releases, stops the thread and closes the listener.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace job_server {

struct Answer {
  std::string first;
  std::string second;  // sent after Release(); empty: none
};

class Server {
 public:
  explicit Server(std::vector<Answer> answers) : answers_(std::move(answers)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(listener_, reinterpret_cast<sockaddr*>(&address), size);
    listen(listener_, 16);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~Server() {
    Release();
    stop_ = true;
    thread_.join();
    close(listener_);
  }
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  std::uint16_t port() const { return port_; }
  void Release() {
    std::lock_guard<std::mutex> hold(lock_);
    released_ = true;
    changed_.notify_all();
  }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> hold(lock_);
    return requests_;
  }

 private:
  static constexpr int kWaitLimitMs = 10000;
  static constexpr int kSliceMs = 20;

  void Run() {
    for (std::size_t next = 0; next < answers_.size() && !stop_;) {
      pollfd entry{listener_, POLLIN, 0};
      if (poll(&entry, 1, kSliceMs) <= 0) continue;
      const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) continue;
      Serve(connection, answers_[next++]);
      close(connection);
    }
  }

  void Serve(int connection, const Answer& answer) {
    std::string request;
    std::size_t end = std::string::npos;
    while (end == std::string::npos || request.size() < end + 4 + BodyLength(request)) {
      if (!Receive(connection, &request)) break;
      end = request.find("\r\n\r\n");
    }
    {
      std::lock_guard<std::mutex> hold(lock_);
      requests_.push_back(request);
    }
    SendAll(connection, answer.first);
    if (answer.second.empty()) return;
    std::unique_lock<std::mutex> hold(lock_);
    if (!changed_.wait_for(hold, std::chrono::milliseconds(kWaitLimitMs), [this] { return released_; })) return;
    hold.unlock();
    SendAll(connection, answer.second);
  }

  bool Receive(int connection, std::string* text) {
    for (int waited = 0; waited < kWaitLimitMs && !stop_; waited += kSliceMs) {
      pollfd entry{connection, POLLIN, 0};
      if (poll(&entry, 1, kSliceMs) <= 0) continue;
      char buffer[65536];
      const ssize_t got = recv(connection, buffer, sizeof buffer, 0);
      if (got <= 0) return false;
      text->append(buffer, static_cast<std::size_t>(got));
      return true;
    }
    return false;
  }

  static std::size_t BodyLength(const std::string& request) {
    const std::size_t at = request.find("Content-length: ");
    return at == std::string::npos ? 0 : std::strtoul(request.c_str() + at + 16, nullptr, 10);
  }

  static void SendAll(int connection, const std::string& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t sent = send(connection, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (sent <= 0) return;
      done += static_cast<std::size_t>(sent);
    }
  }

  const std::vector<Answer> answers_;
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex lock_;  // guards the fields below
  std::condition_variable changed_;
  bool released_ = false;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// An answer of 200 with a body of the given bytes.
inline Answer Ok(const std::string& body) {
  return {"HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body, ""};
}

// A port on 127.0.0.1 that refuses connections: bound once, then closed.
inline std::uint16_t RefusingPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), size);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  close(fd);
  return ntohs(address.sin_port);
}

}  // namespace job_server
