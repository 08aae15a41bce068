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
#include "platform/clock.h"
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

TEST(ExtendedPassiveReply, ThePortIsReadWithBounds) {
  std::uint16_t port = 0;
  for (const auto& [reply, read] : std::vector<std::pair<const char*, int>>{
           {"Entering Extended Passive Mode (|||6446|)", 6446}, {"(!!!65535!)", 65535}, {"(|||1|).", 1}}) {
    EXPECT_TRUE(session::ParseExtendedPassiveReply(reply, &port)) << reply;
    EXPECT_EQ(port, read) << reply;
  }
  for (const char* reply : {"|||6446|", "(|||6446)", "(||6446|)", "(|||65536|)", "(|||0|)", "(|||006446|)",
                            "(|||64x46|)", "(|2|::1|6446|)", "(   6446 )", "(|||6446!)"}) {
    EXPECT_FALSE(session::ParseExtendedPassiveReply(reply, &port)) << reply;
  }
}

// Numeric hosts as written and as shown in EPRT (shortest IPv6 form).
TEST(NumericAddress, ParsesBothFamiliesAndShowsIpv6Shortest) {
  for (const auto& [text, shown] : std::vector<std::pair<const char*, const char*>>{
           {"10.0.0.1", "10.0.0.1"}, {"::1", "::1"}, {"::", "::"}, {"2001:DB8:0:0:0:0:0:1", "2001:db8::1"},
           {"1:0:0:2:0:0:0:3", "1:0:0:2::3"}, {"0:0:1:0:0:1:0:0", "::1:0:0:1:0:0"},
           {"1:2:3:4:5:6:7:0", "1:2:3:4:5:6:7:0"}, {"::ffff:1.2.3.4", "::ffff:102:304"}}) {
    net::Address address;
    ASSERT_TRUE(net::ParseNumeric(text, &address)) << text;
    EXPECT_EQ(net::AddressText(address), shown);
  }
  // IPv6 first, then the families alternate; a repeated address is tried once.
  net::Address a4, b4, a6, b6;
  ASSERT_TRUE(net::ParseNumeric("10.0.0.1", &a4) && net::ParseNumeric("10.0.0.2", &b4) &&
              net::ParseNumeric("::1", &a6) && net::ParseNumeric("::2", &b6));
  EXPECT_TRUE(net::ConnectionOrder({a4, b4, a4, a6, b6}) == (std::vector<net::Address>{a6, a4, b6, b4}));
}

// A port on ::1 whose connects get no answer: its listener's queue is full,
// so the SYNs that come are dropped. A listener on 127.0.0.1 at the same
// port answers. The port is taken on 127.0.0.1 first, where the tests' own
// connections take ephemeral ports too.
struct HalfBrokenHost {
  peers::Fd blackhole, answering;
  std::vector<peers::Fd> queued;
  std::uint16_t port = 0;
  bool ready = false;

  HalfBrokenHost() {
    sockaddr_in6 at{};
    at.sin6_family = AF_INET6;
    at.sin6_addr = in6addr_loopback;
    for (int tries = 0; tries < 5 && !ready; ++tries) {
      answering.Reset(peers::ListenLoopback(&port));
      blackhole.Reset(socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
      const int on = 1;
      setsockopt(blackhole.fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
      at.sin6_port = htons(port);
      ready = bind(blackhole.fd, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 && listen(blackhole.fd, 0) == 0;
    }
    for (int i = 0; i < 8 && ready; ++i) {
      queued.emplace_back();
      queued.back().fd = socket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      connect(queued.back().fd, reinterpret_cast<sockaddr*>(&at), sizeof at);
      pollfd entry{queued.back().fd, POLLOUT, 0};
      if (poll(&entry, 1, 300) == 0) return;  // this one got no answer: the queue is full
    }
    ready = false;
  }
};

TEST(ConnectRace, AnAddressThatDoesNotAnswerCostsAQuarterSecondAndTheTimeOutIsPerAttempt) {
  if (!peers::HaveIpv6Loopback()) GTEST_SKIP() << "::1 cannot be bound on this machine";
  HalfBrokenHost host;
  ASSERT_TRUE(host.ready) << "no loopback port that drops connects could be made";
  net::Address v6, v4;
  ASSERT_TRUE(net::ParseNumeric("::1", &v6) && net::ParseNumeric("127.0.0.1", &v4));
  const struct { std::vector<net::Address> addresses; int timeout_ms, result, least_ms, most_ms; } cases[] = {
      {{v6, v4}, 20000, 0, net::kNextAttemptDelayMs, 10000},  // IPv6 first; not a whole time-out
      {{v6}, 400, net::kTimedOut, 400, 10000},
      {{v6, v6}, 400, net::kTimedOut, 400 + net::kNextAttemptDelayMs, 10000},  // each its own time
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.addresses.size());
    net::Socket socket;
    const std::uint32_t start = clock_seam::TickCount();
    EXPECT_EQ(socket.ConnectFirst(c.addresses, host.port, c.timeout_ms), c.result);
    const std::uint32_t elapsed = clock_seam::TickCount() - start;
    EXPECT_GE(elapsed, static_cast<std::uint32_t>(c.least_ms));
    EXPECT_LT(elapsed, static_cast<std::uint32_t>(c.most_ms));
    net::Address peer;
    std::uint16_t port = 0;
    if (c.result != 0) continue;
    ASSERT_EQ(socket.PeerAddress(&peer, &port), 0);
    EXPECT_EQ(net::AddressText(peer), "127.0.0.1");
  }
  // A refused address gives way at once; all refused: the last refusal.
  host.answering.Reset();
  net::Socket socket;
  EXPECT_EQ(socket.ConnectFirst({v4, v4}, host.port, 5000), net::kConnectionRefused);
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
