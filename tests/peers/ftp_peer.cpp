#include "peers/ftp_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace peers {
namespace {

constexpr int kWaitLimitMs = 10000;  // bound of every single wait
constexpr int kSliceMs = 20;         // how often a wait looks at the stop flag

// A descriptor, closed when replaced or destroyed.
struct Fd {
  int fd = -1;
  ~Fd() { Reset(); }
  void Reset(int other = -1) {
    if (fd >= 0) close(fd);
    fd = other;
  }
};

void SendText(int fd, std::string text) {
  for (ssize_t n; !text.empty() && (n = send(fd, text.data(), text.size(), MSG_NOSIGNAL)) > 0;) {
    text.erase(0, static_cast<std::size_t>(n));
  }
}

}  // namespace

int ListenLoopback(std::uint16_t* port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof sa;
  auto* address = reinterpret_cast<sockaddr*>(&sa);
  if (bind(fd, address, size) == 0 && listen(fd, 4) == 0 && getsockname(fd, address, &size) == 0) {
    *port = ntohs(sa.sin_port);
    return fd;
  }
  if (fd >= 0) close(fd);
  return -1;
}

FtpPeer::FtpPeer(std::string greeting, std::vector<Step> script)
    : greeting_(std::move(greeting)), script_(std::move(script)) {
  listener_ = ListenLoopback(&port_);
  thread_ = std::thread([this] {
    for (Fd control; listener_ >= 0 && Wait(listener_); control.Reset()) {
      if ((control.fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) < 0) continue;
      Count(&sessions_);
      Serve(control.fd);
      control.Reset();
      Count(&sessions_ended_);
    }
  });
}

FtpPeer::~FtpPeer() {
  stopping_ = true;
  thread_.join();
  if (listener_ >= 0) close(listener_);
}

void FtpPeer::Count(int* counter) {
  std::lock_guard<std::mutex> hold(lock_);
  ++*counter;
  ended_.notify_all();
}

std::vector<std::string> FtpPeer::Expected() const {
  std::vector<std::string> expected;
  for (const Step& step : script_) expected.push_back(step.expect);
  return expected;
}

bool FtpPeer::WaitSessionsEnded(int count, int timeout_ms) {
  std::unique_lock<std::mutex> hold(lock_);
  return ended_.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                         [&] { return sessions_ended_ >= count; });
}

bool FtpPeer::Wait(int fd, bool until_released) {
  for (int waited = 0; waited < kWaitLimitMs && !stopping_; waited += kSliceMs) {
    if (until_released && released_) return false;
    pollfd entry{fd, POLLIN, 0};
    if (poll(&entry, 1, kSliceMs) > 0) return true;
  }
  return false;
}

void FtpPeer::Serve(int control) {
  if (!greeting_.empty()) SendText(control, greeting_ + "\r\n");
  Fd data_listener;
  sockaddr_in active{};  // the last PORT argument
  active.sin_family = AF_INET;
  // Its bytes as written are the address and the port in network order.
  auto* address = reinterpret_cast<unsigned char*>(&active.sin_addr.s_addr);
  auto* port = reinterpret_cast<unsigned char*>(&active.sin_port);
  for (std::string line;; line.clear()) {
    for (char c = 0; line.size() < 2 || line.compare(line.size() - 2, 2, "\r\n") != 0; line += c) {
      if (!Wait(control) || recv(control, &c, 1, 0) != 1) return;
    }
    line.resize(line.size() - 2);
    {
      std::lock_guard<std::mutex> hold(lock_);
      commands_.push_back(line);
    }
    std::sscanf(line.c_str(), "PORT %hhu,%hhu,%hhu,%hhu,%hhu,%hhu", &address[0], &address[1],
                &address[2], &address[3], &port[0], &port[1]);
    if (next_step_ == script_.size()) {
      SendText(control, "502 Not in the script\r\n");
      continue;
    }
    const Step& step = script_[next_step_++];
    if (step.close_instead) return;
    std::string reply = step.reply;
    std::size_t mark = reply.find("{pasv}");
    if (mark != std::string::npos) {
      std::uint16_t data_port = 0;
      data_listener.Reset(ListenLoopback(&data_port));
      reply.replace(mark, 6, "127,0,0,1," + std::to_string(data_port >> 8) + "," +
                                 std::to_string(data_port & 0xFF));
    }
    SendText(control, reply + "\r\n");
    if (step.data.kind == DataPlan::kNone) continue;
    Fd data;
    if (data_listener.fd >= 0 && Wait(data_listener.fd)) {
      data.fd = accept4(data_listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
    } else if (data_listener.fd < 0 && active.sin_port != 0) {
      data.fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (connect(data.fd, reinterpret_cast<sockaddr*>(&active), sizeof active) != 0) data.Reset();
    }
    data_listener.Reset();
    if (data.fd >= 0) Play(step.data, data.fd);
    data.Reset();
    if (!step.final_reply.empty()) SendText(control, step.final_reply + "\r\n");
  }
}

void FtpPeer::Play(const DataPlan& plan, int data) {
  char buffer[65536];
  if (plan.kind == DataPlan::kReceive) {
    for (ssize_t n = 0; Wait(data) && (n = recv(data, buffer, sizeof buffer, 0)) > 0;) {
      std::lock_guard<std::mutex> hold(lock_);
      stored_.append(buffer, static_cast<std::size_t>(n));
    }
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

}  // namespace peers
