// A scripted HTTP server on 127.0.0.1 for transcript tests. Each connection it
// accepts gets the next answer of the script: the peer reads the request header
// (and, for an answer that asks for it, the body announced by its
// Content-length), records them, then sends the answer's pieces in order with a
// pause between them and closes. Every wait is bounded; the destructor stops
// the thread and closes every socket.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace peers {

struct HttpAnswer {
  std::vector<std::string> pieces;  // sent one after another; none: close at once
  int pause_ms = 0;                 // between two pieces, so they arrive apart
  bool read_body = false;           // read the request body before answering
};

// An answer sent as one piece.
HttpAnswer Answer(std::string bytes);

class HttpPeer {
 public:
  explicit HttpPeer(std::vector<HttpAnswer> script);
  ~HttpPeer();
  HttpPeer(const HttpPeer&) = delete;
  HttpPeer& operator=(const HttpPeer&) = delete;

  std::uint16_t port() const { return port_; }

  // Request headers received so far, one per connection, up to and including
  // the empty line that ends each.
  std::vector<std::string> Requests();
  // Request bodies of the answers with read_body.
  std::vector<std::string> Bodies();
  // Connections accepted so far.
  int Connections();

 private:
  void Run();
  void Serve(int connection, const HttpAnswer& answer);
  bool ReadRequest(int connection, std::string* header, std::string* extra);
  bool ReadBody(int connection, std::size_t length, std::string* body);
  bool Stopping();

  const std::vector<HttpAnswer> script_;
  int listener_ = -1;
  std::uint16_t port_ = 0;

  std::mutex lock_;  // guards the fields below
  std::vector<std::string> requests_;
  std::vector<std::string> bodies_;
  int connections_ = 0;
  bool stopping_ = false;

  std::thread thread_;
};

}  // namespace peers
