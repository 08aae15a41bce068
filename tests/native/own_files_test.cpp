// Names from the network never name the program's own files in the program
// directory: through add, through a redirect, and through parcelo against a
// peer that redirects to them. Elsewhere the same names are ordinary files.

#include <unistd.h>

#include "engine/http_exchange.h"
#include "native/fixtures.h"
#include "peers/peers.h"
#include "tasks/entries.h"
#include "tasks/taskfile.h"

namespace {

using namespace fixtures;

using peers::HttpPeer;

// Task files, logs, record files, settings, help file, programs, install
// record, response scratch files, lock companions; as Windows would open them.
const char* const kOwnNames[] = {
    "Default.rcv", "work.SND",      "logr.txt",      "LOGS.txt",  "url.txt", "UrlTemp.txt",
    "settings.ini", "Parcelo32.HLP", "parcelo32.exe", "SETUP.EXE", "parcelo", "install.txt",
    "Default.rcv3Temp.txt", "Default.rcv.lock", "logr.txt.", "PARCEL~1.EXE"};
// Names that only look like them.
const char* const kOrdinaryNames[] = {"a.zip", "parcelo.tar.gz", "logr.txt.bak", "Default.rcvx", "rcv",
                                      "settings.ini.old", "PARCEL~X.EXE"};

class OwnFiles : public TransferTest {
 protected:
  void SetUp() override {
    TransferTest::SetUp();
    task_ = UseTaskFile("Default.rcv", "files.example");
    list_.DeleteAllRows();
  }

  // One attempt of row 0, started as a worker would start it, on a peer that
  // answers 302 with location.
  int Redirected(const std::string& location) {
    UseRow(0);
    context_.start_line = taskfile::ReadEntryLine(task_, 0);
    HttpPeer peer({{"HTTP/1.0 302 Found\r\nLocation: " + location + "\r\n\r\n"}});
    return session::RunAttempt(context_, Params(peer.port(), "/f", "f", url::kHttp));
  }

  std::string task_;
};

TEST_F(OwnFiles, AddRefusesThemInTheProgramDirectoryInAnyOfItsForms) {
  const std::string program = env_.dir.path();
  ASSERT_EQ(0, symlink(program.c_str(), Path("alias").c_str()));
  ASSERT_TRUE(std::filesystem::create_directory(Path("sub")));
  for (const std::string& download : {program, program + "/", program + "/./sub/..", Path("alias")}) {
    SCOPED_TRACE(download);
    UseSetting("DOWNLOAD", download);
    for (const char* name : kOwnNames) {
      const std::size_t earlier = boxes_.Shown().size();
      EXPECT_EQ(-1, DropLink("http://h/d/" + std::string(name))) << name;
      const Texts shown = boxes_.Shown();
      EXPECT_EQ(Texts{Box("Error", "Reserved file name in link: " + std::string(name),
                          prompts::kIconStop | prompts::kTaskModal)},
                Texts(shown.begin() + earlier, shown.end()));
    }
    EXPECT_FALSE(std::filesystem::exists(task_));
  }
  const std::size_t refusals = boxes_.Shown().size();
  UseSetting("DOWNLOAD", program);
  for (const char* name : kOrdinaryNames) EXPECT_EQ(0, DropLink("http://h/d/" + std::string(name))) << name;
  // Another directory, existing or not, holds none of them.
  for (const std::string& download : {Path("sub"), Path("none")}) {
    UseSetting("DOWNLOAD", download);
    for (const char* name : kOwnNames) EXPECT_EQ(0, DropLink("http://h/d/" + std::string(name))) << name;
  }
  EXPECT_EQ(refusals, boxes_.Shown().size());
  Texts lines;
  const int added = static_cast<int>(std::size(kOrdinaryNames) + 2 * std::size(kOwnNames));
  EXPECT_EQ(added, taskfile::ReadLines(task_, &lines));
  EXPECT_EQ(added, list_.RowCount());
  EXPECT_EQ(Path("none") + "/" + kOwnNames[std::size(kOwnNames) - 1], taskfile::SplitTaskLine(lines.back()).local_file);
}

TEST_F(OwnFiles, RedirectRefusesThem) {
  const std::string entry = "01/02/26 03:04\t" + Path("f") + "\tAwaiting_command\thttp://files.example/f\r\n";
  WriteFile(task_, entry);
  entries::LoadTask(task_);
  for (const char* name : kOwnNames) {
    SCOPED_TRACE(name);
    list_.ClearStatuses();
    EXPECT_EQ(session::kFailure, Redirected("/d/" + std::string(name)));
    EXPECT_TRUE(Matches({"Receiving", "Reserved file name in link: " + std::string(name)}, list_.Statuses(0)));
    EXPECT_EQ(entry, ReadFile(task_));
  }
  // Downloads that go elsewhere may take the name.
  UseSetting("DOWNLOAD", Path("down"));
  EXPECT_EQ(session::kRedirected, Redirected("/d/settings.ini"));
  EXPECT_EQ(Path("down") + "/settings.ini", taskfile::SplitTaskLine(taskfile::ReadEntryLine(task_, 0)).local_file);
}

// A split download keeps its control file beside its local file, in any
// directory: no link names one, through add or through a redirect.
TEST_F(OwnFiles, ControlFileNamesAreRefusedEverywhere) {
  UseSetting("DOWNLOAD", Path("down"));
  for (const char* name : {"big.iso.parts", "BIG.ISO.PARTS", "x.parts.", "x.parts.new", "x.Parts.New"}) {
    EXPECT_EQ(-1, DropLink("http://h/d/" + std::string(name))) << name;
  }
  for (const char* name : {"x.parts.old", "parts", "x.partsx"}) {
    EXPECT_EQ(0, DropLink("http://h/d/" + std::string(name))) << name;
  }
  const std::string entry = "01/02/26 03:04\t" + Path("f") + "\tAwaiting_command\thttp://files.example/f\r\n";
  WriteFile(task_, entry);
  entries::LoadTask(task_);
  list_.ClearStatuses();
  EXPECT_EQ(session::kFailure, Redirected("/d/f.parts"));
  EXPECT_TRUE(Matches({"Receiving", "Reserved file name in link: f.parts"}, list_.Statuses(0)));
  EXPECT_EQ(entry, ReadFile(task_));
}

// A hostile peer redirects the entry to one of parcelo's files and then serves
// whatever is asked for: the second receive fetches the entry's own link, and
// the program's files stay as they were.
TEST(OwnFilesThroughParcelo, ARedirectToTheSettingsOrTheTaskLeavesBothIntact) {
  for (const char* target : {"/settings.ini", "/Default.rcv"}) {
    SCOPED_TRACE(target);
    ScratchDir home;
    const auto parcelo = [&](const std::string& arguments) { return Parcelo(home.path(), arguments); };
    // Downloads go to the program directory, where the program's own files are.
    WriteFile(home.Join("settings.ini"), "CycleDownload=0\nDOWNLOAD=" + home.path() + "\n");
    const std::string hostile = "DOWNLOAD=/\n";
    HttpPeer peer({{"HTTP/1.0 302 Found\r\nLocation: " + std::string(target) + "\r\n\r\n"},
                   {"HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(hostile.size()) + "\r\n\r\n" + hostile}});
    ASSERT_EQ(0, parcelo("add " + peer.Link("/f")).exit_code);
    const std::string settings = ReadFile(home.Join("settings.ini")), task = ReadFile(home.Join("Default.rcv"));

    EXPECT_EQ(1, parcelo("receive").exit_code);
    EXPECT_EQ("0\tReserved file name in link: " + std::string(target + 1) + "\t\t\t\n", ReadFile(home.Join("out")));
    EXPECT_EQ(0, parcelo("receive").exit_code);
    EXPECT_EQ(settings, ReadFile(home.Join("settings.ini")));
    EXPECT_EQ(task, ReadFile(home.Join("Default.rcv")));
    EXPECT_EQ(hostile, ReadFile(home.Join("f")));
  }
}

}  // namespace
