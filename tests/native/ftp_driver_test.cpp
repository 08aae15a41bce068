// One real transfer attempt driven from the environment, for the scripts that
// run real FTP servers on loopback (tests/servers). Skipped unless
// PARCELO_DRIVE_HOST is set. Variables:
//   PARCELO_DRIVE_HOST, PARCELO_DRIVE_PORT   server
//   PARCELO_DRIVE_USER, PARCELO_DRIVE_PASSWORD  (empty: anonymous)
//   PARCELO_DRIVE_REMOTE  remote path, with its leading '/'
//   PARCELO_DRIVE_LOCAL   local file
//   PARCELO_DRIVE_MODE    receive | send
//   PARCELO_DRIVE_PASSIVE 1 | 0;  PARCELO_DRIVE_RESUME  0 (Auto Resume) | 1 (Overwrite)
// Prints the status texts; passes when the attempt ends with "Done".
#include <stdlib.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "engine/session.h"
#include "engine/url.h"
#include "transfer_fixture.h"

namespace {

std::string Env(const char* name, const char* fallback = "") {
  const char* value = getenv(name);
  return value ? value : fallback;
}

class FtpDriver : public transfer_fixture::TransferTest {};

TEST_F(FtpDriver, RunsOneAttemptFromTheEnvironment) {
  if (Env("PARCELO_DRIVE_HOST").empty()) GTEST_SKIP() << "driver mode only";
  timeouts::Set(10000, 10000, 10000);
  UseSetting("Passive", Env("PARCELO_DRIVE_PASSIVE", "1"));
  UseSetting("ResumeOption", Env("PARCELO_DRIVE_RESUME", "0"));
  UseSetting("email", "driver@example.org");

  session::AttemptParams params;
  params.host = Env("PARCELO_DRIVE_HOST");
  params.port = static_cast<std::uint32_t>(std::strtoul(Env("PARCELO_DRIVE_PORT", "21").c_str(),
                                                        nullptr, 10));
  params.user = Env("PARCELO_DRIVE_USER");
  params.password = Env("PARCELO_DRIVE_PASSWORD");
  params.remote_path = Env("PARCELO_DRIVE_REMOTE");
  params.local_file = Env("PARCELO_DRIVE_LOCAL");
  params.protocol = url::kFtp;
  context_.mode = Env("PARCELO_DRIVE_MODE") == "send" ? session::kSend : session::kReceive;

  int result = session::RunAttempt(context_, params);
  for (const std::string& status : list_.Statuses(0)) std::printf("status: %s\n", status.c_str());
  std::printf("result: %d\n", result);
  EXPECT_GE(result, 0);
  ASSERT_FALSE(list_.Statuses(0).empty());
  EXPECT_EQ(list_.Statuses(0).back(), "Done");
}

}  // namespace
