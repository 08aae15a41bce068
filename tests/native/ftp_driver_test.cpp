// One real transfer attempt configured by the environment, for the scripts
// that run real FTP servers on loopback (tests/servers); skipped otherwise.
// PARCELO_DRIVE_ + HOST, PORT, USER and PASSWORD (empty: anonymous), REMOTE
// (with its leading '/'), LOCAL, MODE (receive | send), PASSIVE (1 | 0),
// RESUME (0 Auto Resume | 1 Overwrite). Prints the status texts; passes when
// the attempt ends with "Done".
#include <stdlib.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "transfer_fixture.h"

namespace {

std::string Env(const std::string& name, const char* fallback = "") {
  const char* value = getenv(("PARCELO_DRIVE_" + name).c_str());
  return value ? value : fallback;
}

class FtpDriver : public transfer_fixture::TransferTest {};

TEST_F(FtpDriver, RunsOneAttemptFromTheEnvironment) {
  if (Env("HOST").empty()) GTEST_SKIP() << "driver mode only";
  timeouts::Set(10000, 10000, 10000);
  UseSetting("Passive", Env("PASSIVE", "1"));
  UseSetting("ResumeOption", Env("RESUME", "0"));
  session::AttemptParams params = Params(std::stoi(Env("PORT", "21")), Env("REMOTE"), "");
  params.host = Env("HOST");
  params.user = Env("USER");
  params.password = Env("PASSWORD");
  params.local_file = Env("LOCAL");
  context_.mode = Env("MODE") == "send" ? session::kSend : session::kReceive;
  std::printf("result: %d\n", session::RunAttempt(context_, params));
  for (const std::string& status : list_.Statuses(0)) std::printf("status: %s\n", status.c_str());
  EXPECT_EQ(list_.Statuses(0).empty() ? "" : list_.Statuses(0).back(), "Done");
}

}  // namespace
