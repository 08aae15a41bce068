#include "peers/http_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstring>

namespace peers {
namespace {

// Bound of every single wait of the peer; a test that goes wrong ends within
// it instead of hanging.
constexpr int kWaitLimitMs = 10000;
constexpr int kSliceMs = 20;
// A request header longer than this is a client fault; the peer stops reading.
constexpr std::size_t kRequestLimit = 64 * 1024;

int ListenLoopback() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, 8) != 0) {
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

// Sends every byte, giving up when the client takes nothing for the wait limit
// (the socket's send time-out) or has gone.
void SendText(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

// The Content-length value of a request header; 0 when it has none.
std::size_t AnnouncedLength(const std::string& header) {
  std::string lower = header;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::size_t at = lower.find("\r\ncontent-length:");
  if (at == std::string::npos) return 0;
  std::size_t i = at + 17;
  while (i < lower.size() && lower[i] == ' ') ++i;
  std::size_t length = 0;
  for (int digits = 0; i < lower.size() && std::isdigit(static_cast<unsigned char>(lower[i])) &&
                       digits < 12;
       ++i, ++digits) {
    length = length * 10 + static_cast<std::size_t>(lower[i] - '0');
  }
  return length;
}

}  // namespace

HttpAnswer Answer(std::string bytes) {
  HttpAnswer answer;
  answer.pieces.push_back(std::move(bytes));
  return answer;
}

HttpPeer::HttpPeer(std::vector<HttpAnswer> script) : script_(std::move(script)) {
  listener_ = ListenLoopback();
  port_ = listener_ >= 0 ? LocalPort(listener_) : 0;
  thread_ = std::thread([this] { Run(); });
}

HttpPeer::~HttpPeer() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  thread_.join();
  if (listener_ >= 0) close(listener_);
}

std::vector<std::string> HttpPeer::Requests() {
  std::lock_guard<std::mutex> hold(lock_);
  return requests_;
}

std::vector<std::string> HttpPeer::Bodies() {
  std::lock_guard<std::mutex> hold(lock_);
  return bodies_;
}

int HttpPeer::Connections() {
  std::lock_guard<std::mutex> hold(lock_);
  return connections_;
}

bool HttpPeer::Stopping() {
  std::lock_guard<std::mutex> hold(lock_);
  return stopping_;
}

void HttpPeer::Run() {
  if (listener_ < 0) return;
  for (std::size_t next = 0; next < script_.size();) {
    pollfd entry{listener_, POLLIN, 0};
    if (Stopping()) return;
    if (poll(&entry, 1, kSliceMs) <= 0) continue;
    int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    timeval limit{kWaitLimitMs / 1000, 0};
    setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    {
      std::lock_guard<std::mutex> hold(lock_);
      ++connections_;
    }
    Serve(connection, script_[next++]);
    close(connection);
  }
}

void HttpPeer::Serve(int connection, const HttpAnswer& answer) {
  std::string header;
  std::string extra;
  bool whole = ReadRequest(connection, &header, &extra);
  {
    std::lock_guard<std::mutex> hold(lock_);
    requests_.push_back(header);
  }
  if (!whole) return;
  if (answer.read_body) {
    std::string body = extra;
    ReadBody(connection, AnnouncedLength(header), &body);
    std::lock_guard<std::mutex> hold(lock_);
    bodies_.push_back(body);
  }
  for (std::size_t i = 0; i < answer.pieces.size(); ++i) {
    if (i > 0 && answer.pause_ms > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(answer.pause_ms));
    }
    SendText(connection, answer.pieces[i]);
  }
}

bool HttpPeer::ReadRequest(int connection, std::string* header, std::string* extra) {
  char buffer[4096];
  for (int waited = 0; waited < kWaitLimitMs && !Stopping();) {
    pollfd entry{connection, POLLIN, 0};
    if (poll(&entry, 1, kSliceMs) <= 0) {
      waited += kSliceMs;
      continue;
    }
    ssize_t n = recv(connection, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    header->append(buffer, static_cast<std::size_t>(n));
    std::size_t end = header->find("\r\n\r\n");
    if (end != std::string::npos) {
      *extra = header->substr(end + 4);
      header->resize(end + 4);
      return true;
    }
    if (header->size() > kRequestLimit) return false;
  }
  return false;
}

bool HttpPeer::ReadBody(int connection, std::size_t length, std::string* body) {
  std::string buffer(64 * 1024, '\0');
  for (int waited = 0; body->size() < length && waited < kWaitLimitMs && !Stopping();) {
    pollfd entry{connection, POLLIN, 0};
    if (poll(&entry, 1, kSliceMs) <= 0) {
      waited += kSliceMs;
      continue;
    }
    ssize_t n = recv(connection, buffer.data(), buffer.size(), 0);
    if (n <= 0) return false;
    body->append(buffer.data(), static_cast<std::size_t>(n));
  }
  return body->size() >= length;
}

}  // namespace peers
