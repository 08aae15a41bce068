// FTP dialogues against the scripted peer, one row each: the setup, the
// server's replies beside the commands the client must send, what the user
// sees (status texts in order, then message boxes) and the bytes left behind.

#include <atomic>

#include "engine/connection.h"
#include "engine/ftp.h"
#include "engine/pieces.h"
#include "engine/jobs.h"
#include "native/fixtures.h"
#include "peers/peers.h"
#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/socket.h"

namespace {

using namespace fixtures;

using peers::Step;
using session::kFailure;

const char kNone[] = "(none)";  // no local file; as a setting: a store with nothing in it
constexpr std::uint64_t kFileSize = ~0ull;  // as a total: the size of the file after
const Step kTypeA{"TYPE A N", "200 Type set to A"};
const Step kPort{"PORT 127,0,0,1,*", "200 PORT command successful"};

template <typename T>
std::vector<T> Join(std::vector<T> head, const std::vector<T>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

std::vector<Step> Login(const std::vector<Step>& rest, const std::string& user_reply = "331 Ok") {
  return Join({{"USER anonymous", user_reply}, {"PASS someone@example.org", "230 In"}}, rest);
}

std::vector<Step> Passive(const std::vector<Step>& rest) {
  return Join({{"TYPE I", "200 Type set to I"}, {"PASV", "227 Entering Passive Mode ({pasv})"}}, rest);
}

std::vector<Step> Fetch(const std::vector<Step>& rest) { return Login(Passive(rest)); }

// RETR, announcing the size of body; by default the peer sends it.
Step Retr(const std::string& body, const std::string& final_reply = "226 Transfer complete",
          peers::DataPlan plan = peers::DataPlan()) {
  if (plan.kind == peers::DataPlan::kNone) plan = peers::Send(body);
  return {"RETR pub/file.zip", "150 Opening data connection (" + std::to_string(body.size()) + " bytes)", plan,
          final_reply};
}

const Texts kLogin = {"sending user name", "sending password", "Password sent"};
const Texts kSent = {"send FTP command", "status 150", "Read data channel"};
Texts Seen(const Texts& tail) { return Join(Join(kLogin, {"Receiving", "Sending recv"}), tail); }
Texts Read(const Texts& tail) { return Seen(Join(Join(kSent, {"receiving file"}), tail)); }
const Texts kActive = Seen({"create listen socket", "requesting connection", "connection status 200",
                            "send FTP command", "status 150", "Calling accept data connection", "Data socket created",
                            "SOCKET:*", "Read data channel", "receiving file", "Done"});

struct Row {
  const char* name;
  std::vector<std::pair<std::string, std::string>> settings;  // stored before the attempt
  std::string before;        // the local file before; kNone: none
  std::vector<Step> script;  // after the greeting, for all runs
  int result;                // of the last run
  Texts seen;                // status texts of all runs, "[caption] text" of boxes, then a failure's cause
  std::string after;         // the local file after, or the bytes an upload stored
  int runs = 1;
  int mode = session::kReceive;
  std::string user = "", password = "", remote = "/pub/file.zip", host = "127.0.0.1";
  std::uint64_t total = kFileSize;  // the last progress report's total
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

std::vector<Row> Rows() {
  const std::string head = Pattern(1000, 1), tail = Pattern(70000, 2), part = Pattern(99999, 3);
  const std::string blocks = Pattern(64 * session::kBlockSize, 4);
  // Sends part, lets the client read it for 300 ms, then resets; sends "ab" and holds on.
  const peers::DataPlan reset = {peers::DataPlan::kSend, part, 300, true};
  const peers::DataPlan stall = {peers::DataPlan::kSend, "ab", 0, false, true};
  return {
      // Logging in; the first row is the plain download (no local file, so no REST).
      {"no local file: no REST", {}, kNone, Fetch({Retr("hello")}), 0, Read({"Done"}), "hello"},
      {"no stored email: the placeholder", {{"email", kNone}}, kNone,
       Join({{"USER anonymous", "331 Ok"}, {std::string("PASS ") + settings::kPlaceholderEmail,
                                            "230 In"}}, Passive({Retr("x")})), 0, Read({"Done"}), "x"},
      {"stored empty email: no PASS", {{"email", ""}}, kNone,
       Join({{"USER anonymous", "230 In"}}, Passive({Retr("x")})), 0,
       Join({"sending user name", "Receiving", "Sending recv"}, Join(kSent, {"receiving file", "Done"})), "x"},
      {"503 to PASS", {}, kNone, {{"USER alice", "331 Password"}, {"PASS wrong", "503 Bad order"}},
       kFailure, {"sending user name", "sending password", "Failed", ": Failed to send username (style *)",
                  "cause: 503 Bad order"}, kNone, 1, session::kReceive, "alice", "wrong"},
      // A refused login is told in the row, without a box.
      {"530 to PASS", {}, kNone, {{"USER alice", "331 Password"}, {"PASS wrong", "530 Login incorrect."}},
       kFailure, {"sending user name", "sending password", "Failed", "cause: Login incorrect"}, kNone, 1,
       session::kReceive, "alice", "wrong"},
      {"lost during login", {}, kNone, {peers::Hangup("USER anonymous")}, session::kConnectionLost,
       {"sending user name", "Failed", ": Failed to send username (style *)", "cause: Lost connection"}, kNone},
      // Login lines longer than 255 bytes are refused before anything is sent.
      {"USER line of 256 bytes", {}, kNone, {}, kFailure, {"Failed", ": Failed to send username (style *)", "cause: User name is too long or holds a line break"},
       kNone, 1, session::kReceive, std::string(249, 'u')},
      {"PASS line of 256 bytes", {}, kNone, {{"USER alice", "331 Password"}}, kFailure,
       {"sending user name", "Failed", ": Failed to send username (style *)",
        "cause: Password is too long or holds a line break"}, kNone, 1, session::kReceive, "alice", std::string(249, 'p')},
      {"PASS line of 255 bytes", {}, kNone, {{"USER alice", "331 Password"},
       {"PASS " + std::string(248, 'p'), "530 No"}}, kFailure, {"sending user name", "sending password", "Failed",
       "cause: Login incorrect"}, kNone, 1, session::kReceive, "alice", std::string(248, 'p')},
      // Reaching the server.
      {"a name is looked up", {}, kNone, Fetch({Retr("x")}), 0,
       Join({"Resolving address"}, Read({"Done"})), "x", 1, session::kReceive, "", "", "/pub/file.zip", "localhost"},
      {"an over-long name is refused", {}, kNone, {}, kFailure,
       {"Resolving address", "Host not found", "cause: Host not found"}, kNone, 1, session::kReceive, "", "",
       "/pub/file.zip", std::string(600, 'h')},
      // The data connection: passive, active after a refused PASV, or set by the setting.
      {"500 to PASV: PORT, for the next transfer too", {{"ResumeOption", "1"}}, kNone,
       Join(Login({{"TYPE I", "200 Ok"}, {"PASV", "500 No"}, kPort, Retr("first")}),
            Login({{"TYPE I", "200 Ok"}, kPort, Retr("second")})), 0, Join(kActive, kActive), "second", 2},
      // Over IPv6, which PASV and PORT cannot name: EPSV, and EPRT once it is refused.
      {"IPv6: EPSV", {}, kNone, Login({{"TYPE I", "200 Ok"}, {"EPSV", "229 Extended Passive Mode ({epsv})"},
       Retr("six")}), 0, Read({"Done"}), "six", 1, session::kReceive, "", "", "/pub/file.zip", "[::1]"},
      {"IPv6: 500 to EPSV: EPRT", {{"ResumeOption", "1"}}, kNone, Login({{"TYPE I", "200 Ok"}, {"EPSV", "500 No"},
       {"EPRT |2|::1|*|", "200 Ok"}, Retr("six")}), 0, kActive, "six", 1, session::kReceive, "", "",
       "/pub/file.zip", "[::1]"},
      {"active, the server never connects", {{"Passive", "0"}}, kNone,
       Login({{"TYPE I", "200 Ok"}, kPort, {"RETR pub/file.zip", "150 Ok"}, kTypeA}), kFailure,
       Seen({"create listen socket", "requesting connection", "connection status 200",
             "send FTP command", "status 150", "Calling accept data connection",
             "datasocket status 10060", "Data connection failed", "FTP failed", "cause: Data connection failed"}),
       kNone},
      // Resuming: REST only for a download in Auto Resume of a non-empty file.
      {"REST 1000 for a 1000-byte file", {}, head, Fetch({{"REST 1000", "350 Restarting at 1000"},
              {"RETR pub/file.zip", "150 Opening (71000 bytes)", peers::Send(tail), "226 Ok"}}),
       0, Read({"Done"}), head + tail},
      {"no REST: Overwrite", {{"ResumeOption", "1"}}, head, Fetch({Retr("new")}), 0, Read({"Done"}), "new"},
      {"no REST: empty file", {}, "", Fetch({Retr("new")}), 0, Read({"Done"}), "new"},
      {"502 to REST keeps the file", {}, head, Fetch({{"REST 1000", "502 No"}, kTypeA}), kFailure,
       Seen({"Failed to transfer file,Reply code:502", "FTP failed", "cause: 502 No"}), head},
      // The transfer command, the data, and the final reply.
      {"550 to RETR", {}, kNone, Fetch({{"RETR pub/file.zip", "550 No file"}, kTypeA}), kFailure,
       Seen({"send FTP command", "status 550", "Failed to transfer file,Reply code:550", "FTP failed",
             "cause: 550 No file"}), kNone},
      {"data connection reset midway", {}, kNone, Fetch({Retr(part + part, "", reset)}), kFailure,
       Read({"error:* 10054", "FTP failed", "cause: Connection reset by the server"}), part},
      {"data connection stalls", {}, kNone, Fetch({Retr(part, "", stall)}), kFailure,
       Read({"error:* 10060", "FTP failed", "cause: Timed out"}), "ab"},
      {"451 after the data", {}, kNone, Fetch({Retr(part, "451 Local error")}), kFailure,
       Read({"Failed to transfer file,Reply code:451", "FTP failed", "cause: 451 Local error"}), part},
      {"no final reply", {}, kNone, Fetch({Retr(part, "")}), kFailure,
       Read({"Lost connection", "FTP failed", "cause: Lost connection"}), part},
      {"227 naming another host: the data connection goes to the control peer", {}, kNone,
       Login({{"TYPE I", "200 Ok"}, {"PASV", "227 Entering Passive Mode (127,0,0,2,{pasv-port})"},
              Retr("here")}),
       0, Read({"Done"}), "here"},
      {"unusable passive reply", {}, kNone,
       Login({{"TYPE I", "200 Ok"}, {"PASV", "227 Entering Passive Mode (127,0,0,1,4)"}, kTypeA}),
       kFailure, Seen({"Failed connection", "FTP failed", "cause: Failed connection"}), kNone},
      {"last block exactly full", {}, kNone, Fetch({Retr(blocks)}), 0, Read({"Done"}), blocks},
      {"a size of twenty digits is no size", {}, kNone, Fetch({{"RETR pub/file.zip",
       "150 Opening (12345678901234567890 bytes)", peers::Send("hello"), "226 Ok"}}), 0, Read({"Done"}), "hello", 1,
       session::kReceive, "", "", "/pub/file.zip", "127.0.0.1", 0},
      {"ASCII", {{"Filetype", "2"}}, kNone,
       Login({kTypeA, {"PASV", "227 Entering Passive Mode ({pasv})"}, Retr("a\r\n")}), 0, Read({"Done"}), "a\r\n"},
      // Uploads, and a path that would smuggle in a second command.
      {"upload: no REST", {}, tail, Fetch({{"STOR pub/file.zip", "150 Ok", peers::Receive(), "226 Ok"}}), 0,
       Join(kLogin, Join(kSent, {"Done"})), tail, 1, session::kSend},
      {"upload of a file that cannot be opened: nothing after the login", {}, kNone, Login({}), kFailure,
       Join(kLogin, {"File open error", "cause: File open error"}), "", 1, session::kSend},
      {"552 after an upload", {}, "abc",
       Fetch({{"STOR pub/file.zip", "150 Ok", peers::Receive(), "552 Full"}}), kFailure,
       Join(kLogin, Join(kSent, {"Failed to transfer file,Reply code:552", "cause: 552 Full"})), "abc", 1,
       session::kSend},
      {"CR LF in the path", {}, kNone, Login({}), kFailure,
       Join(kLogin, {"Receiving", "FTP failed", "cause: Remote path cannot be sent"}), kNone, 1, session::kReceive,
       "", "", "/a\r\nDELE b"},
  };
}

class FtpDialogue : public TransferTest, public ::testing::WithParamInterface<Row> {};

TEST_P(FtpDialogue, TranscriptStatusTextsAndFile) {
  const Row& row = GetParam();
  RecordingStore bare;  // nothing stored, as on a new machine
  for (const auto& [name, value] : row.settings) {
    store_.Put(name, value);
    if (value == kNone) settings::InstallStore(&bare);
  }
  settings::Load(env_.dir.path());
  if (row.before != kNone) WriteFile(Path("file.zip"), row.before);
  timeouts::Set(500, 500, 500);
  context_.mode = row.mode;
  context_.body_end = 1;  // as an HTTP answer left it: an FTP transfer runs to the data connection's end
  UseRow(1);
  const bool v6 = row.host == "[::1]";
  if (v6 && !peers::HaveIpv6Loopback()) GTEST_SKIP() << "::1 cannot be bound on this machine";
  peers::FtpPeer peer("220-Welcome\r\n220 Ready", row.script, v6);
  session::AttemptParams params = Params(peer.port(), row.remote, "file.zip");
  params.host = row.host;
  params.user = row.user;
  params.password = row.password;
  const std::uint32_t start = clock_seam::TickCount();
  int result = 0;
  for (int run = 0; run < row.runs; ++run) result = session::RunAttempt(context_, params);
  const std::uint32_t elapsed = clock_seam::TickCount() - start;

  EXPECT_EQ(result, row.result);
  EXPECT_TRUE(peer.WaitSessionsEnded(5000));  // the client hung up
  Texts expected;
  for (const peers::Step& step : row.script) expected.push_back(step.expect);
  EXPECT_TRUE(Matches(expected, peer.Commands()));
  Texts seen = list_.Statuses(context_.start_row), boxes = boxes_.Shown();
  seen.insert(seen.end(), boxes.begin(), boxes.end());
  if (result < 0) seen.push_back("cause: " + context_.cause);
  EXPECT_TRUE(Matches(row.seen, seen));
  std::string after = fs::FileExists(Path("file.zip")) ? ReadFile(Path("file.zip")) : kNone;
  if (row.mode == session::kSend) after = peer.Stored();
  EXPECT_TRUE(after == row.after) << after.size() << " bytes instead of " << row.after.size();
  EXPECT_TRUE(store_.Writes().empty());  // a refused PASV changes the setting in memory only
  // A complete transfer is logged once, with its whole size, which the last
  // progress report gives too; reports come at most once per interval,
  // besides the first and the last of each run. A failed one is not logged.
  auto reports = HookRecorder::Instance().Reports(context_.start_row);
  auto logs = HookRecorder::Instance().Logs(context_.start_row);
  ASSERT_EQ(logs.size(), result == 0 ? static_cast<std::size_t>(row.runs) : 0u);
  if (result != 0) return;
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(logs.back(), row.after.size());
  EXPECT_EQ(reports.back().bytes_done, row.after.size());
  EXPECT_EQ(reports.back().total_size, row.total == kFileSize ? row.after.size() : row.total);
  EXPECT_LE(reports.size(), elapsed / session::kReportIntervalMs + 2 * row.runs);
}

INSTANTIATE_TEST_SUITE_P(Ftp, FtpDialogue, ::testing::ValuesIn(Rows()));

// A split download's control file beside the local file: FTP continues from
// its first hole, not from the file's size, and removes the control file once
// the file is whole.
TEST_F(TransferTest, FtpResumesFromTheFirstHoleOfASplitDownload) {
  const std::string whole = Pattern(3000, 6);
  WriteFile(Path("file.zip"), whole.substr(0, 1000) + std::string(2000, '\0'));
  ASSERT_TRUE(pieces::Save(Path("file.zip"), {3000, "", {{0, 1000}, {2000, 3000}}}));
  peers::FtpPeer peer("220 Ready", Fetch({{"REST 1000", "350 Restarting at 1000"},
                                          {"RETR pub/file.zip", "150 Opening (2000 bytes)",
                                           peers::Send(whole.substr(1000)), "226 Ok"}}));
  EXPECT_EQ(0, session::RunAttempt(context_, Params(peer.port(), "/pub/file.zip", "file.zip")));
  EXPECT_TRUE(ReadFile(Path("file.zip")) == whole);
  EXPECT_FALSE(fs::FileExists(Path("file.zip.parts")));
}

// An upload reaches 100 % only once the server confirms it: bytes handed to
// the socket may still be on their way. Meanwhile the row's rate goes on.
TEST_F(TransferTest, UploadShowsOneHundredPercentOnlyOnceTheServerConfirmsIt) {
  progress::InstallReporter(&jobs::ReportProgress);
  const std::string file = Pattern(300000, 5);
  WriteFile(Path("up.bin"), file);
  context_.mode = session::kSend;
  peers::DataPlan slow = peers::Receive();
  slow.pause_ms = 1500;
  peers::FtpPeer peer("220 Ready", Fetch({{"STOR pub/file.zip", "150 Ok", slow, "226 Stored"}}));
  EXPECT_EQ(0, session::RunAttempt(context_, Params(peer.port(), "/pub/file.zip", "up.bin")));
  const Texts seen = list_.Statuses(0);
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ((Texts{"Percent=100", "Done"}), Texts(seen.end() - 2, seen.end()));
  EXPECT_EQ(1, std::count(seen.begin(), seen.end(), "Percent=100"));
  EXPECT_NE(seen.end(), std::find(seen.begin(), seen.end(), "Percent=99"));
  EXPECT_NE("0", list_.GetCell(0, tasklist::kRate));
  EXPECT_TRUE(file == peer.Stored());
}

// The connection layer under the FTP steps: the passive reply, socket error
// numbers, reading replies off the wire, and status texts of another task.
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

// Connects client to a fresh listener on 127.0.0.1; the server's end, -1 on failure.
int ConnectLoopback(net::Socket* client) {
  std::uint16_t port = 0;
  peers::Fd listener;
  listener.fd = peers::ListenLoopback(&port);
  const net::Address loopback = net::Address::FromIpv4(htonl(INADDR_LOOPBACK));
  if (client->Open() != 0 || client->Connect(loopback, port, 2000) != 0) return -1;
  return accept(listener.fd, nullptr, nullptr);
}

// A peer that resets the connection makes the send report a lost connection,
// which the FTP steps tell apart from other failures; a send on a socket that
// was never opened is a plain failure. Both name the error in the row.
TEST_F(SendBlockFailure, AResetIsALostConnectionAndABadSocketIsNot) {
  net::Socket connection;
  peers::Fd server;
  ASSERT_GE(server.fd = ConnectLoopback(&connection), 0);
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
    net::Socket control;
    const int server = ConnectLoopback(&control);
    ASSERT_GE(server, 0);
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

TEST_F(Attempt, StatusTextsOfAnotherTaskAreDroppedButTheTransferGoesOn) {
  peers::FtpPeer peer("220 Hi", Fetch({{"RETR f", "150 Ok", peers::Send("still fetched"), "226 Ok"}}));
  app::SetCurrentTaskPath("/tasks/Other.rcv");
  EXPECT_EQ(session::RunAttempt(context_, Params(peer.port(), "/f", "f")), 0);
  EXPECT_TRUE(list_.Statuses(0).empty());
  EXPECT_EQ(ReadFile(Path("f")), "still fetched");
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

// An address that does not answer gives way to the next after a quarter
// second, not after its whole time-out; a refused one at once, and when all
// refuse, the last refusal is the result.
TEST(ConnectRace, ASilentAddressCostsAQuarterSecondAndRefusalsEndInTheLast) {
  if (!peers::HaveIpv6Loopback()) GTEST_SKIP() << "::1 cannot be bound on this machine";
  HalfBrokenHost host;
  ASSERT_TRUE(host.ready) << "no loopback port that drops connects could be made";
  net::Address v6, v4;
  ASSERT_TRUE(net::ParseNumeric("::1", &v6) && net::ParseNumeric("127.0.0.1", &v4));
  net::Socket socket;
  const std::uint32_t start = clock_seam::TickCount();
  EXPECT_EQ(socket.ConnectFirst({v6, v4}, host.port, 20000), 0);
  const std::uint32_t elapsed = clock_seam::TickCount() - start;
  EXPECT_GE(elapsed, static_cast<std::uint32_t>(net::kNextAttemptDelayMs));
  EXPECT_LT(elapsed, 10000u);
  net::Address peer;
  std::uint16_t port = 0;
  ASSERT_EQ(socket.PeerAddress(&peer, &port), 0);
  EXPECT_EQ(net::AddressText(peer), "127.0.0.1");
  host.answering.Reset();
  net::Socket refused;
  EXPECT_EQ(refused.ConnectFirst({v4, v4}, host.port, 5000), net::kConnectionRefused);
}

}  // namespace
