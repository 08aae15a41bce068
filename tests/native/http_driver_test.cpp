// One real HTTP transfer attempt driven from the environment, for the scripts
// that run real servers on loopback (tests/servers). Skipped unless
// PARCELO_HTTP_URL is set. The entry is set up as the job would: its task line
// in a task file, its row in the list, the parameters from the parsed link.
//   PARCELO_HTTP_URL       the entry's link (stored form)
//   PARCELO_HTTP_LOCAL     local file
//   PARCELO_HTTP_MODE      receive | send
//   PARCELO_HTTP_RESUME    0 (Auto Resume) | 1 (Overwrite)
//   PARCELO_HTTP_PROXY     host:port of a proxy for both schemes (Firewall 1)
//   PARCELO_HTTP_DOWNLOAD  download directory (for redirects)
//   PARCELO_HTTP_EXPECT    done | redirect | fail
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

std::string Env(const char* name, const char* fallback = "") {
  const char* value = getenv(name);
  return value ? value : fallback;
}

class HttpDriver : public transfer_fixture::TransferTest {};

TEST_F(HttpDriver, RunsOneAttemptFromTheEnvironment) {
  const std::string link = Env("PARCELO_HTTP_URL");
  if (link.empty()) GTEST_SKIP() << "driver mode only";
  timeouts::Set(10000, 30000, 30000);
  UseSetting("ResumeOption", Env("PARCELO_HTTP_RESUME", "0"));
  UseSetting("DOWNLOAD", Env("PARCELO_HTTP_DOWNLOAD", dir_.c_str()));
  const std::string proxy = Env("PARCELO_HTTP_PROXY");
  session::AttemptParams params;
  if (!proxy.empty()) {
    UseSetting("Firewall", "1");
    std::string host = proxy.substr(0, proxy.find(':'));
    auto port = static_cast<std::uint32_t>(std::strtoul(proxy.substr(host.size() + 1).c_str(),
                                                        nullptr, 10));
    params.http_proxy_host = params.ftp_proxy_host = host;
    params.http_proxy_port = params.ftp_proxy_port = port;
  }

  url::Record record;
  std::string display;
  std::string stored;
  ASSERT_EQ(url::Parse(link, &record, &display, &stored), 0) << link;
  if (proxy.empty()) {
    ASSERT_EQ(url::PercentDecode(&record.host), 0);
    ASSERT_EQ(url::PercentDecode(&record.user), 0);
    ASSERT_EQ(url::PercentDecode(&record.password), 0);
  }
  ASSERT_EQ(url::PercentDecode(&record.path), 0);
  params.user = record.user;
  params.password = record.password;
  params.host = record.host;
  params.port = record.port;
  params.protocol = record.protocol;
  params.remote_path = record.path;
  params.local_file = Env("PARCELO_HTTP_LOCAL");

  const bool send = Env("PARCELO_HTTP_MODE") == "send";
  const std::string task = Path(send ? "Default.snd" : "Default.rcv");
  transfer_fixture::WriteFile(task, "12/07/26 10:00\t" + params.local_file +
                                        "\tAwaiting_command\t" + stored);
  app::SetCurrentTaskPath(task);
  list_.SetCell(0, tasklist::kLocalFile, params.local_file);
  list_.SetCell(0, tasklist::kUrl, display);
  context_.task_path = task;
  context_.mode = send ? session::kSend : session::kReceive;
  context_.host_name = record.host;

  int result = session::RunAttempt(context_, params);
  for (const std::string& status : list_.Statuses(0)) std::printf("status: %s\n", status.c_str());
  std::printf("result: %d\n", result);
  std::printf("taskline: %s\n", taskfile::ReadEntryLine(task, 0).c_str());
  for (const transfer_fixture::Box& box : boxes_.Boxes()) {
    std::printf("box: %s: %s\n", box.caption.c_str(), box.text.c_str());
  }

  const std::string expect = Env("PARCELO_HTTP_EXPECT", "done");
  if (expect == "redirect") {
    EXPECT_EQ(result, session::kRedirected);
  } else if (expect == "fail") {
    EXPECT_LT(result, 0);
  } else {
    EXPECT_EQ(result, 0);
    ASSERT_FALSE(list_.Statuses(0).empty());
    EXPECT_EQ(list_.Statuses(0).back(), "Done");
  }
}

}  // namespace
