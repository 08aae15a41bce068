// A scripted FTP server on 127.0.0.1 for transcript tests. On each control
// connection it sends the greeting, then answers every command line with the
// next step of the script, whatever the command was, and records the line; the
// test compares the record with the steps' expected lines. A step may then
// open the data connection (passive: "{pasv}" in the reply becomes a fresh
// listener's address; active: the peer connects to the last PORT argument),
// send or receive on it, and send a final reply. Every wait is bounded; the
// destructor stops the thread and closes every socket.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace peers {

struct DataPlan {
  enum Kind { kNone, kSend, kReceive };
  Kind kind = kNone;
  std::string payload;  // kSend: the bytes to send
  int pause_ms = 0;     // kSend: wait this long after the payload before ending
  bool reset = false;   // kSend: end with a reset (RST) instead of a close
  bool hold = false;    // kSend: stay open until Release() or the client closes
};

struct Step {
  Step(std::string expect_line, std::string reply_lines, DataPlan plan = DataPlan(),
       std::string final_lines = std::string())
      : expect(std::move(expect_line)), reply(std::move(reply_lines)), data(std::move(plan)),
        final_reply(std::move(final_lines)) {}

  std::string expect;          // command line the client should send, without CR LF
  std::string reply;           // reply lines joined by "\r\n", without the last CR LF
  DataPlan data;               // what happens on the data connection after the reply
  std::string final_reply;     // sent once the data connection has ended; empty: nothing
  bool close_instead = false;  // close the control connection instead of replying
};

inline Step Hangup(std::string expect) {  // closes the control connection when expect arrives
  Step step(std::move(expect), std::string());
  step.close_instead = true;
  return step;
}
inline DataPlan Send(std::string payload) { return {DataPlan::kSend, std::move(payload)}; }
inline DataPlan Receive() { return {DataPlan::kReceive, ""}; }

// A listening socket on 127.0.0.1 and a free port, stored in *port; -1 on failure.
int ListenLoopback(std::uint16_t* port);

class FtpPeer {
 public:
  FtpPeer(std::string greeting, std::vector<Step> script);
  ~FtpPeer();
  FtpPeer(const FtpPeer&) = delete;
  FtpPeer& operator=(const FtpPeer&) = delete;

  std::uint16_t port() const { return port_; }
  std::vector<std::string> Expected() const;  // the expect field of every step
  // Lines received so far without CR LF; bytes received by kReceive steps;
  // control connections accepted so far.
  std::vector<std::string> Commands() { std::lock_guard<std::mutex> hold(lock_); return commands_; }
  std::string Stored() { std::lock_guard<std::mutex> hold(lock_); return stored_; }
  int Sessions() { std::lock_guard<std::mutex> hold(lock_); return sessions_; }
  void Release() { released_ = true; }  // lets a held data connection end
  // Waits until count control connections have ended; false after timeout_ms.
  bool WaitSessionsEnded(int count, int timeout_ms);

 private:
  void Count(int* counter);  // under the lock, waking WaitSessionsEnded
  void Serve(int control);
  void Play(const DataPlan& plan, int data);
  // True when fd is readable within the bound; false at the bound, when
  // stopping, or (until_released) once released.
  bool Wait(int fd, bool until_released = false);

  const std::string greeting_;
  const std::vector<Step> script_;
  std::size_t next_step_ = 0;  // peer thread only
  std::uint16_t port_ = 0;
  int listener_ = -1;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> released_{false};
  std::mutex lock_;  // guards the fields below
  std::condition_variable ended_;
  std::vector<std::string> commands_;
  std::string stored_;
  int sessions_ = 0;
  int sessions_ended_ = 0;
  std::thread thread_;
};

}  // namespace peers
