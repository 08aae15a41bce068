// Runs the built parcelo binary on a scratch program directory and checks its
// output, exit codes and task file; and receive --at and --every, waiting for
// a clock that the test sets through PARCELO_CLOCK (a start time of day and a
// speed), ended by Ctrl-C between runs.

#include <sys/stat.h>

#include <algorithm>
#include <future>

#include "native/fixtures.h"
#include "peers/peers.h"

namespace {

using namespace fixtures;

// parcelo run on a scratch program directory.
struct CliTasks : ::testing::Test {
  Outcome parcelo(const std::string& arguments) { return Parcelo(home.path(), arguments); }
  void UseTask(const Texts& links) { WriteFile(home.Join("Default.rcv"), TaskLines(links, home.path())); }
  static std::string Ok(const std::string& body) {
    return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  }
  ScratchDir home;
};
using CliSchedule = CliTasks;

TEST_F(CliTasks, AddListAndDeleteEntries) {
  // DOWNLOAD comes from settings.ini in the program directory.
  const std::string down = home.Join("down");
  WriteFile(home.Join("settings.ini"), "DOWNLOAD=" + down + "\n");
  // Links whose stored form would read back as other links are bad too.
  EXPECT_EQ((Outcome{2, "", "Bad link: http://:secret@h/f\n"}),
            parcelo("add http://h/dir/a.zip http://:secret@h/f ftp://joe:secret@h/b.gz"));
  const std::string content = ReadFile(home.Join("Default.rcv"));
  const std::string first = content.substr(0, 14), second = content.substr(content.find('\n') + 1, 14);
  EXPECT_EQ(first + "\t" + down + "/a.zip\tAwaiting_command\thttp://h/dir/a.zip\r\n" + second + "\t" + down +
                "/b.gz\tAwaiting_command\tftp://joe:secret@h/b.gz\r\n", content);
  const std::string second_row = down + "/b.gz\tftp://joe:******@h/b.gz\tAwaiting command\t" + second + "\n";
  EXPECT_EQ("0\t" + down + "/a.zip\thttp://h/dir/a.zip\tAwaiting command\t" + first + "\n1\t" + second_row,
            parcelo("list").out);

  // A bad row number deletes nothing; a row given twice is deleted once.
  EXPECT_EQ((Outcome{2, "", "Bad row number: 2\n"}), parcelo("delete 0 2"));
  EXPECT_EQ(0, parcelo("delete 0 0").exit_code);
  EXPECT_EQ("0\t" + second_row, parcelo("list").out);

  // Another entry of a local file is added, with a warning: the two cannot run at once.
  EXPECT_EQ((Outcome{0, "", "parcelo: warning: row 0 already downloads into " + down + "/b.gz\n"}),
            parcelo("add http://mirror/b.gz"));
}

// Upload links carry the file names percent-encoded, since the walk decodes
// them: a '%' in a name neither stops the walk nor names another file.
TEST_F(CliTasks, AddSendEncodesTheNamesThatTheWalkDecodes) {
  const std::string fifty = home.Join("50%off.bin"), twenty = home.Join("a%20b");
  WriteFile(fifty, "half price");
  WriteFile(twenty, "not a blank");
  const std::string created = "HTTP/1.0 201 Created\r\n\r\n";
  peers::HttpPeer peer({{created}, {created}});
  ASSERT_EQ(0, parcelo("add --send --to " + peer.Link("/in") + " " + fifty + " " + twenty).exit_code);
  const Texts links = {peer.Link("/in/50%25off.bin"), peer.Link("/in/a%2520b")};
  const std::string list = parcelo("--task " + home.Join("Default.snd") + " list").out;
  EXPECT_TRUE(Glob("0\t" + fifty + "\t" + links[0] + "\t*\n1\t" + twenty + "\t" + links[1] + "\t*\n", list)) << list;

  const Outcome sent = parcelo("send");
  EXPECT_EQ(0, sent.exit_code) << sent.out;
  Texts requests = peer.Requests();
  std::sort(requests.begin(), requests.end());
  EXPECT_TRUE(Matches({"PUT /in/50%25off.bin HTTP/1.0\r\n*\r\n\r\nhalf price",
                       "PUT /in/a%2520b HTTP/1.0\r\n*\r\n\r\nnot a blank"}, requests));
}

TEST_F(CliTasks, ATaskFileOrProgramDirectoryThatCannotBeReadIsToldWithExit2) {
  // fresh: a new program directory. broken: its task files and upload log
  // are directories, and loop.rcv a link to itself.
  ScratchDir fresh, broken, file;
  for (const char* name : {"Default.rcv", "Default.snd", "logs.txt"}) {
    std::filesystem::create_directory(broken.Join(name));
  }
  std::filesystem::create_symlink(broken.Join("loop.rcv"), broken.Join("loop.rcv"));
  const std::string plain = file.Join("plain");
  WriteFile(plain, "not a directory\n");
  const auto cannot_read = [](const std::string& path, const std::string& reason) {
    return "parcelo: cannot read task file " + path + ": " + reason + "\n";
  };
  const std::string missing = fresh.Join("missing.rcv"), is_dir = "Is a directory";
  const struct { const ScratchDir& home; std::string arguments, before; int exit_code; std::string err; } cases[] = {
      // A missing default task is an empty one; a missing named one is an error.
      {fresh, "list", "", 0, ""},
      {fresh, "receive", "", 2, "Message: Nothing to receive. Add URL from your browser to the listbox\n"},
      {fresh, "--task " + missing + " list", "", 2, cannot_read(missing, "No such file or directory")},
      {broken, "list", "", 2, cannot_read(broken.Join("Default.rcv"), is_dir)},
      {broken, "receive", "", 2, cannot_read(broken.Join("Default.rcv"), is_dir)},
      {broken, "add http://h/a", "", 2, cannot_read(broken.Join("Default.rcv"), is_dir)},
      {broken, "send", "", 2, cannot_read(broken.Join("Default.snd"), is_dir)},
      {broken, "--task " + broken.Join("loop.rcv") + " delete 0", "", 2,
       cannot_read(broken.Join("loop.rcv"), "Too many levels of symbolic links")},
      {broken, "log --send", "", 2,
       "parcelo: cannot read log file " + broken.Join("logs.txt") + ": " + is_dir + "\n"},
      {fresh, "log --send", "", 0, ""},
      {fresh, "config", "PARCELO_HOME=" + plain, 2, "parcelo: PARCELO_HOME is not a directory: " + plain + "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    EXPECT_EQ((Outcome{c.exit_code, "", c.err}), Parcelo(c.home.path(), c.arguments, c.before));
  }
  EXPECT_FALSE(std::filesystem::exists(fresh.Join("Default.rcv")));
  EXPECT_FALSE(std::filesystem::exists(missing));
  EXPECT_EQ("not a directory\n", ReadFile(plain));

  // add makes a missing task, named or not.
  const std::string named = fresh.Join("named.rcv");
  EXPECT_EQ(0, Parcelo(fresh.path(), "--task " + named + " add http://h/a").exit_code);
  EXPECT_EQ(0, Parcelo(fresh.path(), "add http://h/b").exit_code);
  for (const auto& [task, link] : {std::pair{named, "http://h/a"}, {fresh.Join("Default.rcv"), "http://h/b"}}) {
    const std::string listed = Parcelo(fresh.path(), "--task " + task + " list").out;
    EXPECT_EQ(0u, listed.find("0\t")) << listed;
    EXPECT_NE(std::string::npos, listed.find(std::string("\t") + link + "\tAwaiting command\t")) << listed;
    EXPECT_EQ(1, std::count(listed.begin(), listed.end(), '\n')) << listed;
  }
}

TEST_F(CliTasks, DownloadsGoToTheUsersDownloadDirectoryUntilDownloadIsSet) {
  // Each case runs in its own user's home holding Mine, Fetched and Old, and
  // the given pieces: a Downloads directory, user-dirs.dirs ({user}: the
  // home's path), $XDG_DOWNLOAD_DIR; expected is under the user's home ("." the current directory).
  const struct { const char* name; bool downloads; std::string user_dirs, variable; const char* expected; } cases[] = {
      {"variable first", true, "XDG_DOWNLOAD_DIR=\"$HOME/Fetched\"\n", "$HOME/Mine/", "Mine"},
      {"variable naming no directory", true, "XDG_DOWNLOAD_DIR=\"$HOME/Fetched\"", "$HOME/None", "Fetched"},
      {"user-dirs, last line, escapes", true,
       "# comment\nXDG_DOWNLOAD_DIR=\"$HOME/Old\"\n  XDG_DOWNLOAD_DIR=\"$HOME/Fe\\tched\"\n", "", "Fetched"},
      {"user-dirs absolute", false, "XDG_DOWNLOAD_DIR=\"{user}/Fetched\"", "", "Fetched"},
      {"user-dirs naming the home", true, "XDG_DOWNLOAD_DIR=\"$HOME/\"", "", "Downloads"},
      {"Downloads", true, "XDG_DESKTOP_DIR=\"$HOME/Fetched\"", "", "Downloads"},
      {"nothing: the current directory", false, "", "", "."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir program, user, work;
    for (const char* name : {"Mine", "Fetched", "Old", "config"}) std::filesystem::create_directory(user.Join(name));
    if (c.downloads) std::filesystem::create_directory(user.Join("Downloads"));
    std::string user_dirs = c.user_dirs;
    if (user_dirs.find("{user}") != std::string::npos) user_dirs.replace(user_dirs.find("{user}"), 6, user.path());
    if (!user_dirs.empty()) WriteFile(user.Join("config/user-dirs.dirs"), user_dirs);
    std::string variable = c.variable;
    if (variable.compare(0, 5, "$HOME") == 0) variable = user.path() + variable.substr(5);
    const std::string environment = "env -u XDG_DOWNLOAD_DIR -C " + work.path() + " HOME=" + user.path() +
                                    " XDG_CONFIG_HOME=" + user.Join("config") +
                                    (variable.empty() ? "" : " XDG_DOWNLOAD_DIR=" + variable);
    const std::string expected = std::string(c.expected) == "." ? work.path() : user.Join(c.expected);
    EXPECT_EQ(expected + "\n", Parcelo(program.path(), "config DOWNLOAD", environment).out);
    // Setting another value leaves it unstored, to follow the user's directories.
    EXPECT_EQ(0, Parcelo(program.path(), "config CycleDownload 1", environment).exit_code);
    const std::string stored = ReadFile(program.Join("settings.ini"));
    EXPECT_NE(std::string::npos, stored.find("\nCycleDownload=1\n")) << stored;
    EXPECT_EQ(std::string::npos, stored.find("DOWNLOAD=")) << stored;
    // add names the local file in it.
    ASSERT_EQ(0, Parcelo(program.path(), "add http://h/d/a.zip", environment).exit_code);
    EXPECT_NE(std::string::npos, ReadFile(program.Join("Default.rcv")).find("\t" + expected + "/a.zip\t"));

    // A stored DOWNLOAD wins.
    EXPECT_EQ(0, Parcelo(program.path(), "config DOWNLOAD " + user.Join("Old"), environment).exit_code);
    EXPECT_EQ(user.Join("Old") + "\n", Parcelo(program.path(), "config DOWNLOAD", environment).out);
  }
}

// Task files and settings hold passwords: parcelo makes them, and the
// directories it makes for them, its user's only; a rewrite keeps the mode a
// file has.
TEST_F(CliTasks, FilesThatHoldPasswordsAreTheirOwnersOnly) {
  ScratchDir scratch;
  const std::string home = scratch.Join("made/parcelo"), task = home + "/Default.rcv";
  const auto parcelo = [&](const std::string& arguments) {
    return Parcelo(scratch.path(), arguments, "PARCELO_HOME=" + home).exit_code;
  };
  const auto mode = [](const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 0777) : -1;
  };
  ASSERT_EQ(0, parcelo("add ftp://joe:secret@h/a.gz ftp://joe:secret@h/b.gz"));
  ASSERT_EQ(0, parcelo("config FirewallAddressHTTP h"));
  EXPECT_EQ((std::vector<int>{0700, 0700, 0600, 0600}),
            (std::vector<int>{mode(scratch.Join("made")), mode(home), mode(task), mode(home + "/settings.ini")}));
  chmod(task.c_str(), 0640);
  ASSERT_EQ(0, parcelo("delete 0"));
  ASSERT_EQ(0, parcelo("add ftp://joe:secret@h/c.gz"));
  EXPECT_EQ(0640, mode(task));
  EXPECT_EQ(2, std::count(std::istreambuf_iterator<char>(std::ifstream(task).rdbuf()), {}, '\n'));
}

TEST_F(CliSchedule, BadTimesAndRepeatsAreRefusedBeforeAnyWait) {
  UseTask({"http://127.0.0.1:9/f"});
  const struct { const char* arguments; const char* error; } cases[] = {
      {"receive --at 24:00", "parcelo: bad time for --at: '24:00' (HH:MM, from 00:00 to 23:59)\n"},
      {"receive --at 12:30xyz", "parcelo: bad time for --at: '12:30xyz' (HH:MM, from 00:00 to 23:59)\n"},
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
    // An accepted time would wait.
    EXPECT_EQ((Outcome{2, "", c.error}), Parcelo(home.path(), c.arguments, "timeout 10"));
  }
  WriteFile(home.Join("Default.rcv"), "");
  EXPECT_EQ((Outcome{2, "", "parcelo: " + home.Join("Default.rcv") + " has no entry to schedule\n"}),
            Parcelo(home.path(), "receive --at 10:15"));
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
  // Half a second before the time; the row goes while parcelo waits.
  std::future<Outcome> run = std::async(std::launch::async, [&] {
    return Parcelo(home.path(), "receive --at 10:15 1", "PARCELO_CLOCK=10:14:50*20 timeout 20");
  });
  ASSERT_TRUE(Eventually([&] { return ReadFile(home.Join("err")).find("next start") != std::string::npos; }));
  UseTask({peer.Link("/a")});
  const Outcome outcome = run.get();
  EXPECT_EQ(2, outcome.exit_code);
  EXPECT_TRUE(peer.Requests().empty());
  EXPECT_EQ("", outcome.out);
  EXPECT_TRUE(Glob("*\nBad row number: 1\n*runs nothing*", outcome.err)) << outcome.err;
}

TEST_F(CliSchedule, EveryRunsAgainAtEachStartUntilCtrlC) {
  peers::HttpPeer peer({{Ok("first")}, {Ok("again")}});
  UseTask({peer.Link("/a")});
  // A minute of the clock passes in six seconds: Ctrl-C comes at nine,
  // three seconds after the second start and before the third.
  const Outcome run = Parcelo(home.path(), "receive --at 10:15 --every 1",
                              "PARCELO_CLOCK=10:14:59*10 timeout --preserve-status -s INT 9");
  EXPECT_EQ(130, run.exit_code);
  EXPECT_EQ(2u, peer.Requests().size());
  const std::string done = "0\tDone\tTotalbyte 5 / 5\t\t0\n";
  EXPECT_EQ(done + done, run.out);
  EXPECT_EQ("again", ReadFile(home.Join("a0")));
  for (const char* start : {" 10:15\n", " 10:16\n", " 10:17\n", " 10:17 is cancelled\n"}) {
    EXPECT_NE(std::string::npos, run.err.find(start)) << start << " in " << run.err;
  }
}

}  // namespace
