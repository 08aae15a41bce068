// Real transfer attempts configured by the environment, for the scripts that
// run real servers on loopback (tests/servers); skipped otherwise. Each prints
// the status texts.
//
// FTP: PARCELO_DRIVE_ + HOST, PORT, USER and PASSWORD (empty: anonymous),
// REMOTE (with its leading '/'), LOCAL, MODE (receive | send), PASSIVE (1 | 0),
// RESUME (0 Auto Resume | 1 Overwrite), SPLIT (connections; set: SplitMin
// 64 KiB, so a file of a few MiB is split). Passes when the attempt ends with the
// status EXPECT (default "Done").
//
// HTTP: the entry is set up as the job would: its task line in a task file, its
// row in the list, the parameters from the parsed link; the download directory
// (where a redirect points) is the local file's. Also prints the result and the
// entry's task line afterwards.
//   PARCELO_HTTP_URL     the entry's link (stored form)
//   PARCELO_HTTP_LOCAL   local file
//   PARCELO_HTTP_SEND    1: upload the local file instead of downloading
//   PARCELO_HTTP_PROXY   host:port of a proxy for both schemes (Firewall 1)
//   PARCELO_HTTP_EXPECT  the attempt's result: 0 done, 2 redirected, -1 failed,
//                        -17 failed for good (a refused certificate)
//   PARCELO_HTTP_DATA_MS the data time-out (default 30000)
#include <cstdio>

#include "engine/split_download.h"
#include "native/fixtures.h"
#include "tasks/taskfile.h"

namespace {

using namespace fixtures;

std::string Env(const std::string& name, const char* fallback = "") {
  const char* value = getenv(name.c_str());
  return value ? value : fallback;
}

class Driver : public TransferTest {
 protected:
  void PrintStatuses() {
    for (const std::string& status : list_.Statuses(0)) std::printf("status: %s\n", status.c_str());
  }
};
using FtpDriver = Driver;
using HttpDriver = Driver;

TEST_F(FtpDriver, RunsOneAttemptFromTheEnvironment) {
  const auto drive = [](const char* name, const char* fallback = "") {
    return Env(std::string("PARCELO_DRIVE_") + name, fallback);
  };
  if (drive("HOST").empty()) GTEST_SKIP() << "driver mode only";
  timeouts::Set(10000, 10000, 10000);
  UseSetting("Passive", drive("PASSIVE", "1"));
  UseSetting("ResumeOption", drive("RESUME", "0"));
  if (!drive("SPLIT").empty()) {
    UseSetting("Split", drive("SPLIT"));
    UseSetting("SplitMin", "65536");
    split::SetWorthSplittingMs(0);  // a loopback file is too quick to be split otherwise
  }
  session::AttemptParams params = Params(std::stoi(drive("PORT", "21")), drive("REMOTE"), "");
  params.host = drive("HOST");
  params.user = drive("USER");
  params.password = drive("PASSWORD");
  params.local_file = drive("LOCAL");
  context_.mode = drive("MODE") == "send" ? session::kSend : session::kReceive;
  std::printf("result: %d\n", session::RunAttempt(context_, params));
  PrintStatuses();
  EXPECT_EQ(list_.Statuses(0).empty() ? "" : list_.Statuses(0).back(), drive("EXPECT", "Done"));
}

TEST_F(HttpDriver, RunsOneAttemptFromTheEnvironment) {
  const std::string link = Env("PARCELO_HTTP_URL"), local = Env("PARCELO_HTTP_LOCAL");
  const std::string proxy = Env("PARCELO_HTTP_PROXY");
  if (link.empty()) GTEST_SKIP() << "driver mode only";
  timeouts::Set(10000, 30000, std::stoi(Env("PARCELO_HTTP_DATA_MS", "30000")));
  UseSetting("DOWNLOAD", local.substr(0, local.rfind('/')));
  session::AttemptParams params;
  if (!proxy.empty()) {
    UseSetting("Firewall", "1");
    params.http_proxy_host = params.ftp_proxy_host = proxy.substr(0, proxy.find(':'));
    params.http_proxy_port = params.ftp_proxy_port = std::stoul(proxy.substr(proxy.find(':') + 1));
  }
  url::Record record;
  std::string display, stored;
  ASSERT_EQ(url::Parse(link, &record, &display, &stored), 0) << link;
  for (std::string* part : {&record.host, &record.user, &record.password, &record.path}) {
    ASSERT_EQ(url::PercentDecode(part), 0);
  }
  params.user = record.user;
  params.password = record.password;
  params.host = record.host;
  params.port = record.port;
  params.protocol = record.protocol;
  params.remote_path = record.path;
  params.local_file = local;

  const bool send = Env("PARCELO_HTTP_SEND") == "1";
  const std::string task = UseTaskFile(send ? "Default.snd" : "Default.rcv", record.host);
  const std::string line = "12/07/26 10:00\t" + local + "\tAwaiting_command\t" + stored;
  WriteFile(task, line);
  list_.SetCell(0, tasklist::kUrl, display);
  context_.start_line = line.substr(0, line.find_first_of("\r\n"));
  context_.entry_url = display;
  context_.mode = send ? session::kSend : session::kReceive;
  const int result = session::RunAttempt(context_, params);
  PrintStatuses();
  std::printf("result: %d\ntaskline: %s\n", result, taskfile::ReadEntryLine(task, 0).c_str());
  EXPECT_EQ(result, std::stoi(Env("PARCELO_HTTP_EXPECT")));
}

}  // namespace
