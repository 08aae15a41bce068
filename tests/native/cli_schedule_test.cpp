// parcelo receive --at and --every: the built binary waits for a clock that
// the test sets through PARCELO_CLOCK (a start time of day and a speed), runs
// the task against a loopback peer, and ends by Ctrl-C between runs.

#include <signal.h>

#include <algorithm>
#include <atomic>

#include "native/fixtures.h"
#include "peers/peers.h"

namespace {

using namespace fixtures;

// parcelo run on a thread of its own with PARCELO_HOME=home and the clock,
// while the test watches its stderr and may send it a signal.
class Background {
 public:
  Background(const std::string& home, const std::string& clock, const std::string& arguments) : home_(home) {
    // The shell records its number, which parcelo keeps as it replaces it.
    const std::string before = "PARCELO_CLOCK=" + clock + " sh -c 'echo $$ >\"$PARCELO_HOME/pid\"; exec \"$0\" \"$@\"'";
    run_ = std::thread([this, before, arguments] {
      outcome_ = Parcelo(home_, arguments, before);
      ended_ = true;
    });
  }
  ~Background() { Stop(SIGKILL); }
  // Waits (bounded) until stderr holds the text.
  bool WaitFor(const std::string& text) const {
    return Eventually([&] { return ReadFile(home_ + "/err").find(text) != std::string::npos; });
  }
  // Sends the signal (none: 0), waits for the end, killing parcelo if it
  // does not come, and returns the exit status.
  int Stop(int signal) {
    if (!run_.joinable()) return outcome_.exit_code;
    const auto send = [&](int number) {
      if (Eventually([&] { return !ReadFile(home_ + "/pid").empty(); })) kill(std::stoi(ReadFile(home_ + "/pid")), number);
    };
    if (signal != 0) send(signal);
    if (!Eventually([&] { return ended_.load(); })) send(SIGKILL);
    run_.join();
    return outcome_.exit_code;
  }

 private:
  std::string home_;
  Outcome outcome_{-1, "", ""};
  std::atomic<bool> ended_{false};
  std::thread run_;
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
      {"receive --split 17 --at 10:15", "parcelo: bad count for --split: '17' (1 to 16 connections)\n"},
      {"receive --split 0", "parcelo: bad count for --split: '0' (1 to 16 connections)\n"},
      {"receive --split", "parcelo: bad count for --split: '' (1 to 16 connections)\n"},
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
  EXPECT_EQ(0, Parcelo(home.path(), "receive --at 10:15", "PARCELO_CLOCK=10:14:58*20").exit_code);
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
  Background run(home.path(), "10:14:50*20", "receive --at 10:15 1");
  ASSERT_TRUE(run.WaitFor("next start"));
  UseTask({peer.Link("/a")});
  ASSERT_TRUE(run.WaitFor("runs nothing"));
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
  Background run(home.path(), "10:14:59*20", "receive --at 10:15 --every 1");
  ASSERT_TRUE(run.WaitFor(" 10:17\n"));
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
