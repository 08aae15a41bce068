// FTP dialogues against the scripted peer: the server's replies, the commands
// the client must send, and the outcome (status texts, bytes on disk) side by
// side.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/ftp.h"
#include "engine/session.h"
#include "peers/ftp_peer.h"
#include "platform/clock.h"
#include "platform/fs.h"
#include "settings/settings.h"
#include "transfer_fixture.h"

namespace {

using peers::FtpPeer;
using peers::Receive;
using peers::Send;
using peers::Step;
using transfer_fixture::HookRecorder;
using transfer_fixture::Matches;
using transfer_fixture::Pattern;
using transfer_fixture::ReadFile;
using transfer_fixture::WriteFile;

const char kGreeting[] = "220 Test peer ready";

std::vector<Step> Concat(std::vector<Step> a, const std::vector<Step>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<Step> AnonymousLogin() {
  return {
      {"USER anonymous", "331 Guest login ok, send your e-mail as password"},
      {"PASS someone@example.org", "230 Logged in"},
  };
}

// The login texts, "Receiving" and "Sending recv" of every download.
const std::vector<std::string> kDownloadStart = {
    "sending user name", "sending password", "Password sent", "Receiving", "Sending recv"};

std::vector<std::string> With(std::vector<std::string> head, const std::vector<std::string>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

const std::vector<std::string> kPassiveTail = {"send FTP command", "status 150",
                                               "Read data channel", "receiving file", "Done"};

class FtpDialogue : public transfer_fixture::TransferTest {
 protected:
  int Run(FtpPeer& peer, const std::string& local_name = "file.zip",
          const std::string& remote_path = "/pub/file.zip") {
    int result = session::RunAttempt(context_, Params(peer.port(), remote_path, local_name));
    // The client has closed the control connection when it returns.
    EXPECT_TRUE(peer.WaitSessionsEnded(peer.Sessions(), 5000));
    return result;
  }
};

TEST_F(FtpDialogue, MultiLineGreetingIsConsumedByTheUserExchange) {
  FtpPeer peer("220-Welcome to the test peer\r\n220-It speaks in several lines\r\n220 Ready",
               Concat(AnonymousLogin(),
                      {
                          {"TYPE I", "200 Type set to I"},
                          {"PASV", "227 Entering Passive Mode ({pasv})"},
                          {"RETR pub/file.zip",
                           "150 Opening BINARY mode data connection for pub/file.zip (11 bytes)",
                           Send("hello world"), "226 Transfer complete"},
                      }));
  EXPECT_EQ(Run(peer), 0);
  EXPECT_TRUE(Matches(peer.Expected(), peer.Commands()));
  EXPECT_TRUE(Matches(With(kDownloadStart, kPassiveTail), list_.Statuses(0)));
  EXPECT_EQ(ReadFile(Path("file.zip")), "hello world");
  EXPECT_EQ(context_.total_size, 11u);
  EXPECT_EQ(HookRecorder::Instance().Logs(0), std::vector<std::uint64_t>{11});
}

TEST_F(FtpDialogue, RefusedPasswordFailsTheLoginAndEndsTheDialogue) {
  FtpPeer peer(kGreeting, {
                              {"USER alice", "331 Password required"},
                              {"PASS wrong", "503 Bad sequence of commands"},
                          });
  session::AttemptParams params = Params(peer.port(), "/pub/file.zip", "file.zip");
  params.user = "alice";
  params.password = "wrong";
  EXPECT_LT(session::RunAttempt(context_, params), 0);
  ASSERT_TRUE(peer.WaitSessionsEnded(1, 5000));
  EXPECT_TRUE(Matches(peer.Expected(), peer.Commands()));
  EXPECT_TRUE(Matches({"sending user name", "sending password"}, list_.Statuses(0)));
  ASSERT_EQ(boxes_.Boxes().size(), 1u);
  EXPECT_EQ(boxes_.Boxes()[0].text, "Failed to send username");
  EXPECT_EQ(boxes_.Boxes()[0].caption, "");
  EXPECT_FALSE(fs::FileExists(Path("file.zip")));
}

TEST_F(FtpDialogue, RefusedUserFailsBeforeAnyPassword) {
  FtpPeer peer(kGreeting, {{"USER anonymous", "530 No anonymous access"}});
  EXPECT_LT(Run(peer), 0);
  EXPECT_TRUE(Matches(peer.Expected(), peer.Commands()));
  EXPECT_TRUE(Matches({"sending user name"}, list_.Statuses(0)));
}

TEST_F(FtpDialogue, LoginCredentialsByWhatTheUrlAndTheStoreHold) {
  struct Case {
    const char* name;
    std::string user, password;
    bool email_stored;
    std::string email;
    std::string user_reply;
    std::vector<std::string> login;  // commands before TYPE
  };
  const std::vector<Case> cases = {
      {"url credentials", "alice", "secret", true, "ignored@x", "331 Password required",
       {"USER alice", "PASS secret"}},
      {"stored email", "", "", true, "me@here.org", "331 Send e-mail",
       {"USER anonymous", "PASS me@here.org"}},
      {"no stored email", "", "", false, "", "331 Send e-mail",
       {"USER anonymous", std::string("PASS ") + settings::kPlaceholderEmail}},
      {"stored empty email", "", "", true, "", "230 In", {"USER anonymous"}},
      {"user without password", "bob", "", true, "bob@home", "331 Password required",
       {"USER bob", "PASS bob@home"}},
      {"USER answered 230", "", "", true, "me@here.org", "230 No password needed",
       {"USER anonymous", "PASS me@here.org"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // A store without the value stands in for a machine where it was never set.
    settings_fixtures::RecordingStore bare;
    store_.Put("email", c.email);
    settings::InstallStore(c.email_stored ? static_cast<settings::Store*>(&store_) : &bare);
    std::vector<Step> script;
    script.push_back({c.login[0], c.user_reply});
    for (std::size_t i = 1; i < c.login.size(); ++i) script.push_back({c.login[i], "230 ok"});
    script.push_back({"TYPE I", "200 ok"});
    script.push_back({"PASV", "227 Entering Passive Mode ({pasv})"});
    script.push_back({"RETR pub/file.zip", "150 ok", Send("data"), "226 ok"});
    FtpPeer peer(kGreeting, script);
    session::AttemptParams params = Params(peer.port(), "/pub/file.zip", "file.zip");
    params.user = c.user;
    params.password = c.password;
    fs::RemoveFile(Path("file.zip"));
    EXPECT_EQ(session::RunAttempt(context_, params), 0);
    ASSERT_TRUE(peer.WaitSessionsEnded(1, 5000));
    EXPECT_TRUE(Matches(peer.Expected(), peer.Commands()));
    settings::InstallStore(&store_);
  }
}

TEST_F(FtpDialogue, RefusedPasvSwitchesThisAndLaterTransfersToActiveMode) {
  FtpPeer peer(kGreeting, Concat(Concat(AnonymousLogin(),
                                        {
                                            {"TYPE I", "200 ok"},
                                            {"PASV", "500 PASV not understood"},
                                            {"PORT 127,0,0,1,*", "200 PORT command successful"},
                                            {"RETR pub/file.zip", "150 Opening (12 bytes)",
                                             Send("active bytes"), "226 Done"},
                                        }),
                                 Concat(AnonymousLogin(),
                                        {
                                            {"TYPE I", "200 ok"},
                                            {"PORT 127,0,0,1,*", "200 PORT command successful"},
                                            {"RETR pub/second.bin", "150 Opening",
                                             Send("second"), "226 Done"},
                                        })));
  EXPECT_EQ(Run(peer), 0);
  EXPECT_EQ(settings::Live().passive, 0);
  EXPECT_EQ(ReadFile(Path("file.zip")), "active bytes");

  list_.ClearStatuses();
  EXPECT_EQ(Run(peer, "second.bin", "/pub/second.bin"), 0);
  EXPECT_TRUE(Matches(peer.Expected(), peer.Commands()));
  EXPECT_EQ(ReadFile(Path("second.bin")), "second");
  EXPECT_TRUE(Matches(With(kDownloadStart,
                           {"create listen socket", "requesting connection",
                            "connection status 200", "send FTP command", "status 150",
                            "Calling accept data connection", "Data socket created", "SOCKET:*",
                            "Read data channel", "receiving file", "Done"}),
                      list_.Statuses(0)));
  // Only the setting in memory changed.
  EXPECT_TRUE(store_.Writes().empty());
}

TEST_F(FtpDialogue, PortArgumentGivesAddressBytesThenPortHighAndLow) {
  const unsigned char lan[4] = {192, 168, 1, 5};
  net::Ipv4 address = 0;
  std::memcpy(&address, lan, sizeof address);
  EXPECT_EQ(ftp::PortArgument(address, 1025), "192,168,1,5,4,1");
  EXPECT_EQ(ftp::PortArgument(address, 65535), "192,168,1,5,255,255");
  EXPECT_EQ(ftp::PortArgument(address, 255), "192,168,1,5,0,255");
}

TEST_F(FtpDialogue, AutoResumeContinuesAPartialFileWithRest) {
  const std::string head = Pattern(1000, 1);
  const std::string tail = Pattern(70000, 2);
  WriteFile(Path("file.zip"), head);
  FtpPeer peer(kGreeting, Concat(AnonymousLogin(),
                                 {
                                     {"TYPE I", "200 ok"},
                                     {"PASV", "227 Entering Passive Mode ({pasv})"},
                                     {"REST 1000", "350 Restarting at 1000"},
                                     {"RETR pub/file.zip", "150 Opening (71000 bytes)", Send(tail),
                                      "226 Transfer complete"},
                                 }));
  EXPECT_EQ(Run(peer), 0);
  EXPECT_TRUE(Matches(peer.Expected(), peer.Commands()));
  EXPECT_EQ(ReadFile(Path("file.zip")), head + tail);
  EXPECT_TRUE(context_.resume);
  EXPECT_EQ(context_.resume_start, 1000u);
  EXPECT_EQ(context_.bytes_done, 71000u);
  ASSERT_FALSE(HookRecorder::Instance().Reports(0).empty());
  EXPECT_EQ(HookRecorder::Instance().Reports(0).back().bytes_done, 71000u);
  EXPECT_EQ(HookRecorder::Instance().Reports(0).back().total_size, 71000u);
}

TEST_F(FtpDialogue, NoRestWhenThereIsNothingToContinue) {
  struct Case {
    const char* name;
    const char* resume_option;
    bool file_exists;
    std::size_t file_size;
  };
  const Case cases[] = {
      {"overwrite with a partial file", "1", true, 1000},
      {"auto resume without a local file", "0", false, 0},
      {"auto resume with an empty file", "0", true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::RemoveFile(Path("file.zip"));
    if (c.file_exists) WriteFile(Path("file.zip"), std::string(c.file_size, 'A'));
    UseSetting("ResumeOption", c.resume_option);
    FtpPeer peer(kGreeting, Concat(AnonymousLogin(),
                                   {
                                       {"TYPE I", "200 ok"},
                                       {"PASV", "227 Entering Passive Mode ({pasv})"},
                                       {"RETR pub/file.zip", "150 ok", Send("fresh"), "226 ok"},
                                   }));
    EXPECT_EQ(Run(peer), 0);
    EXPECT_TRUE(Matches(peer.Expected(), peer.Commands()));
    EXPECT_EQ(ReadFile(Path("file.zip")), "fresh");
    EXPECT_FALSE(context_.resume);
    EXPECT_EQ(context_.resume_start, 0u);
  }
}

TEST_F(FtpDialogue, RefusedRestFailsTheAttemptAndKeepsThePartialFile) {
  const std::string head = Pattern(1000);
  WriteFile(Path("file.zip"), head);
  FtpPeer peer(kGreeting, Concat(AnonymousLogin(),
                                 {
                                     {"TYPE I", "200 ok"},
                                     {"PASV", "227 Entering Passive Mode ({pasv})"},
                                     {"REST 1000", "502 Command not implemented"},
                                     {"TYPE A N", "200 ok"},
                                 }));
  EXPECT_LT(Run(peer), 0);
  EXPECT_TRUE(Matches(peer.Expected(), peer.Commands()));
  EXPECT_TRUE(Matches(With(kDownloadStart, {"Failed to transfer file,Reply code:502", "FTP failed"}),
                      list_.Statuses(0)));
  EXPECT_EQ(ReadFile(Path("file.zip")), head);
}

TEST_F(FtpDialogue, RefusedRetrResetsTheTypeAndCreatesNoFile) {
  FtpPeer peer(kGreeting, Concat(AnonymousLogin(),
                                 {
                                     {"TYPE I", "200 ok"},
                                     {"PASV", "227 Entering Passive Mode ({pasv})"},
                                     {"RETR pub/file.zip", "550 No such file"},
                                     {"TYPE A N", "200 ok"},
                                 }));
  EXPECT_LT(Run(peer), 0);
  EXPECT_TRUE(Matches(peer.Expected(), peer.Commands()));
  EXPECT_TRUE(Matches(With(kDownloadStart, {"send FTP command", "status 550",
                                            "Failed to transfer file,Reply code:550", "FTP failed"}),
                      list_.Statuses(0)));
  EXPECT_FALSE(fs::FileExists(Path("file.zip")));
  EXPECT_TRUE(HookRecorder::Instance().Logs(0).empty());
}

TEST_F(FtpDialogue, AsciiFileTypeAsksForTypeAN) {
  UseSetting("Filetype", "2");
  FtpPeer peer(kGreeting, Concat(AnonymousLogin(),
                                 {
                                     {"TYPE A N", "200 ok"},
                                     {"PASV", "227 Entering Passive Mode ({pasv})"},
                                     {"RETR readme.txt", "150 ok", Send("text\r\n"), "226 ok"},
                                 }));
  EXPECT_EQ(Run(peer, "readme.txt", "/readme.txt"), 0);
  EXPECT_TRUE(Matches(peer.Expected(), peer.Commands()));
}

TEST_F(FtpDialogue, ResetDataConnectionKeepsWhatArrived) {
  const std::string part = Pattern(100000);
  peers::DataPlan cut = Send(part);
  cut.pause_ms = 300;  // the client reads everything before the reset arrives
  cut.reset = true;
  FtpPeer peer(kGreeting, Concat(AnonymousLogin(),
                                 {
                                     {"TYPE I", "200 ok"},
                                     {"PASV", "227 Entering Passive Mode ({pasv})"},
                                     {"RETR pub/file.zip", "150 Opening (500000 bytes)", cut},
                                 }));
  EXPECT_LT(Run(peer), 0);
  EXPECT_TRUE(Matches(With(kDownloadStart, {"send FTP command", "status 150", "Read data channel",
                                            "receiving file", "error:* 10054", "FTP failed"}),
                      list_.Statuses(0)));
  EXPECT_EQ(ReadFile(Path("file.zip")), part);
  EXPECT_TRUE(HookRecorder::Instance().Logs(0).empty());
}

TEST_F(FtpDialogue, ControlConnectionLostAtPasv) {
  FtpPeer peer(kGreeting,
               Concat(AnonymousLogin(), {{"TYPE I", "200 ok"}, peers::Hangup("PASV")}));
  EXPECT_LT(Run(peer), 0);
  EXPECT_TRUE(Matches(peer.Expected(), peer.Commands()));
  EXPECT_TRUE(Matches(With(kDownloadStart, {"Lost connection", "FTP failed"}), list_.Statuses(0)));
}

TEST_F(FtpDialogue, ControlConnectionLostDuringLogin) {
  FtpPeer peer(kGreeting, {peers::Hangup("USER anonymous")});
  EXPECT_EQ(Run(peer), session::kConnectionLost);
  EXPECT_TRUE(Matches({"sending user name"}, list_.Statuses(0)));
  ASSERT_EQ(boxes_.Boxes().size(), 1u);
  EXPECT_EQ(boxes_.Boxes()[0].text, "Failed to send username");
}

TEST_F(FtpDialogue, UnusablePassiveReplyFailsWithFailedConnection) {
  FtpPeer peer(kGreeting, Concat(AnonymousLogin(),
                                 {
                                     {"TYPE I", "200 ok"},
                                     {"PASV", "227 Entering Passive Mode (127,0,0,1,4)"},
                                     {"TYPE A N", "200 ok"},
                                 }));
  EXPECT_LT(Run(peer), 0);
  EXPECT_TRUE(Matches(peer.Expected(), peer.Commands()));
  EXPECT_TRUE(Matches(With(kDownloadStart, {"Failed connection", "FTP failed"}), list_.Statuses(0)));
}

TEST_F(FtpDialogue, FinalReplyDecidesTheOutcome) {
  struct Case {
    const char* name;
    std::string final_reply;
    bool succeeds;
    std::vector<std::string> ending;
  };
  const std::vector<Case> cases = {
      {"226", "226 Transfer complete", true, {"receiving file", "Done"}},
      {"451", "451 Local error in processing", false,
       {"receiving file", "Failed to transfer file,Reply code:451", "FTP failed"}},
      {"none", "", false, {"receiving file", "Lost connection", "FTP failed"}},
  };
  timeouts::Set(3000, 400, 3000);
  const std::string body = Pattern(3000);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    list_.ClearStatuses();
    HookRecorder::Instance().Clear();
    UseSetting("ResumeOption", "1");
    FtpPeer peer(kGreeting, Concat(AnonymousLogin(),
                                   {
                                       {"TYPE I", "200 ok"},
                                       {"PASV", "227 Entering Passive Mode ({pasv})"},
                                       {"RETR pub/file.zip", "150 ok", Send(body), c.final_reply},
                                   }));
    EXPECT_EQ(Run(peer) >= 0, c.succeeds);
    std::vector<std::string> statuses = list_.Statuses(0);
    ASSERT_GE(statuses.size(), c.ending.size());
    EXPECT_TRUE(Matches(c.ending, std::vector<std::string>(statuses.end() - c.ending.size(),
                                                           statuses.end())));
    // A failed download keeps its bytes for the next attempt; only a complete
    // one is logged.
    EXPECT_EQ(ReadFile(Path("file.zip")), body);
    EXPECT_EQ(HookRecorder::Instance().Logs(0).size(), c.succeeds ? 1u : 0u);
  }
}

TEST_F(FtpDialogue, BlockBoundariesEndCleanly) {
  const std::size_t sizes[] = {0, 1, session::kBlockSize - 1, session::kBlockSize,
                               session::kBlockSize + 1, 3 * session::kBlockSize};
  UseSetting("ResumeOption", "1");
  for (std::size_t size : sizes) {
    SCOPED_TRACE(size);
    HookRecorder::Instance().Clear();
    const std::string body = Pattern(size, static_cast<unsigned>(size));
    FtpPeer peer(kGreeting, Concat(AnonymousLogin(),
                                   {
                                       {"TYPE I", "200 ok"},
                                       {"PASV", "227 Entering Passive Mode ({pasv})"},
                                       {"RETR pub/file.zip", "150 ok", Send(body), "226 ok"},
                                   }));
    EXPECT_EQ(Run(peer), 0);
    EXPECT_EQ(list_.Statuses(0).back(), "Done");
    EXPECT_EQ(ReadFile(Path("file.zip")), body);
    EXPECT_EQ(HookRecorder::Instance().Logs(0), std::vector<std::uint64_t>{size});
    ASSERT_FALSE(HookRecorder::Instance().Reports(0).empty());
    EXPECT_EQ(HookRecorder::Instance().Reports(0).back().bytes_done, size);
  }
}

TEST_F(FtpDialogue, ProgressReportsAreThrottledButTheLastIsAlwaysMade) {
  const std::size_t blocks = 64;
  const std::string body = Pattern(blocks * session::kBlockSize);
  FtpPeer peer(kGreeting, Concat(AnonymousLogin(),
                                 {
                                     {"TYPE I", "200 ok"},
                                     {"PASV", "227 Entering Passive Mode ({pasv})"},
                                     {"RETR pub/file.zip", "150 ok", Send(body), "226 ok"},
                                 }));
  std::uint32_t start = clock_seam::TickCount();
  EXPECT_EQ(Run(peer), 0);
  std::uint32_t elapsed = clock_seam::TickCount() - start;
  std::vector<transfer_fixture::Report> reports = HookRecorder::Instance().Reports(0);
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back().bytes_done, body.size());
  // At most one report per interval, plus the first and the last.
  EXPECT_LE(reports.size(), elapsed / session::kReportIntervalMs + 2);
}

TEST_F(FtpDialogue, UploadStoresTheFileWithoutRest) {
  const std::string content = Pattern(150000);
  WriteFile(Path("up.bin"), content);
  context_.mode = session::kSend;
  context_.send_row = 1;
  FtpPeer peer(kGreeting, Concat(AnonymousLogin(),
                                 {
                                     {"TYPE I", "200 ok"},
                                     {"PASV", "227 Entering Passive Mode ({pasv})"},
                                     {"STOR incoming/up.bin", "150 Ok to send data", Receive(),
                                      "226 Transfer complete"},
                                 }));
  EXPECT_EQ(Run(peer, "up.bin", "/incoming/up.bin"), 0);
  EXPECT_TRUE(Matches(peer.Expected(), peer.Commands()));
  EXPECT_EQ(peer.Stored(), content);
  EXPECT_TRUE(Matches({"sending user name", "sending password", "Password sent",
                       "send FTP command", "status 150", "Read data channel", "Done"},
                      list_.Statuses(1)));
  EXPECT_TRUE(list_.Statuses(0).empty());
  EXPECT_EQ(HookRecorder::Instance().Logs(1), std::vector<std::uint64_t>{150000});
  EXPECT_EQ(context_.total_size, 150000u);
}

TEST_F(FtpDialogue, UploadRefusedAtTheEndIsNotLogged) {
  WriteFile(Path("up.bin"), "too much");
  context_.mode = session::kSend;
  FtpPeer peer(kGreeting, Concat(AnonymousLogin(),
                                 {
                                     {"TYPE I", "200 ok"},
                                     {"PASV", "227 Entering Passive Mode ({pasv})"},
                                     {"STOR up.bin", "150 Ok to send data", Receive(),
                                      "552 Quota exceeded"},
                                 }));
  EXPECT_LT(Run(peer, "up.bin", "/up.bin"), 0);
  EXPECT_EQ(peer.Stored(), "too much");
  EXPECT_EQ(list_.Statuses(0).back(), "Failed to transfer file,Reply code:552");
  EXPECT_TRUE(HookRecorder::Instance().Logs(0).empty());
}

TEST_F(FtpDialogue, ServerThatNeverConnectsInActiveMode) {
  UseSetting("Passive", "0");
  timeouts::Set(300, 3000, 3000);
  FtpPeer peer(kGreeting, Concat(AnonymousLogin(),
                                 {
                                     {"TYPE I", "200 ok"},
                                     {"PORT 127,0,0,1,*", "200 ok"},
                                     {"RETR pub/file.zip", "150 ok"},
                                     {"TYPE A N", "200 ok"},
                                 }));
  EXPECT_LT(Run(peer), 0);
  EXPECT_TRUE(Matches(peer.Expected(), peer.Commands()));
  std::vector<std::string> statuses = list_.Statuses(0);
  ASSERT_GE(statuses.size(), 3u);
  EXPECT_TRUE(Matches({"datasocket status 10060", "Data connection failed", "FTP failed"},
                      std::vector<std::string>(statuses.end() - 3, statuses.end())));
}

TEST_F(FtpDialogue, PathsThatCannotBeSentAreRefusedBeforeAnyTransfer) {
  FtpPeer peer(kGreeting, AnonymousLogin());
  EXPECT_LT(Run(peer, "file.zip", "/a\r\nDELE b"), 0);
  EXPECT_TRUE(Matches(peer.Expected(), peer.Commands()));
  EXPECT_EQ(list_.Statuses(0).back(), "FTP failed");
}

}  // namespace
