// parcelo receive --at and --every: the built binary waits for a clock that
// the test sets through PARCELO_CLOCK (a start time of day and a speed), runs
// the task against a loopback peer, and ends by Ctrl-C between runs.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "native/fixtures.h"
#include "peers/peers.h"

extern char** environ;

namespace {

using namespace fixtures;

// parcelo started in the background with PARCELO_HOME=home and the clock;
// stdout and stderr go to files in home.
class Background {
 public:
  Background(const std::string& home, const std::string& clock, const Texts& arguments) : home_(home) {
    const std::string binary = std::filesystem::read_symlink("/proc/self/exe").replace_filename("parcelo");
    Texts words = {binary};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    Texts settings = {"PARCELO_HOME=" + home, "PARCELO_CLOCK=" + clock};
    std::vector<char*> envp;
    for (std::string& entry : settings) envp.push_back(entry.data());
    for (char** e = environ; *e; ++e) {
      if (std::strncmp(*e, "PARCELO_", 8) != 0) envp.push_back(*e);
    }
    envp.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, (home + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&files, 2, (home + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&pid_, binary.c_str(), &files, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&files);
  }
  ~Background() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  // Waits (bounded) until the file ("out" or "err") holds the text.
  bool WaitFor(const std::string& file, const std::string& text) const {
    for (int i = 0; i < 1000; ++i) {
      if (ReadFile(home_ + "/" + file).find(text) != std::string::npos) return true;
      usleep(10000);
    }
    return false;
  }
  // Sends the signal and returns the exit status (-1 when killed by a signal).
  int Stop(int signal) {
    kill(pid_, signal);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  std::string home_;
  pid_t pid_ = -1;
};

class CliSchedule : public ::testing::Test {
 protected:
  void UseTask(const Texts& links) { WriteFile(home.Join("Default.rcv"), TaskLines(links, home.path())); }
  static std::string Ok(const std::string& body) {
    return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  }
  ScratchDir home;
};

TEST_F(CliSchedule, BadTimesAndRepeatsAreRefusedBeforeAnyWait) {
  UseTask({"http://127.0.0.1:9/f"});
  const struct { const char* arguments; const char* error; } cases[] = {
      {"receive --at 24:00", "parcelo: bad time for --at: '24:00' (HH:MM, from 00:00 to 23:59)\n"},
      {"receive --at 12.30", "parcelo: bad time for --at: '12.30' (HH:MM, from 00:00 to 23:59)\n"},
      {"receive --at 12:30xyz", "parcelo: bad time for --at: '12:30xyz' (HH:MM, from 00:00 to 23:59)\n"},
      {"receive --at 12:30:45", "parcelo: bad time for --at: '12:30:45' (HH:MM, from 00:00 to 23:59)\n"},
      {"receive --at 10:15 --every -5", "parcelo: bad repeat for --every: '-5' (minutes, 0 or more)\n"},
      {"receive --at 10:15 --every x", "parcelo: bad repeat for --every: 'x' (minutes, 0 or more)\n"},
      {"receive --every 5", "parcelo: --every needs --at\n"},
      {"send --at", "parcelo: --at needs a value\n"},
      {"receive --at 10:15 7", "Bad row number: 7\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const Outcome outcome = Parcelo(home.path(), c.arguments, "timeout 10");  // an accepted time would wait
    EXPECT_EQ(2, outcome.exit_code);
    EXPECT_EQ(c.error, outcome.err);
    EXPECT_EQ("", outcome.out);
  }
  WriteFile(home.Join("Default.rcv"), "");
  const Outcome empty = Parcelo(home.path(), "receive --at 10:15");
  EXPECT_EQ(2, empty.exit_code);
  EXPECT_EQ("parcelo: " + home.Join("Default.rcv") + " has no entry to schedule\n", empty.err);
}

TEST_F(CliSchedule, AtWaitsForTheTimeRunsOnceAndExitsByTheOutcome) {
  peers::HttpPeer peer({{Ok("hello")}});
  UseTask({peer.Link("/a")});
  // Two seconds before the time, at twenty times the speed.
  Background run(home.path(), "10:14:58*20", {"receive", "--at", "10:15"});
  ASSERT_TRUE(run.WaitFor("out", "\n"));
  EXPECT_EQ(0, run.Stop(0));
  EXPECT_EQ("0\tDone\tTotalbyte 5 / 5\t\t0\n", ReadFile(home.Join("out")));
  const std::string err = ReadFile(home.Join("err"));
  EXPECT_EQ(1, std::count(err.begin(), err.end(), '\n')) << err;
  EXPECT_NE(std::string::npos, err.find("parcelo: next start at ")) << err;
  EXPECT_NE(std::string::npos, err.find(" 10:15\n")) << err;
  EXPECT_EQ("hello", ReadFile(home.Join("a0")));
}

// The chosen row is gone by the time of the start: nothing runs, rather
// than every row.
TEST_F(CliSchedule, AStartWhoseChosenRowNoLongerExistsRunsNothing) {
  peers::HttpPeer peer({{Ok("hello")}});
  UseTask({peer.Link("/a"), peer.Link("/b")});
  Background run(home.path(), "10:14:50*20", {"receive", "--at", "10:15", "1"});
  ASSERT_TRUE(run.WaitFor("err", "next start"));
  UseTask({peer.Link("/a")});
  ASSERT_TRUE(run.WaitFor("err", "runs nothing"));
  EXPECT_EQ(2, run.Stop(0));
  EXPECT_TRUE(peer.Requests().empty());
  EXPECT_EQ("", ReadFile(home.Join("out")));
  EXPECT_NE(std::string::npos, ReadFile(home.Join("err")).find("Bad row number: 1\n"));
}

TEST_F(CliSchedule, EveryRunsAgainAtEachStartUntilCtrlC) {
  peers::HttpPeer peer({{Ok("first")}, {Ok("again")}});
  UseTask({peer.Link("/a")});
  // A minute of the clock passes in three seconds: time enough to stop it
  // before the third start.
  Background run(home.path(), "10:14:59*20", {"receive", "--at", "10:15", "--every", "1"});
  ASSERT_TRUE(run.WaitFor("err", " 10:17\n"));
  EXPECT_EQ(130, run.Stop(SIGINT));
  EXPECT_EQ(2u, peer.Requests().size());
  const std::string done = "0\tDone\tTotalbyte 5 / 5\t\t0\n";
  EXPECT_EQ(done + done, ReadFile(home.Join("out")));
  EXPECT_EQ("again", ReadFile(home.Join("a0")));
  const std::string err = ReadFile(home.Join("err"));
  for (const char* start : {" 10:15\n", " 10:16\n", " 10:17\n", " 10:17 is cancelled\n"}) {
    EXPECT_NE(std::string::npos, err.find(start)) << start << " in " << err;
  }
}

}  // namespace
