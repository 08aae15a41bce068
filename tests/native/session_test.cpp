// The connection layer: the passive reply, socket error numbers, reading
// replies off the wire, reaching the server, and Stop.

#include <algorithm>
#include <atomic>
#include <future>
#include <memory>

#include "engine/connection.h"
#include "engine/ftp.h"
#include "native/fixtures.h"
#include "peers/peers.h"
#include "platform/socket.h"

namespace {

using namespace fixtures;

using peers::FtpPeer;

TEST(PassiveReply, FieldsAreReadWithBounds) {
  net::Ipv4 address = 0;
  std::uint16_t port = 0;
  for (const auto& [reply, read] : std::vector<std::pair<const char*, const char*>>{
           {"Entering Passive Mode (10,0,0,1,4,1)", "10.0.0.1:1025"}, {"( 10, 0, 0, 1, 4, 1)", "10.0.0.1:1025"},
           {"(0000010,0,0,1,4,1)" /* seven characters */, "10.0.0.1:1025"}, {"(9,0,0,1,255,255).", "9.0.0.1:65535"}}) {
    EXPECT_TRUE(session::ParsePassiveReply(reply, &address, &port)) << reply;
    EXPECT_EQ(net::DottedText(address) + ":" + std::to_string(port), read) << reply;
  }
  for (const char* reply : {"(00000010,0,0,1,4,1)", "Entering Passive Mode 10,0,0,1,4,1", "(10,0,0,1,4)",
                            "(10,0,0,1,4,1,7)", "(10,0,0,1,4,1", "(10,,0,1,4,1)", "(10,0,0,1,4,x)", "(256,0,0,1,4,1)",
                            "(10,0,0,1,4,256)", "(-1,0,0,1,4,1)", "Note (see below) (10,0,0,1,4,1)"}) {
    EXPECT_FALSE(session::ParsePassiveReply(reply, &address, &port)) << reply;
  }
}

using ReplyReading = TransferTest;
using SendBlockFailure = TransferTest;

// A peer that resets the connection makes the send report a lost connection,
// which the FTP steps tell apart from other failures; a send on a socket that
// was never opened is a plain failure. Both name the error in the row.
TEST_F(SendBlockFailure, AResetIsALostConnectionAndABadSocketIsNot) {
  std::uint16_t port = 0;
  peers::Fd listener;
  listener.fd = peers::ListenLoopback(&port);
  net::Socket connection;
  ASSERT_EQ(connection.Open(), 0);
  ASSERT_EQ(connection.Connect(net::Address::FromIpv4(htonl(INADDR_LOOPBACK)), port, 2000), 0);
  peers::Fd server;
  server.fd = accept(listener.fd, nullptr, nullptr);
  ASSERT_GE(server.fd, 0);
  linger abort_on_close{1, 0};
  setsockopt(server.fd, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
  server.Reset();
  const std::string line = "NOOP\r\n";
  int result = session::kSuccess;
  // The reset may reach the client after a send or two have been queued.
  for (int i = 0; i < 100 && result == session::kSuccess; ++i) {
    result = session::SendBlock(context_, connection, line.data(), line.size());
    if (result == session::kSuccess) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(result, session::kConnectionLost);
  net::Socket never_opened;
  EXPECT_EQ(session::SendBlock(context_, never_opened, line.data(), line.size()), session::kFailure);
  EXPECT_TRUE(Matches({"write buffer 1005*", "write buffer 10038"}, list_.Statuses(0)));
}

// The peer writes the pieces 20 ms apart, then closes.
TEST_F(ReplyReading, RepliesAreWholeCutAndBoundedInTime) {
  // The replies of successive reads.
  struct Case { Texts pieces; std::vector<std::pair<int, std::string>> replies; };
  const std::string x1018(1018, 'x'), y1018(1018, 'y'), z1018(1018, 'z');
  const int lost = session::kConnectionLost;
  const std::vector<Case> cases = {
      {{"2", "26 Transfer", " complete\r", "\n"}, {{226, "Transfer complete"}}},
      {{"150-first\r\n second line\r\n", "150 last line\r\n"}, {{150, "last line"}}},
      {{"22\r\n", "\r\n", "abc def\r\n", "331\r\n331 \r\n"}, {{331, ""}}},  // short, no code
      {{"200 bare\nLF\r\n200 a\rb\r\n"}, {{200, "bare\nLF"}, {200, "a\rb"}}},
      {{"250 " + std::string(5000, 'x') + "\r\n251 " + y1018 + "\r\n", "252 " + z1018 + "z\r\n200 next\r\n150 then"},
       {{250, x1018}, {251, y1018}, {252, z1018}, {200, "next"}}},  // cut at 1022 bytes
      {{"226 closed in mid-line"}, {{lost, ""}}},
      {std::vector<std::string>(100, "x"), {{lost, ""}}},  // a line that never ends
  };
  timeouts::Set(3000, 200, 3000);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pieces[0].substr(0, 20));
    std::uint16_t port = 0;
    int listener = peers::ListenLoopback(&port);
    net::Socket control;
    ASSERT_EQ(control.Open(), 0);
    ASSERT_EQ(control.Connect(net::Address::FromIpv4(htonl(INADDR_LOOPBACK)), port, 2000), 0);
    int server = accept(listener, nullptr, nullptr);
    close(listener);
    std::atomic<std::size_t> sent{0};
    std::atomic<bool> done{false};
    std::thread writer([server, &c, &sent, &done] {
      for (const std::string& piece : c.pieces) {
        if (done) break;
        send(server, piece.data(), piece.size(), MSG_NOSIGNAL);
        ++sent;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      close(server);
    });
    session::ResetControlInput(context_);
    for (const auto& [code, text] : c.replies) {
      context_.reply_text.clear();
      EXPECT_EQ(ftp::ReadReply(context_, control), code);
      EXPECT_EQ(context_.reply_text, text);
    }
    // A peer that trickles a line for two seconds is given up on at the reply
    // time-out: a time-out restarted by every byte would wait for the close.
    if (c.pieces.size() == 100) {
      EXPECT_LT(sent.load(), c.pieces.size());
    }
    done = true;
    writer.join();
  }
}

using Attempt = TransferTest;

std::vector<peers::Step> Download(const peers::DataPlan& plan) {
  return {{"USER anonymous", "331 Ok"}, {"PASS someone@example.org", "230 Ok"}, {"TYPE I", "200 Ok"},
          {"PASV", "227 Entering Passive Mode ({pasv})"}, {"RETR f", "150 Ok", plan, "226 Ok"}};
}

TEST_F(Attempt, StatusTextsOfAnotherTaskAreDroppedButTheTransferGoesOn) {
  FtpPeer peer("220 Hi", Download(peers::Send("still fetched")));
  app::SetCurrentTaskPath("/tasks/Other.rcv");
  EXPECT_EQ(session::RunAttempt(context_, Params(peer.port(), "/f", "f")), 0);
  EXPECT_TRUE(list_.Statuses(0).empty());
  EXPECT_EQ(ReadFile(Path("f")), "still fetched");
}

}  // namespace
