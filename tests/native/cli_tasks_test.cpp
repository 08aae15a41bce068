// Runs the built parcelo binary (next to this test binary) on a fresh
// program directory and checks its output, exit codes and task files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "task_fixtures.h"
#include "tasks/taskfile.h"

extern char** environ;

namespace {

using task_fixtures::Exists;
using task_fixtures::ReadFile;
using task_fixtures::ScratchDir;

std::string ParceloBinary() {
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return std::string();
  std::string path(self, static_cast<std::size_t>(n));
  return path.substr(0, path.rfind('/')) + "/parcelo";
}

struct Outcome {
  int exit_code = -1;
  std::string out, err;
};

// Runs parcelo with arguments and PARCELO_HOME=home, in directory cwd.
Outcome RunParcelo(const ScratchDir& scratch, const std::string& home, std::vector<std::string> arguments,
            const std::string& cwd = "/") {
  const std::string binary = ParceloBinary();
  const std::string out_path = scratch.Join("stdout"), err_path = scratch.Join("stderr");
  std::vector<std::string> environment;
  for (char** e = environ; *e; ++e) {
    if (std::string(*e).rfind("PARCELO_HOME=", 0) != 0) environment.push_back(*e);
  }
  environment.push_back("PARCELO_HOME=" + home);
  std::vector<char*> argv{const_cast<char*>(binary.c_str())}, envp;
  for (std::string& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (std::string& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);

  const pid_t child = fork();
  if (child == 0) {
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || chdir(cwd.c_str()) != 0) _exit(126);
    dup2(out, 1);
    dup2(err, 2);
    execve(binary.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  Outcome outcome;
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    outcome.exit_code = WEXITSTATUS(status);
  }
  outcome.out = ReadFile(out_path);
  outcome.err = ReadFile(err_path);
  return outcome;
}

std::vector<std::vector<std::string>> Table(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> cells;
    std::size_t start = 0, tab;
    while ((tab = line.find('\t', start)) != std::string::npos) {
      cells.push_back(line.substr(start, tab - start));
      start = tab + 1;
    }
    cells.push_back(line.substr(start));
    rows.push_back(cells);
  }
  return rows;
}

class CliTasks : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Exists(ParceloBinary())) << ParceloBinary();
    home_ = scratch_.Join("fresh/home");  // created by parcelo
  }
  Outcome Parcelo(std::vector<std::string> arguments, const std::string& cwd = "/") {
    return RunParcelo(scratch_, home_, std::move(arguments), cwd);
  }

  ScratchDir scratch_;
  std::string home_;
};

TEST_F(CliTasks, AddReportsBadLinksAndAddsTheRest) {
  const Outcome added = Parcelo({"add", "http://h/dir/a.zip", "http://h", "ftp://joe:secret@h/b.gz"});
  EXPECT_EQ(2, added.exit_code);
  EXPECT_EQ("Bad link: http://h\n", added.err);
  EXPECT_EQ("", added.out);

  const std::string task = home_ + "/Default.rcv";
  const std::string content = ReadFile(task);
  EXPECT_TRUE(std::regex_match(
      content, std::regex("\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d\t" + home_ +
                          "/a\\.zip\tAwaiting_command\thttp://h/dir/a\\.zip\r\n"
                          "\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d\t" +
                          home_ + "/b\\.gz\tAwaiting_command\tftp://joe:secret@h/b\\.gz\r\n")))
      << content;

  const Outcome listed = Parcelo({"list"});
  EXPECT_EQ(0, listed.exit_code);
  const auto rows = Table(listed.out);
  ASSERT_EQ(2u, rows.size());
  const std::vector<std::string> first{"0", home_ + "/a.zip", "http://h/dir/a.zip",
                                       "Awaiting command", content.substr(0, 14)};
  EXPECT_EQ(first, rows[0]);
  EXPECT_EQ("ftp://joe:******@h/b.gz", rows[1].at(2));
}

TEST_F(CliTasks, AddRefusesUnsafeNamesWithTheEngineMessage) {
  const Outcome added = Parcelo({"add", "http://h/..", "http://h/ok"});
  EXPECT_EQ(2, added.exit_code);
  EXPECT_EQ("Error: Unsafe file name in link: ..\n", added.err);
  EXPECT_EQ(1u, Table(Parcelo({"list"}).out).size());
}

TEST_F(CliTasks, DeleteRemovesTheGivenRows) {
  ASSERT_EQ(0, Parcelo({"add", "http://h/e0", "http://h/e1", "http://h/e2", "http://h/e3",
                        "http://h/e4"})
                   .exit_code);
  EXPECT_EQ(0, Parcelo({"delete", "4", "1", "2", "1"}).exit_code);
  const auto rows = Table(Parcelo({"list"}).out);
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ("0", rows[0][0]);
  EXPECT_EQ("http://h/e0", rows[0][2]);
  EXPECT_EQ("1", rows[1][0]);
  EXPECT_EQ("http://h/e3", rows[1][2]);
  std::vector<std::string> lines;
  EXPECT_EQ(2, taskfile::ReadLines(home_ + "/Default.rcv", &lines));
}

TEST_F(CliTasks, DeleteWithABadRowDeletesNothing) {
  ASSERT_EQ(0, Parcelo({"add", "http://h/e0", "http://h/e1"}).exit_code);
  const std::string before = ReadFile(home_ + "/Default.rcv");
  for (const char* bad : {"2", "-1", "x", "1x", ""}) {
    SCOPED_TRACE(bad);
    const Outcome deleted = Parcelo({"delete", "0", bad});
    EXPECT_EQ(2, deleted.exit_code);
    EXPECT_EQ(std::string("Bad row number: ") + bad + "\n", deleted.err);
  }
  EXPECT_EQ(before, ReadFile(home_ + "/Default.rcv"));
}

TEST_F(CliTasks, TaskOptionPicksTheFile) {
  const std::string work = scratch_.Join("Work.rcv");
  EXPECT_EQ(0, Parcelo({"--task", "Work.rcv", "add", "http://h/w.zip"}, scratch_.path()).exit_code);
  ASSERT_TRUE(Exists(work));
  EXPECT_FALSE(Exists(home_ + "/Default.rcv"));
  const auto rows = Table(Parcelo({"--task=" + work, "list"}).out);
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ(home_ + "/w.zip", rows[0][1]);  // DOWNLOAD is still the program directory

  const Outcome upload = Parcelo({"--task", scratch_.Join("Up.snd"), "add", "ftp://h/x"});
  EXPECT_EQ(2, upload.exit_code);
  EXPECT_FALSE(Exists(scratch_.Join("Up.snd")));
}

TEST_F(CliTasks, HelpAndUsageErrors) {
  const Outcome help = Parcelo({"--help"});
  EXPECT_EQ(0, help.exit_code);
  for (const char* word : {"add URL", "list", "delete ROW", "--task FILE", "PARCELO_HOME"}) {
    EXPECT_NE(std::string::npos, help.out.find(word)) << word;
  }
  EXPECT_EQ(2, Parcelo({}).exit_code);
  EXPECT_EQ(2, Parcelo({"fetch"}).exit_code);
  EXPECT_EQ(2, Parcelo({"--bogus", "list"}).exit_code);
  EXPECT_EQ(2, Parcelo({"add"}).exit_code);
  EXPECT_EQ(2, Parcelo({"--task"}).exit_code);
}

TEST_F(CliTasks, ListOfAFreshHomeIsEmptyAndCreatesOnlyTheDirectory) {
  const Outcome listed = Parcelo({"list"});
  EXPECT_EQ(0, listed.exit_code);
  EXPECT_EQ("", listed.out);
  EXPECT_TRUE(Exists(home_));
  EXPECT_FALSE(Exists(home_ + "/Default.rcv"));
}

}  // namespace
