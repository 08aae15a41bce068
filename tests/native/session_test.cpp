// The connection layer: choosing and reaching the server, the passive reply,
// reading replies off the wire, Stop, and which status texts reach the list.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "engine/appstate.h"
#include "engine/ftp.h"
#include "engine/session.h"
#include "engine/timeouts.h"
#include "peers/ftp_peer.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "transfer_fixture.h"

namespace {

using peers::FtpPeer;
using peers::Send;
using peers::Step;
using transfer_fixture::HookRecorder;
using transfer_fixture::Matches;
using transfer_fixture::ReadFile;

net::Ipv4 Dotted(unsigned a, unsigned b, unsigned c, unsigned d) {
  unsigned char bytes[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                            static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
  net::Ipv4 address = 0;
  std::memcpy(&address, bytes, sizeof address);
  return address;
}

TEST(PassiveReply, FieldsAreReadWithBounds) {
  struct Case {
    const char* reply;
    bool usable;
    net::Ipv4 address;
    std::uint16_t port;
  };
  const Case cases[] = {
      {"Entering Passive Mode (10,0,0,1,4,1)", true, Dotted(10, 0, 0, 1), 1025},
      {"Entering Passive Mode (10,0,0,1,255,255).", true, Dotted(10, 0, 0, 1), 65535},
      {"( 10, 0, 0, 1, 4, 1)", true, Dotted(10, 0, 0, 1), 1025},
      {"(0000010,0,0,1,4,1)", true, Dotted(10, 0, 0, 1), 1025},  // seven characters
      {"(00000010,0,0,1,4,1)", false, 0, 0},                     // eight characters
      {"Entering Passive Mode 10,0,0,1,4,1", false, 0, 0},       // no '('
      {"(10,0,0,1,4)", false, 0, 0},                             // five numbers
      {"(10,0,0,1,4,1,7)", false, 0, 0},                         // seven numbers
      {"(10,0,0,1,4,1", false, 0, 0},                            // no ')'
      {"(10,,0,1,4,1)", false, 0, 0},                            // empty field
      {"(10,0,0,1,4,x)", false, 0, 0},
      {"(256,0,0,1,4,1)", false, 0, 0},
      {"(10,0,0,1,4,256)", false, 0, 0},
      {"(-1,0,0,1,4,1)", false, 0, 0},
      {"Note (see below) (10,0,0,1,4,1)", false, 0, 0},  // the first '(' counts
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    net::Ipv4 address = 0;
    std::uint16_t port = 0;
    ASSERT_EQ(session::ParsePassiveReply(c.reply, &address, &port), c.usable);
    if (!c.usable) continue;
    EXPECT_EQ(address, c.address);
    EXPECT_EQ(port, c.port);
  }
}

TEST(ConnectionLoss, OnlyTheLossErrorsCountAsLostConnection) {
  for (int error : {10050, 10052, 10053, 10054, 10057, 10058}) {
    EXPECT_TRUE(session::IsConnectionLoss(error)) << error;
  }
  for (int error : {0, 10035, 10038, 10060, 10061, 11001}) {
    EXPECT_FALSE(session::IsConnectionLoss(error)) << error;
  }
}

// A connected pair on loopback: the client end as the program's socket, the
// server end as a raw descriptor the test writes to.
class WirePair {
 public:
  WirePair() {
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof sa;
    if (bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 && listen(listener, 1) == 0 &&
        getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &size) == 0 && client.Open() == 0 &&
        client.Connect(sa.sin_addr.s_addr, ntohs(sa.sin_port), 2000) == 0) {
      server = accept(listener, nullptr, nullptr);
    }
    close(listener);
  }
  ~WirePair() {
    if (writer_.joinable()) writer_.join();
    if (server >= 0) close(server);
  }
  // Writes the pieces from another thread, 20 ms apart.
  void Feed(std::vector<std::string> pieces, bool close_after = false) {
    writer_ = std::thread([this, pieces, close_after] {
      for (const std::string& piece : pieces) {
        send(server, piece.data(), piece.size(), MSG_NOSIGNAL);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      if (close_after) shutdown(server, SHUT_WR);
    });
  }

  net::Socket client;
  int server = -1;

 private:
  std::thread writer_;
};

class ReplyReading : public transfer_fixture::TransferTest {};

TEST_F(ReplyReading, CompleteRepliesAreAssembledFromPieces) {
  struct Case {
    const char* name;
    std::vector<std::string> pieces;
    int code;
    std::string text;
  };
  const std::string long_text(3000, 'x');
  const std::vector<Case> cases = {
      {"one line in pieces", {"2", "26 Transfer", " complete\r", "\n"}, 226, "Transfer complete"},
      {"multi-line", {"150-first\r\n second line\r\n", "150 last line\r\n"}, 150, "last line"},
      {"short lines skipped", {"22\r\n", "\r\n", "226 ok\r\n"}, 226, "ok"},
      {"three digits alone", {"331\r\n331 \r\n"}, 331, ""},
      {"no code", {"abc def\r\n", "230 in\r\n"}, 230, "in"},
      {"bare LF inside", {"200 bare\nLF\r\n"}, 200, "bare\nLF"},
      {"CR alone inside", {"200 a\rb\r\n"}, 200, "a\rb"},
      {"over-long line cut", {"250 " + long_text + "\r\n"}, 250, std::string(1018, 'x')},
      {"limit exactly", {"250 " + std::string(1018, 'y') + "\r\n"}, 250, std::string(1018, 'y')},
      {"one over the limit", {"250 " + std::string(1019, 'z') + "\r\n"}, 250,
       std::string(1018, 'z')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WirePair pair;
    ASSERT_GE(pair.server, 0);
    session::ResetControlInput(context_);
    pair.Feed(c.pieces);
    EXPECT_EQ(ftp::ReadReply(context_, pair.client), c.code);
    EXPECT_EQ(context_.reply_text, c.text);
  }
}

TEST_F(ReplyReading, BytesAfterAReplyWaitForTheNextRead) {
  WirePair pair;
  ASSERT_GE(pair.server, 0);
  session::ResetControlInput(context_);
  pair.Feed({"250 " + std::string(2000, 'x') + "\r\n200 next\r\n150 then"});
  EXPECT_EQ(ftp::ReadReply(context_, pair.client), 250);
  EXPECT_EQ(ftp::ReadReply(context_, pair.client), 200);
  EXPECT_EQ(context_.reply_text, "next");
}

TEST_F(ReplyReading, ClosedOrSilentPeerIsALostConnection) {
  timeouts::Set(3000, 300, 3000);
  {
    WirePair pair;
    session::ResetControlInput(context_);
    pair.Feed({"226 cut in the mid"}, true);
    EXPECT_EQ(ftp::ReadReply(context_, pair.client), session::kConnectionLost);
  }
  {
    WirePair pair;
    session::ResetControlInput(context_);
    std::uint32_t start = clock_seam::TickCount();
    // A peer that trickles bytes without ever ending the line is bounded too.
    pair.Feed({"2", "2", "6", " ", "s", "l", "o", "w"});
    EXPECT_EQ(ftp::ReadReply(context_, pair.client), session::kConnectionLost);
    EXPECT_LT(clock_seam::TickCount() - start, 2000u);
  }
}

TEST_F(ReplyReading, ExchangeSkips220Replies) {
  WirePair pair;
  ASSERT_GE(pair.server, 0);
  session::ResetControlInput(context_);
  pair.Feed({"220-hello\r\n220 hello\r\n", "220 again\r\n", "331 Password please\r\n"});
  EXPECT_EQ(ftp::Exchange(context_, pair.client, "USER me\r\n"), 331);
  char sent[16] = {};
  EXPECT_EQ(recv(pair.server, sent, sizeof sent - 1, 0), 9);
  EXPECT_STREQ(sent, "USER me\r\n");
}

TEST_F(ReplyReading, SendingOnAResetConnectionIsALoss) {
  WirePair pair;
  ASSERT_GE(pair.server, 0);
  linger abort_on_close{1, 0};
  setsockopt(pair.server, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
  close(pair.server);
  pair.server = -1;
  EXPECT_EQ(pair.client.WaitReadable(2000), 1);
  char byte;
  int error = 0;
  EXPECT_EQ(pair.client.Receive(&byte, 1, 100, &error), -1);
  EXPECT_EQ(error, net::kConnectionReset);
  EXPECT_EQ(session::SendBlock(context_, pair.client, "PASV\r\n", 6), session::kConnectionLost);
  EXPECT_TRUE(Matches({"write buffer *"}, list_.Statuses(0)));
}

class Attempt : public transfer_fixture::TransferTest {
 protected:
  static std::vector<Step> Download(const std::string& body) {
    return {
        {"USER anonymous", "331 ok"},
        {"PASS someone@example.org", "230 ok"},
        {"TYPE I", "200 ok"},
        {"PASV", "227 Entering Passive Mode ({pasv})"},
        {"RETR f", "150 ok", Send(body), "226 ok"},
    };
  }
};

TEST_F(Attempt, RefusedConnectionShowsFailedToConnect) {
  int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof sa;
  ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  ASSERT_EQ(getsockname(probe, reinterpret_cast<sockaddr*>(&sa), &size), 0);
  close(probe);  // nobody listens on that port now

  EXPECT_EQ(session::RunAttempt(context_, Params(ntohs(sa.sin_port), "/f", "f")), session::kFailure);
  EXPECT_TRUE(Matches({"Failed to connect"}, list_.Statuses(0)));
  EXPECT_TRUE(boxes_.Boxes().empty());
}

TEST_F(Attempt, HostNamesAreResolvedDottedAddressesAreNot) {
  FtpPeer peer("220 hi", Download("abc"));
  session::AttemptParams params = Params(peer.port(), "/f", "f");
  params.host = "localhost";
  EXPECT_EQ(session::RunAttempt(context_, params), 0);
  std::vector<std::string> statuses = list_.Statuses(0);
  ASSERT_FALSE(statuses.empty());
  EXPECT_EQ(statuses.front(), "Resolving address");
  EXPECT_EQ(ReadFile(Path("f")), "abc");

  list_.ClearStatuses();
  params.host = std::string(600, 'h');  // refused without a lookup
  EXPECT_EQ(session::RunAttempt(context_, params), session::kFailure);
  EXPECT_TRUE(Matches({"Resolving address", "Host not found"}, list_.Statuses(0)));
}

TEST_F(Attempt, FirewallSendsFtpUrlsToTheFtpProxyWithoutLogin) {
  UseSetting("Firewall", "1");
  FtpPeer proxy("", {});
  session::AttemptParams params = Params(0, "/pub/f.zip", "f.zip");
  params.host = "ftp.example.invalid";  // never looked up or contacted
  params.ftp_proxy_host = "127.0.0.1";
  params.ftp_proxy_port = proxy.port();
  params.http_proxy_host = "127.0.0.2";
  params.http_proxy_port = 1;
  session::RunAttempt(context_, params);
  ASSERT_TRUE(proxy.WaitSessionsEnded(1, 5000));
  EXPECT_EQ(proxy.Sessions(), 1);
  for (const std::string& command : proxy.Commands()) {
    EXPECT_NE(command.compare(0, 5, "USER "), 0);
    EXPECT_NE(command.compare(0, 5, "PASS "), 0);
  }
  for (const std::string& status : list_.Statuses(0)) {
    EXPECT_NE(status, "Resolving address");
    EXPECT_NE(status, "sending user name");
  }
}

TEST_F(Attempt, StatusTextsOfAnotherTaskAreDroppedButTheTransferGoesOn) {
  FtpPeer peer("220 hi", Download("still fetched"));
  app::SetCurrentTaskPath("/tasks/Other.rcv");
  EXPECT_EQ(session::RunAttempt(context_, Params(peer.port(), "/f", "f")), 0);
  EXPECT_TRUE(list_.Statuses(0).empty());
  EXPECT_EQ(ReadFile(Path("f")), "still fetched");
  EXPECT_EQ(HookRecorder::Instance().Logs(0).size(), 1u);
}

TEST_F(Attempt, StalledDataConnectionTimesOut) {
  timeouts::Set(3000, 3000, 300);
  std::vector<Step> script = Download("");
  script.back().data = Send("first bytes");
  script.back().data.hold = true;
  FtpPeer peer("220 hi", script);
  EXPECT_EQ(session::RunAttempt(context_, Params(peer.port(), "/f", "f")), session::kFailure);
  std::vector<std::string> statuses = list_.Statuses(0);
  ASSERT_GE(statuses.size(), 2u);
  EXPECT_TRUE(Matches({"error:* 10060", "FTP failed"},
                      std::vector<std::string>(statuses.end() - 2, statuses.end())));
  EXPECT_EQ(ReadFile(Path("f")), "first bytes");
}

// Runs an attempt on another thread for the Stop tests.
std::future<int> Start(session::Context& context, const session::AttemptParams& params) {
  return std::async(std::launch::async,
                    [&context, params] { return session::RunAttempt(context, params); });
}

bool WaitForStatus(peers::RecordingList& list, int row, const std::string& text) {
  for (int i = 0; i < 250; ++i) {
    for (const std::string& status : list.Statuses(row)) {
      if (status == text) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

bool Ready(std::future<int>& f, int ms) {
  return f.wait_for(std::chrono::milliseconds(ms)) == std::future_status::ready;
}

TEST_F(Attempt, OneStopCancelsOneSelectedTransfer) {
  std::vector<Step> script = Download("");
  script.back().data = Send("partial");
  script.back().data.hold = true;
  FtpPeer first("220 hi", script);
  FtpPeer second("220 hi", script);
  list_.SetSelected(0, true);
  list_.SetSelected(1, true);
  session::Context other;
  other.task_path = kTask;
  other.receive_row = 1;

  std::future<int> a = Start(context_, Params(first.port(), "/f", "a"));
  std::future<int> b = Start(other, Params(second.port(), "/f", "b"));
  ASSERT_TRUE(WaitForStatus(list_, 0, "receiving file"));
  ASSERT_TRUE(WaitForStatus(list_, 1, "receiving file"));

  app::RequestStop();
  for (int i = 0; i < 250 && !Ready(a, 0) && !Ready(b, 0); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(Ready(a, 0) || Ready(b, 0));
  std::future<int>& stopped = Ready(a, 0) ? a : b;
  std::future<int>& running = Ready(a, 0) ? b : a;
  EXPECT_EQ(stopped.get(), session::kFailure);
  EXPECT_FALSE(app::StopRequested());
  EXPECT_FALSE(Ready(running, 300));

  app::RequestStop();
  ASSERT_TRUE(Ready(running, 5000));
  EXPECT_EQ(running.get(), session::kFailure);
  for (int row : {0, 1}) {
    std::vector<std::string> statuses = list_.Statuses(row);
    ASSERT_GE(statuses.size(), 2u);
    EXPECT_TRUE(Matches({"Cancelled", "FTP failed"},
                        std::vector<std::string>(statuses.end() - 2, statuses.end())));
  }
  EXPECT_EQ(ReadFile(Path("a")), "partial");
}

TEST_F(Attempt, StopLeavesAnUnselectedTransferAlone) {
  std::vector<Step> script = Download("");
  script.back().data = Send("whole file");
  script.back().data.hold = true;
  FtpPeer peer("220 hi", script);
  std::future<int> transfer = Start(context_, Params(peer.port(), "/f", "f"));
  ASSERT_TRUE(WaitForStatus(list_, 0, "receiving file"));
  app::RequestStop();
  EXPECT_FALSE(Ready(transfer, 300));
  peer.Release();
  ASSERT_TRUE(Ready(transfer, 5000));
  EXPECT_EQ(transfer.get(), 0);
  EXPECT_EQ(list_.Statuses(0).back(), "Done");
  EXPECT_TRUE(app::StopRequested());  // still there for a selected transfer
}

}  // namespace
