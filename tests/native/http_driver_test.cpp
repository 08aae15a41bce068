// One real HTTP transfer attempt driven from the environment, for the scripts
// that run real servers on loopback (tests/servers). Skipped unless
// PARCELO_HTTP_URL is set. The entry is set up as the job would: its task line
// in a task file, its row in the list, the parameters from the parsed link;
// the download directory (where a redirect points) is the local file's.
//   PARCELO_HTTP_URL     the entry's link (stored form)
//   PARCELO_HTTP_LOCAL   local file
//   PARCELO_HTTP_SEND    1: upload the local file instead of downloading
//   PARCELO_HTTP_PROXY   host:port of a proxy for both schemes (Firewall 1)
//   PARCELO_HTTP_EXPECT  the attempt's result: 0 done, 2 redirected, -1 failed
// Prints the status texts, the result and the entry's task line afterwards.
#include <stdlib.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "engine/session.h"
#include "engine/url.h"
#include "tasks/taskfile.h"
#include "transfer_fixture.h"

namespace {

std::string Env(const char* name) { return getenv(name) ? getenv(name) : ""; }

class HttpDriver : public transfer_fixture::TransferTest {};

TEST_F(HttpDriver, RunsOneAttemptFromTheEnvironment) {
  const std::string link = Env("PARCELO_HTTP_URL"), local = Env("PARCELO_HTTP_LOCAL");
  const std::string proxy = Env("PARCELO_HTTP_PROXY");
  if (link.empty()) GTEST_SKIP() << "driver mode only";
  timeouts::Set(10000, 30000, 30000);
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
  const std::string task = Path(send ? "Default.snd" : "Default.rcv");
  transfer_fixture::WriteFile(task, "12/07/26 10:00\t" + local + "\tAwaiting_command\t" + stored);
  app::SetCurrentTaskPath(task);
  list_.SetCell(0, tasklist::kUrl, display);
  context_.task_path = task;
  context_.mode = send ? session::kSend : session::kReceive;
  context_.host_name = record.host;

  const int result = session::RunAttempt(context_, params);
  for (const std::string& status : list_.Statuses(0)) std::printf("status: %s\n", status.c_str());
  std::printf("result: %d\ntaskline: %s\n", result, taskfile::ReadEntryLine(task, 0).c_str());
  EXPECT_EQ(result, std::stoi(Env("PARCELO_HTTP_EXPECT")));
}

}  // namespace
