// Runs the built parcelo binary's transfer, settings and log commands against
// a loopback server and checks their output, exit codes and files.
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "native/job_server.h"

namespace {

using job_server::Link;
using job_server::ReadFile;

struct Outcome {
  int exit_code = -1;
  std::string out, err;
};

class CliJobs : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "parcelo-cli-jobs-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    home_ = dir_ + "/home";
    std::filesystem::create_directory(home_);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // Runs parcelo in dir_ with PARCELO_HOME=home_; stderr goes to a file, so
  // no live progress lines are drawn.
  Outcome Parcelo(const std::vector<std::string>& arguments) {
    char self[PATH_MAX] = {};
    EXPECT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const std::string binary = std::filesystem::path(self).replace_filename("parcelo");
    std::string command = "cd '" + dir_ + "' && PARCELO_HOME='" + home_ + "' '" + binary + "'";
    for (const std::string& argument : arguments) command += " '" + argument + "'";
    command += " 2>'" + dir_ + "/stderr'";
    Outcome outcome;
    std::FILE* pipe = popen(command.c_str(), "r");
    char chunk[4096];
    for (std::size_t got; pipe && (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) outcome.out.append(chunk, got);
    const int status = pipe ? pclose(pipe) : -1;
    if (WIFEXITED(status)) outcome.exit_code = WEXITSTATUS(status);
    outcome.err = ReadFile(dir_ + "/stderr");
    return outcome;
  }

  std::string dir_, home_;
};

TEST_F(CliJobs, ReceivePrintsTheFinalColumnsOfStartedAndRefusedRows) {
  job_server::Server server({job_server::Ok("hello"), job_server::Ok("again")});
  std::ofstream(home_ + "/Default.rcv", std::ios::binary)
      << "03/14/26 09:00\t" << home_ << "/f0\tAwaiting_command\t" << Link(server.port(), "/a") << "\r\n"
      << "03/14/26 09:00\t" << home_ << "/f1\tAwaiting_command\t" << Link(job_server::RefusingPort(), "/b") << "\r\n"
      << "03/14/26 09:00\t" << home_ << "/f2\tAwaiting_command\tgopher://h/c\r\n";

  const Outcome all = Parcelo({"receive"});
  EXPECT_EQ(1, all.exit_code) << all.err;
  EXPECT_EQ("0\tDone\tTotalbyte 5 / 5\t\t0\n1\tFailed to connect\t\t\t\n2\tBad link\t\t\t\n", all.out);
  EXPECT_EQ("hello", ReadFile(home_ + "/f0"));

  // The walk checks every link, chosen or not.
  const Outcome one = Parcelo({"receive", "0"});
  EXPECT_EQ(1, one.exit_code) << one.err;
  EXPECT_EQ("0\tDone\tTotalbyte 5 / 5\t\t0\n2\tBad link\t\t\t\n", one.out);
  EXPECT_EQ("again", ReadFile(home_ + "/f0"));

  const std::string log = Parcelo({"log"}).out;
  const std::string line = "\t" + home_ + "/f0\t" + Link(server.port(), "/a") + "\n";
  ASSERT_EQ(2 * (14 + line.size()), log.size()) << log;
  EXPECT_EQ(line, log.substr(14, line.size()));
  EXPECT_EQ(0, Parcelo({"log", "--clear"}).exit_code);
  EXPECT_EQ("", Parcelo({"log"}).out);
}

TEST_F(CliJobs, SendUploadsTheAddedFilesAndRefusesAnEmptyTask) {
  const Outcome empty = Parcelo({"send"});
  EXPECT_EQ(2, empty.exit_code);
  EXPECT_NE(std::string::npos, empty.err.find("Nothing to send. Add files from your Windows Explorer to the listbox"));

  job_server::Server server({"HTTP/1.0 201 Created\r\n\r\n"});
  std::ofstream(dir_ + "/up.txt", std::ios::binary) << "upload body";
  EXPECT_EQ(0, Parcelo({"add", "--send", "--to", Link(server.port(), "/in"), "up.txt"}).exit_code);
  const Outcome sent = Parcelo({"send"});
  EXPECT_EQ(0, sent.exit_code) << sent.err;
  EXPECT_EQ("0\tDone\tTotalbyte 11 / 11\t\t0\n", sent.out);
  ASSERT_EQ(1u, server.Requests().size());
  const std::string request = server.Requests()[0];
  EXPECT_EQ(0u, request.find("PUT /in/up.txt HTTP/1.0\r\n")) << request;
  EXPECT_EQ("upload body", request.substr(request.size() - 11));
  const std::string log = ReadFile(home_ + "/logs.txt");
  EXPECT_EQ("\t" + dir_ + "/up.txt\t" + Link(server.port(), "/in/up.txt") + "\r\n", log.substr(14)) << log;
}

TEST_F(CliJobs, ConfigSetsThroughTheCommitRules) {
  EXPECT_EQ(0, Parcelo({"config", "CycleDownload", "2"}).exit_code);
  EXPECT_NE(std::string::npos, Parcelo({"config"}).out.find("\nCycleDownload=2\n"));
  EXPECT_EQ(2, Parcelo({"config", "DOWNLOAD", dir_ + "/missing"}).exit_code);
  EXPECT_EQ(2, Parcelo({"config", "CycleUpload", "two"}).exit_code);
  EXPECT_EQ(home_ + "\n", Parcelo({"config", "download"}).out);
}

}  // namespace
