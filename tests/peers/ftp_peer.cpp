#include "peers/ftp_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

namespace peers {
namespace {

// Bound of every single wait of the peer; a test that goes wrong ends within
// it instead of hanging.
constexpr int kWaitLimitMs = 10000;
constexpr int kSliceMs = 20;

int ListenLoopback() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, 4) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

std::uint16_t LocalPort(int fd) {
  sockaddr_in sa;
  socklen_t size = sizeof sa;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &size) != 0) return 0;
  return ntohs(sa.sin_port);
}

void SendText(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

void CloseSocket(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

}  // namespace

DataPlan Send(std::string payload) {
  DataPlan plan;
  plan.kind = DataPlan::kSend;
  plan.payload = std::move(payload);
  return plan;
}

Step Hangup(std::string expect) {
  Step step(std::move(expect), std::string());
  step.close_instead = true;
  return step;
}

DataPlan Receive() {
  DataPlan plan;
  plan.kind = DataPlan::kReceive;
  return plan;
}

FtpPeer::FtpPeer(std::string greeting, std::vector<Step> script)
    : greeting_(std::move(greeting)), script_(std::move(script)) {
  listener_ = ListenLoopback();
  port_ = listener_ >= 0 ? LocalPort(listener_) : 0;
  thread_ = std::thread([this] { Run(); });
}

FtpPeer::~FtpPeer() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
  CloseSocket(&listener_);
}

std::vector<std::string> FtpPeer::Commands() {
  std::lock_guard<std::mutex> hold(lock_);
  return commands_;
}

std::vector<std::string> FtpPeer::Expected() const {
  std::vector<std::string> expected;
  for (const Step& step : script_) expected.push_back(step.expect);
  return expected;
}

std::string FtpPeer::Stored() {
  std::lock_guard<std::mutex> hold(lock_);
  return stored_;
}

int FtpPeer::Sessions() {
  std::lock_guard<std::mutex> hold(lock_);
  return sessions_;
}

void FtpPeer::Release() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    released_ = true;
  }
  changed_.notify_all();
}

bool FtpPeer::WaitSessionsEnded(int count, int timeout_ms) {
  std::unique_lock<std::mutex> hold(lock_);
  return changed_.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                           [&] { return sessions_ended_ >= count; });
}

// Waits in short slices so that the destructor is never kept waiting long.
// Returns true when fd has the events, false at the bound or when stopping.
static bool WaitFor(int fd, short events, int timeout_ms, std::mutex& lock, const bool& stopping) {
  for (int waited = 0; waited < timeout_ms; waited += kSliceMs) {
    {
      std::lock_guard<std::mutex> hold(lock);
      if (stopping) return false;
    }
    pollfd entry{fd, events, 0};
    if (poll(&entry, 1, kSliceMs) > 0) return true;
  }
  return false;
}

void FtpPeer::Run() {
  if (listener_ < 0) return;
  for (;;) {
    if (!WaitFor(listener_, POLLIN, kWaitLimitMs, lock_, stopping_)) return;
    int control = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (control < 0) continue;
    {
      std::lock_guard<std::mutex> hold(lock_);
      ++sessions_;
    }
    Serve(control);
    CloseSocket(&control);
    CloseSocket(&data_listener_);
    {
      std::lock_guard<std::mutex> hold(lock_);
      ++sessions_ended_;
    }
    changed_.notify_all();
  }
}

void FtpPeer::Serve(int control) {
  input_.clear();
  if (!greeting_.empty()) SendText(control, greeting_ + "\r\n");
  std::string line;
  while (ReadLine(control, &line)) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      commands_.push_back(line);
    }
    if (line.compare(0, 5, "PORT ") == 0) {
      unsigned h[4] = {};
      unsigned p[2] = {};
      if (std::sscanf(line.c_str() + 5, "%u,%u,%u,%u,%u,%u", &h[0], &h[1], &h[2], &h[3], &p[0],
                      &p[1]) == 6) {
        unsigned char bytes[4] = {static_cast<unsigned char>(h[0]), static_cast<unsigned char>(h[1]),
                                  static_cast<unsigned char>(h[2]), static_cast<unsigned char>(h[3])};
        std::memcpy(&active_address_, bytes, sizeof bytes);
        active_port_ = static_cast<std::uint16_t>(p[0] * 256 + p[1]);
      }
    }
    if (next_step_ >= script_.size()) {
      SendText(control, "502 Not in the script\r\n");
      continue;
    }
    const Step& step = script_[next_step_++];
    if (step.close_instead) return;
    SendText(control, PassiveReply(step.reply) + "\r\n");
    if (step.data.kind == DataPlan::kNone) continue;
    int data = -1;
    if (OpenDataConnection(&data)) PlayData(step, data);
    CloseSocket(&data);
    if (!step.final_reply.empty()) SendText(control, step.final_reply + "\r\n");
  }
}

bool FtpPeer::ReadLine(int control, std::string* line) {
  for (;;) {
    std::size_t end = input_.find("\r\n");
    if (end != std::string::npos) {
      *line = input_.substr(0, end);
      input_.erase(0, end + 2);
      return true;
    }
    if (!WaitFor(control, POLLIN, kWaitLimitMs, lock_, stopping_)) return false;
    char buffer[4096];
    ssize_t n = recv(control, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    input_.append(buffer, static_cast<std::size_t>(n));
  }
}

std::string FtpPeer::PassiveReply(const std::string& reply) {
  std::size_t mark = reply.find("{pasv}");
  if (mark == std::string::npos) return reply;
  CloseSocket(&data_listener_);
  data_listener_ = ListenLoopback();
  std::uint16_t port = data_listener_ >= 0 ? LocalPort(data_listener_) : 0;
  char address[40];
  std::snprintf(address, sizeof address, "127,0,0,1,%u,%u", port >> 8, port & 0xFF);
  return reply.substr(0, mark) + address + reply.substr(mark + 6);
}

bool FtpPeer::OpenDataConnection(int* data) {
  if (data_listener_ >= 0) {
    if (!WaitFor(data_listener_, POLLIN, kWaitLimitMs, lock_, stopping_)) return false;
    *data = accept4(data_listener_, nullptr, nullptr, SOCK_CLOEXEC);
    CloseSocket(&data_listener_);
    return *data >= 0;
  }
  if (active_port_ == 0) return false;
  *data = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (*data < 0) return false;
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = active_address_;
  sa.sin_port = htons(active_port_);
  return connect(*data, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

void FtpPeer::PlayData(const Step& step, int data) {
  if (step.data.kind == DataPlan::kReceive) {
    char buffer[65536];
    while (WaitFor(data, POLLIN, kWaitLimitMs, lock_, stopping_)) {
      ssize_t n = recv(data, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      std::lock_guard<std::mutex> hold(lock_);
      stored_.append(buffer, static_cast<std::size_t>(n));
    }
    return;
  }
  SendText(data, step.data.payload);
  if (step.data.pause_ms > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(step.data.pause_ms));
  }
  if (step.data.hold) HoldOpen(data);
  if (step.data.reset) {
    linger abort_on_close{1, 0};
    setsockopt(data, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
  }
}

// Keeps the data connection open until the test releases it, the client
// closes it, or the bound passes.
void FtpPeer::HoldOpen(int data) {
  for (int waited = 0; waited < kWaitLimitMs; waited += kSliceMs) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (released_ || stopping_) return;
    }
    pollfd entry{data, POLLIN, 0};
    if (poll(&entry, 1, kSliceMs) > 0) {
      char byte;
      if (recv(data, &byte, 1, MSG_DONTWAIT) <= 0) return;
    }
  }
}

}  // namespace peers
