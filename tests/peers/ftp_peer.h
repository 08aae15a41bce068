// A scripted FTP server on 127.0.0.1 for transcript tests. It plays one
// dialogue: on each control connection it sends the greeting, then answers each
// command line it receives with the next step of the script, whatever the
// command was, and records every line. The test compares the recorded lines
// with the steps' expected commands, so a wrong command shows as a transcript
// difference instead of a hang.
//
// Steps can open the data connection the client asked for (passive: the peer
// listens and "{pasv}" in the reply becomes its address; active: the peer
// connects to the last PORT argument), send or receive bytes on it, and send a
// final reply afterwards. Every wait is bounded; the destructor stops the
// thread and closes every socket.
#pragma once

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
  std::string payload;     // kSend: the bytes to send
  int pause_ms = 0;        // kSend: wait this long after the payload before ending
  bool reset = false;      // kSend: end with a reset (RST) instead of a close
  bool hold = false;       // kSend: keep the connection open until Release() or the client closes
};

struct Step {
  Step(std::string expect_line, std::string reply_lines, DataPlan plan = DataPlan(),
       std::string final_lines = std::string())
      : expect(std::move(expect_line)),
        reply(std::move(reply_lines)),
        data(std::move(plan)),
        final_reply(std::move(final_lines)) {}

  std::string expect;       // command line the client should send, without CR LF
  std::string reply;        // reply lines joined by "\r\n", without the last CR LF
  DataPlan data;            // what happens on the data connection after the reply
  std::string final_reply;  // sent once the data connection has ended; empty: nothing
  bool close_instead = false;  // close the control connection instead of replying
};

// A step that closes the control connection when the command arrives.
Step Hangup(std::string expect);

// Data steps.
DataPlan Send(std::string payload);
DataPlan Receive();

class FtpPeer {
 public:
  FtpPeer(std::string greeting, std::vector<Step> script);
  ~FtpPeer();
  FtpPeer(const FtpPeer&) = delete;
  FtpPeer& operator=(const FtpPeer&) = delete;

  std::uint16_t port() const { return port_; }

  // Command lines received so far, without CR LF.
  std::vector<std::string> Commands();
  // The expect field of every step.
  std::vector<std::string> Expected() const;
  // Bytes received on the data connections of kReceive steps.
  std::string Stored();
  // Control connections accepted so far.
  int Sessions();
  // Lets a held data connection end.
  void Release();
  // Waits until at least count control connections have ended; false after
  // timeout_ms.
  bool WaitSessionsEnded(int count, int timeout_ms);

 private:
  void Run();
  void Serve(int control);
  bool ReadLine(int control, std::string* line);
  bool OpenDataConnection(int* data);
  void PlayData(const Step& step, int data);
  void HoldOpen(int data);
  std::string PassiveReply(const std::string& reply);

  const std::string greeting_;
  const std::vector<Step> script_;
  std::size_t next_step_ = 0;  // peer thread only
  int listener_ = -1;
  int data_listener_ = -1;     // peer thread only
  std::uint32_t active_address_ = 0;  // network order; peer thread only
  std::uint16_t active_port_ = 0;
  std::string input_;          // control bytes read ahead; peer thread only
  std::uint16_t port_ = 0;

  std::mutex lock_;  // guards the fields below
  std::condition_variable changed_;
  std::vector<std::string> commands_;
  std::string stored_;
  int sessions_ = 0;
  int sessions_ended_ = 0;
  bool released_ = false;
  bool stopping_ = false;

  std::thread thread_;
};

}  // namespace peers
