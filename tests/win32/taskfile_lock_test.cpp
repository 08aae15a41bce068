// Task files under the Windows file system: two processes writing one task
// file lose no line (LockFileEx), and the program directory is recognised
// however Windows lets a download directory spell it, and a decoded name
// from a link is stored in the ANSI code page only when that holds it.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "harness.h"
#include "platform/prompts.h"
#include "tasks/taskfile.h"
#include "tasks/url.h"

namespace {

constexpr int kRounds = 40;
const char kTaskVariable[] = "PARCELO_LOCK_TEST_TASK";
const char kReadyEvent[] = "ParceloLockTestReady";
const char kGoEvent[] = "ParceloLockTestGo";

// Adds entries and rewrites line `writer` as add and a redirect would.
// Returns the number of boxes shown.
int WriteRounds(const std::string& path, int writer) {
  harness::CountingSink sink;
  prompts::SetSink(&sink);
  for (int i = 0; i < kRounds; ++i) {
    taskfile::AddLine(path, "a" + std::to_string(i) + "\r\n");
    taskfile::ReplaceEntryLine(path, writer, "r" + std::to_string(i) + "\r\n");
  }
  prompts::SetSink(nullptr);
  return sink.shown;
}

// The second process of the test below; it runs only when started by it.
TEST(TaskFileLock, DISABLED_SecondWriter) {
  char path[MAX_PATH];
  ASSERT_GT(GetEnvironmentVariableA(kTaskVariable, path, sizeof path), 0u);
  HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, kReadyEvent);
  HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, kGoEvent);
  ASSERT_TRUE(ready && go);
  SetEvent(ready);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(go, 30000));
  EXPECT_EQ(0, WriteRounds(path, 1));
  CloseHandle(ready);
  CloseHandle(go);
}

TEST(TaskFileLock, TwoProcessesLoseNoLine) {
  harness::TempProgramDir dir;
  const std::string path = dir.File("Default.rcv");
  harness::WriteFile(path, "r\r\nr\r\n");
  SetEnvironmentVariableA(kTaskVariable, path.c_str());
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, kReadyEvent);
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, kGoEvent);
  char program[MAX_PATH];
  GetModuleFileNameA(nullptr, program, sizeof program);
  std::string command = "\"" + std::string(program) +
                        "\" --gtest_also_run_disabled_tests --gtest_filter=TaskFileLock.DISABLED_SecondWriter";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child = {};
  ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &child));
  // Both start writing together, so that their rewrites overlap.
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready, 60000));
  SetEvent(go);
  EXPECT_EQ(0, WriteRounds(path, 0));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.hProcess, 60000));
  DWORD exit_code = 1;
  GetExitCodeProcess(child.hProcess, &exit_code);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  CloseHandle(ready);
  CloseHandle(go);
  EXPECT_EQ(0u, exit_code);

  std::vector<std::string> lines;
  EXPECT_EQ(2 + 2 * kRounds, taskfile::ReadLines(path, &lines));
  lines.resize(2);
  EXPECT_EQ(std::vector<std::string>(2, "r" + std::to_string(kRounds - 1)), lines);
}

// The spellings only Windows has (the forms both systems share are the native
// own-files tests'): another case, slashes, the short form, the current directory.
TEST(OwnFileNames, RefusedInTheProgramDirectoryHoweverItIsSpelt) {
  harness::TempProgramDir dir;
  const std::string program = dir.path();
  std::string upper = program, slashes = program;
  CharUpperBuffA(&upper[0], static_cast<DWORD>(upper.size()));
  std::replace(slashes.begin(), slashes.end(), '\\', '/');
  char short_form[MAX_PATH] = "";
  GetShortPathNameA(program.c_str(), short_form, sizeof short_form);
  for (const std::string& download : {upper, slashes + "/", std::string(short_form), std::string(".")}) {
    EXPECT_EQ("Reserved file name in link: DEFAULT.RCV",
              url::RefusedLocalNameReason(download, program, "/x/DEFAULT.RCV")) << download;
  }
  EXPECT_EQ("", url::RefusedLocalNameReason(dir.File("None"), program, "/x/Default.rcv"));
}

TEST(LocalNames, DecodedIntoTheAnsiCodePageOnlyWhenItHoldsEveryCharacter) {
  if (GetACP() != 1252) GTEST_SKIP() << "code page " << GetACP();
  EXPECT_EQ("r\xE9sum\xE9.pdf", url::LocalNameOf("/r%C3%A9sum%C3%A9.pdf"));
  EXPECT_EQ("%E6%97%A5.txt", url::LocalNameOf("/%E6%97%A5.txt"));
  // U+2215 has a best fit of '/' in code page 1252.
  EXPECT_EQ("a%E2%88%95b", url::LocalNameOf("/a%E2%88%95b"));
}

}  // namespace
