// End-to-end tests of setup.exe under Wine: each case starts the program the
// way a user would, answers its dialogs from outside (another process, as a
// user's clicks would) and checks the files, the install records, the
// registry and the program group it leaves behind. The rules behind the
// dialogs (typed directories, record lines, versions) are checked natively
// in tests/native/setup_rules_test.cpp; here only that the program applies them.
//
// Usage: setup_e2e_tests.exe [gtest options] DIST BUILD
//   DIST   the distribution folder (setup.exe, compressed program and help file)
//   BUILD  the Win32 build directory: the uncompressed originals,
//          setup_systest.exe and setuptest/ptversion*.dll
#include <windows.h>
#include <ddeml.h>
#include <shellapi.h>
#include <shlobj.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "setup/sha256.h"
#include "tests/win32/win32_basics.h"

namespace {

using harness::Exists;
using harness::KeyExists;
using harness::Press;
using harness::ReadFile;
using harness::RemoveTree;
using harness::WindowText;
using harness::WriteFile;
using Texts = std::vector<std::string>;

std::string g_dist;
std::string g_build;

const char kAppPaths[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\parcelo32.exe";
const char kUninstall[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\parcelo32";
const char kSettings[] = "SOFTWARE\\Parcelo(32)";
// Every directory (and the one stray task file) a case may create; removed
// before and after each case.
const char* const kScratch[] = {"C:\\ptest", "C:\\ptsrc", "C:\\ptbad", "C:\\Program Files\\Parcelo(32)",
                                "C:\\Default.rcv"};
const char* const kTestLibraries[] = {"ptsame.dll", "ptolder.dll", "ptabsent.dll"};

std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path) c = c == '/' ? '\\' : c;
  return path;
}

// Compares binary contents without printing them.
testing::AssertionResult Holds(const std::string& path, const std::string& expected) {
  const std::string data = ReadFile(path);
  if (!expected.empty() && data == expected) return testing::AssertionSuccess();
  return testing::AssertionFailure() << path << " holds " << data.size() << " bytes, not the " << expected.size()
                                     << " expected";
}

std::string SystemDirectory() {
  char dir[MAX_PATH] = "";
  GetSystemDirectoryA(dir, MAX_PATH);
  return dir;
}

std::string GroupFolder() {
  char dir[MAX_PATH] = "";
  SHGetSpecialFolderPathA(nullptr, dir, CSIDL_PROGRAMS, FALSE);
  return std::string(dir) + "\\Parcelo32";
}

// The value NAME of KEY (nullptr: the default value): a REG_SZ as it is, a
// REG_DWORD as "dword:<decimal>", anything else "<missing>".
std::string RegValue(const char* key, const char* name) {
  char data[1024] = "";
  DWORD size = sizeof data, type = 0;
  const DWORD wanted = RRF_RT_REG_SZ | RRF_RT_REG_DWORD;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, key, name, wanted, &type, data, &size) != ERROR_SUCCESS) return "<missing>";
  return type == REG_DWORD ? "dword:" + std::to_string(*reinterpret_cast<DWORD*>(data)) : std::string(data);
}

void RemoveAllState() {
  for (const char* key : {kAppPaths, kUninstall, kSettings}) RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
  for (const char* dir : kScratch) RemoveTree(dir);
  for (const char* name : kTestLibraries) DeleteFileA((SystemDirectory() + "\\" + name).c_str());
  RemoveTree(GroupFolder());
}

// Copies the distribution folder to DIR; EXTRA names further files as
// {name in DIR, source path}, added to the list of digests.
void MakeSource(const std::string& dir, const std::vector<std::pair<std::string, std::string>>& extra = {}) {
  std::filesystem::create_directories(dir);
  for (const char* name : {"parcelo32.exe", "setup.exe", "parcelo32.hlp", "license.txt", "files.sha256"}) {
    CopyFileA((g_dist + "\\" + name).c_str(), (dir + "\\" + name).c_str(), FALSE);
  }
  std::string listed = ReadFile(dir + "\\files.sha256");
  for (const auto& file : extra) {
    ASSERT_TRUE(CopyFileA(file.second.c_str(), (dir + "\\" + file.first).c_str(), FALSE)) << file.second;
    const std::string data = ReadFile(file.second);
    listed += setup::Sha256Hex(data) + " " + std::to_string(data.size()) + " " + file.first + "\r\n";
  }
  WriteFile(dir + "\\files.sha256", listed);
}

void SetField(HWND dialog, int id, const std::string& text) {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                      SMTO_ABORTIFHUNG, 5000, &result);
}

// Waits until control ID of DIALOG reads TEXT.
bool WaitText(HWND dialog, int id, const std::string& text, DWORD ms = 20000) {
  for (DWORD waited = 0; waited < ms && WindowText(GetDlgItem(dialog, id)) != text; waited += 5) Sleep(5);
  return WindowText(GetDlgItem(dialog, id)) == text;
}

// A message box is a dialog with its text in control 0xFFFF; the program's
// own dialogs may use that id for labels, so they are told apart by caption.
bool IsMessageBox(HWND window) {
  for (const char* dialog : {"License Agreement", "Specify directory", "Setup ", "UnInstalling Parcelo(32)"}) {
    if (WindowText(window) == dialog) return false;
  }
  return GetDlgItem(window, 0xFFFF) != nullptr;
}

struct Box {
  std::string title;
  std::string text;
};

// One run of a setup program, stopped when it goes out of scope.
class SetupRun {
 public:
  ~SetupRun() {
    if (!process_.hProcess) return;
    if (!Exited(0)) TerminateProcess(process_.hProcess, 1);
    WaitForSingleObject(process_.hProcess, 10000);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
  }

  // Starts DIR\EXE with ARGS in CURRENT_DIR (default DIR), on DESKTOP_NAME when given.
  bool Start(const std::string& dir, const std::string& exe, const std::string& args = "",
             const char* desktop_name = nullptr, const char* current_dir = nullptr) {
    std::string command = "\"" + dir + "\\" + exe + "\"" + (args.empty() ? "" : " " + args);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.lpDesktop = const_cast<char*>(desktop_name);
    return CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                          current_dir ? current_dir : dir.c_str(), &startup, &process_) != 0;
  }

  bool Exited(DWORD ms) { return WaitForSingleObject(process_.hProcess, ms) == WAIT_OBJECT_0; }

  // The exit code once the program ended within MS, else STILL_ACTIVE.
  DWORD ExitCode(DWORD ms) {
    DWORD code = STILL_ACTIVE;
    if (Exited(ms)) GetExitCodeProcess(process_.hProcess, &code);
    return code;
  }

  // The program's visible top-level window of CLASS with CAPTION on this
  // thread's desktop, waited for up to MS; of a dialog class, a message box
  // when CAPTION is nullptr.
  HWND Wait(const char* window_class, const char* caption, DWORD ms = 20000) {
    const bool dialog = std::string(window_class) == "#32770";
    for (DWORD start = GetTickCount();; Sleep(10)) {
      for (HWND window = nullptr; (window = FindWindowExA(nullptr, window, window_class, caption)) != nullptr;) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (pid == process_.dwProcessId && IsWindowVisible(window) && (caption || !dialog || IsMessageBox(window))) {
          return window;
        }
      }
      if (GetTickCount() - start >= ms || Exited(0)) return nullptr;
    }
  }

  HWND Find(const char* window_class, const char* caption) { return Wait(window_class, caption, 0); }

  // Waits for a message box and closes it with BUTTON; returns what it said.
  Box AnswerBox(int button) {
    HWND box = Wait("#32770", nullptr);
    if (!box) return {"", "<no message box>"};
    const Box seen = {WindowText(box), WindowText(GetDlgItem(box, 0xFFFF))};
    Press(box, button);
    for (int i = 0; i < 1000 && IsWindow(box); ++i) Sleep(10);
    return seen;
  }

 private:
  PROCESS_INFORMATION process_ = {};
};

// Program Manager's CreateGroup opens a folder window named after the group;
// nothing closes it but us.
BOOL CALLBACK CloseGroupWindow(HWND window, LPARAM) {
  if (IsWindowVisible(window) && WindowText(window) == "Parcelo32") PostMessageA(window, WM_CLOSE, 0, 0);
  return TRUE;
}

void CloseGroupWindows() { EnumWindows(CloseGroupWindow, 0); }

// Types the two directories into the path dialog and presses OK.
void Choose(HWND path, const std::string& main_dir, const std::string& download_dir) {
  SetField(path, 104, main_dir);
  SetField(path, 30, download_dir);
  Press(path, 400);
}

// Sees a dialog of a run (the licence, the path dialog) before it is answered.
using Stage = std::function<void(const char* name, HWND dialog)>;

// Agrees to the licence; returns the path dialog that follows, or nullptr.
HWND Agree(SetupRun& setup, const Stage& stage = nullptr) {
  HWND licence = setup.Wait("#32770", "License Agreement");
  if (!licence) return nullptr;
  if (stage) stage("licence", licence);
  Press(licence, IDOK);
  HWND path = setup.Wait("#32770", "Specify directory");
  if (path && stage) stage("path", path);
  return path;
}

// How an installation is answered.
struct Script {
  std::vector<int> buttons;  // for its message boxes in turn; a box beyond them is left open
  const char* exe = "setup.exe";
  const char* desktop = nullptr;  // the desktop it runs on; nullptr: this thread's
  Stage stage = nullptr;
};

// What a run showed: its message boxes in turn, the last percentage of the
// setup dialog, the uninstall dialog's last status, and the exit code
// (STILL_ACTIVE while it waits at a box left open).
struct Seen {
  Texts boxes;
  Texts titles = {};
  std::string percent = "";
  std::string status = "";
  DWORD exit_code = STILL_ACTIVE;
};

// Follows a started run to its end, answering its message boxes in turn with
// BUTTONS; a box beyond them is left open. The uninstall dialog is closed
// once it offers OK.
Seen Follow(SetupRun& setup, const std::vector<int>& buttons) {
  Seen seen;
  for (DWORD start = GetTickCount(); GetTickCount() - start < 60000 && !setup.Exited(0); Sleep(1)) {
    // A window that is going away can answer with a stale text under Wine.
    const std::string percent = WindowText(GetDlgItem(setup.Find("#32770", "Setup "), 18));
    const size_t digits = percent.find_first_not_of("0123456789");
    if (digits > 0 && digits != std::string::npos && percent.substr(digits) == " %") seen.percent = percent;
    HWND uninstall = setup.Find("#32770", "UnInstalling Parcelo(32)");
    if (uninstall && WindowText(GetDlgItem(uninstall, IDCANCEL)) == "OK") {
      seen.status = WindowText(GetDlgItem(uninstall, 60));
      Press(uninstall, IDCANCEL);
    }
    if (HWND box = setup.Find("#32770", nullptr)) {
      seen.titles.push_back(WindowText(box));
      seen.boxes.push_back(WindowText(GetDlgItem(box, 0xFFFF)));
      if (seen.boxes.size() > buttons.size()) break;
      setup.AnswerBox(buttons[seen.boxes.size() - 1]);
    }
  }
  CloseGroupWindows();
  seen.exit_code = setup.ExitCode(seen.boxes.size() > buttons.size() ? 0 : 20000);
  return seen;
}

// Installs from SOURCE into MAIN_DIR (downloads into its DOWN): agrees to
// the licence, types the directories and follows the run as SCRIPT says.
Seen Install(SetupRun& setup, const std::string& source, const std::string& main_dir, const Script& script = {}) {
  if (!setup.Start(source, script.exe, "", script.desktop)) return {{"<not started>"}};
  HWND path = Agree(setup, script.stage);
  if (!path) return {{"<no path dialog>"}};
  Choose(path, main_dir, main_dir + "\\DOWN");
  return Follow(setup, script.buttons);
}

// What an installation into MAIN_DIR leaves: the three files as built, their
// record, the download directory, and App Paths pointing there.
void ExpectInstalled(const std::string& main_dir) {
  const std::string dir = main_dir + "\\";
  EXPECT_TRUE(Holds(dir + "parcelo32.exe", ReadFile(g_build + "\\parcelo32.exe")));
  EXPECT_TRUE(Holds(dir + "parcelo32.hlp", ReadFile(g_build + "\\Parcelo32.HLP")));
  EXPECT_TRUE(Holds(dir + "setup.exe", ReadFile(g_dist + "\\setup.exe")));
  EXPECT_EQ(ReadFile(dir + "install.txt"),
            dir + "parcelo32.exe\r\n" + dir + "setup.exe\r\n" + dir + "parcelo32.hlp\r\n");
  EXPECT_TRUE(Exists(dir + "DOWN"));
  EXPECT_EQ(RegValue(kAppPaths, "Path"), dir);
}

// An installation that must run to 100 % without a question and end well.
void InstallOrFail(const std::string& source, const std::string& main_dir, const char* exe = "setup.exe") {
  SetupRun setup;
  const Seen seen = Install(setup, source, main_dir, {{}, exe});
  EXPECT_EQ(seen.boxes, Texts{}) << main_dir;
  EXPECT_EQ(seen.percent, "100 %") << main_dir;
  EXPECT_EQ(seen.exit_code, 0u) << main_dir;
  ExpectInstalled(main_dir);
}

// Nothing registered, no program group, and DIR (when given) gone.
void ExpectNoTrace(const std::string& dir = "") {
  EXPECT_TRUE(dir.empty() || !Exists(dir)) << dir;
  EXPECT_FALSE(KeyExists(kAppPaths));
  EXPECT_FALSE(KeyExists(kUninstall));
  EXPECT_FALSE(Exists(GroupFolder()));
}

// The entries of DIR whose names contain PART.
int Entries(const std::string& dir, const std::string& part = "") {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    count += entry.path().filename().string().find(part) != std::string::npos;
  }
  return count;
}

// Runs the uninstaller in DIR, answering its question and then its message
// boxes with BUTTONS; returns what followed the question.
Seen Uninstall(const std::string& dir, const std::vector<int>& buttons) {
  SetupRun setup;
  if (!setup.Start(dir, "setup.exe", "-UNINSTALL")) return {{"<not started>"}};
  Seen seen = Follow(setup, buttons);
  EXPECT_EQ(seen.titles.at(0), "UnInstall Parcelo(32)");
  EXPECT_EQ(seen.boxes.at(0), "Are you sure you want to remove Parcelo(32) and all of its components");
  seen.titles.erase(seen.titles.begin());
  seen.boxes.erase(seen.boxes.begin());
  return seen;
}

class SetupTest : public testing::Test {
 protected:
  void SetUp() override { RemoveAllState(); }
  void TearDown() override {
    CloseGroupWindows();
    RemoveAllState();
  }
};

TEST_F(SetupTest, InstallsExpandedFilesRegistersAndUninstalls) {
  const std::string main_dir = "C:\\ptest\\Apps\\Tool";  // three missing levels
  const std::string dir = main_dir + "\\", download_dir = dir + "DOWN";
  // The user's own item in the program group survives the installation.
  CreateDirectoryA(GroupFolder().c_str(), nullptr);
  WriteFile(GroupFolder() + "\\mine.lnk", "a user's item");
  ASSERT_NO_FATAL_FAILURE(InstallOrFail(g_dist, main_dir));
  const long long kilobytes = (ReadFile(dir + "parcelo32.exe").size() + ReadFile(dir + "setup.exe").size() +
                               ReadFile(dir + "parcelo32.hlp").size() + 1023) / 1024;
  const struct { const char *key, *name; std::string value; } values[] = {
      {kAppPaths, nullptr, dir + "parcelo32.exe"},
      {kUninstall, "UnInstallString", "\"" + dir + "setup.exe\" -UNINSTALL"},
      {kUninstall, "DisplayIcon", dir + "parcelo32.exe,0"}, {kUninstall, "InstallLocation", dir},
      {kUninstall, "EstimatedSize", "dword:" + std::to_string(kilobytes)}, {kSettings, "DOWNLOAD", download_dir}};
  for (const auto& v : values) EXPECT_EQ(RegValue(v.key, v.name), v.value) << (v.name ? v.name : "(default)");
  EXPECT_TRUE(Exists(GroupFolder() + "\\Parcelo32.lnk"));
  EXPECT_TRUE(Holds(GroupFolder() + "\\mine.lnk", "a user's item"));

  // Started from elsewhere, the installed program finds its directory
  // through App Paths: it shows the task waiting there, not one of C:\.
  WriteFile(dir + "Default.rcv", "03/14/26 09:00\tC:\\Down\\f.zip\tAwaiting_command\tftp://h/pub/f.zip\r\n");
  {
    SetupRun program;
    ASSERT_TRUE(program.Start(main_dir, "parcelo32.exe", "", nullptr, "C:\\"));
    HWND window = program.Wait("myprog", nullptr);
    ASSERT_TRUE(window);
    EXPECT_EQ(SendMessageA(GetDlgItem(window, 14), LVM_GETITEMCOUNT, 0, 0), 1);
    // While it runs, the uninstaller asks for it to be closed; still
    // running, it removes nothing and fails.
    const Seen blocked = Uninstall(main_dir, {IDYES, IDOK});
    EXPECT_EQ(blocked.boxes, Texts{"Parcelo(32) is running. Please close it, then press OK."});
    EXPECT_EQ(blocked.status, "Parcelo(32) is still running; nothing was removed");
    EXPECT_EQ(blocked.exit_code, 1u);
    // Nor does an installation replace it: it says why and changes nothing.
    SetupRun again;
    EXPECT_EQ(Install(again, g_dist, main_dir).boxes, Texts{"Cannot write " + dir + "parcelo32.exe: it is in use"});
    EXPECT_TRUE(Holds(dir + "parcelo32.exe", ReadFile(g_build + "\\parcelo32.exe")));
    EXPECT_EQ(Entries(main_dir, ".pst-"), 0);
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(program.Exited(20000));
  }
  EXPECT_FALSE(Exists("C:\\Default.rcv"));

  // No leaves everything in place.
  ASSERT_TRUE(harness::SetRegValue(kSettings, "DOWN", download_dir));
  EXPECT_NE(Uninstall(dir, {IDNO}).exit_code, STILL_ACTIVE);
  EXPECT_TRUE(Exists(dir + "parcelo32.exe"));
  EXPECT_TRUE(Exists(GroupFolder()));
  EXPECT_TRUE(KeyExists(kAppPaths));
  EXPECT_TRUE(KeyExists(kSettings));

  EXPECT_EQ(Uninstall(dir, {IDYES}).status, "Uninstall complete");
  CloseGroupWindows();
  EXPECT_FALSE(Exists(dir + "parcelo32.exe"));
  EXPECT_FALSE(Exists(dir + "parcelo32.hlp"));
  EXPECT_TRUE(Exists(dir + "setup.exe"));  // it was running
  EXPECT_TRUE(Exists(dir + "install.txt"));
  ExpectNoTrace(download_dir);
  EXPECT_FALSE(KeyExists(kSettings));
}

TEST_F(SetupTest, RefusedLicenceEndsWithoutChanges) {
  SetupRun setup;
  ASSERT_TRUE(setup.Start(g_dist, "setup.exe"));
  HWND licence = setup.Wait("#32770", "License Agreement");
  ASSERT_TRUE(licence);
  EXPECT_EQ(WindowText(GetDlgItem(licence, 101)), ReadFile(g_dist + "\\license.txt"));
  Press(licence, IDCANCEL);
  EXPECT_TRUE(setup.Exited(20000));
  ExpectNoTrace("C:\\Program Files\\Parcelo(32)");
}

// The path dialog offers the default directories and refuses, each with a
// message box and staying open, what the program cannot install into.
TEST_F(SetupTest, PathDialogRefusesBadDirectoriesAndCancelEnds) {
  WriteFile("C:\\ptbad", "a file where a directory is wanted");
  struct Case {
    std::string main_dir;
    const char* download_dir;
    const char* title;  // nullptr: the system's default title
    const char* text;
  } const cases[] = {
      {"Q:\\", "C:\\ptest\\Main\\DOWN", nullptr, "Invalid Path Name"},  // the root of no drive
      // One character longer than the longest directory that installs.
      {"C:\\ptest\\" + std::string(229, 'd'), "C:\\ptest\\DOWN", nullptr, "Invalid Path Name"},
      {"C:\\ptest\\Main", "Main\\DOWN", nullptr, "Invalid Path"},
      {"C:\\ptbad\\Main", "C:\\ptest\\DOWN", "  Check path", "Failed to create directory"},
  };
  SetupRun setup;
  ASSERT_TRUE(setup.Start(g_dist, "setup.exe"));
  EXPECT_TRUE(setup.Wait("INSTALL", "Installing Parcelo(32)"));
  HWND path = Agree(setup);
  ASSERT_TRUE(path);
  EXPECT_EQ(WindowText(GetDlgItem(path, 104)), "C:\\Program Files\\Parcelo(32)");
  EXPECT_EQ(WindowText(GetDlgItem(path, 30)), "C:\\Program Files\\Parcelo(32)\\DOWN");
  for (const Case& c : cases) {
    Choose(path, c.main_dir, c.download_dir);
    const Box box = setup.AnswerBox(IDOK);
    EXPECT_EQ(box.text, c.text) << c.main_dir;
    if (c.title) {
      EXPECT_EQ(box.title, c.title) << c.main_dir;
    }
    EXPECT_TRUE(IsWindowVisible(path)) << c.main_dir;
  }
  Press(path, 300);
  EXPECT_TRUE(setup.Exited(20000));
  ExpectNoTrace("C:\\ptest");  // created for the main directory, then given up
}

TEST_F(SetupTest, CancelDuringCopyStopsAndSecondPressEnds) {
  ASSERT_NO_FATAL_FAILURE(MakeSource("C:\\ptsrc"));
  // A big plain program file keeps the first copy busy while Cancel is pressed.
  WriteFile("C:\\ptsrc\\parcelo32.exe", std::string(64 << 20, '\0'));
  SetupRun setup;
  ASSERT_TRUE(setup.Start("C:\\ptsrc", "setup.exe"));
  HWND path = Agree(setup);
  ASSERT_TRUE(path);
  Choose(path, "C:\\ptest", "C:\\ptest\\DOWN");
  HWND dialog = setup.Wait("#32770", "Setup ");
  ASSERT_TRUE(dialog);
  EXPECT_TRUE(WaitText(dialog, 20, "Decompressing and copying files"));
  // The first press aborts; the program runs on until the second.
  EXPECT_EQ(WindowText(GetDlgItem(dialog, 400)), "Cancel");
  Press(dialog, 400);
  EXPECT_TRUE(WaitText(dialog, 60, "User aborted"));
  EXPECT_FALSE(setup.Exited(300));
  Press(dialog, 400);
  EXPECT_TRUE(setup.Exited(20000));
  ExpectNoTrace("C:\\ptest");  // its copies, their temporary files and the directory all went
}

// A damaged file stops the installation before anything is replaced: the
// earlier installation's program stays, the new files and temporaries go.
TEST_F(SetupTest, DamagedPackageStopsBeforeReplacingAnything) {
  struct Case {
    const char* file;
    size_t offset;  // of the byte changed
    char mask;      // the bits changed there; 0: the file is emptied
    const char* message;
  } const cases[] = {
      {"parcelo32.exe", 1, 0x20, "Damaged package: parcelo32.exe"},  // the compression header
      {"parcelo32.hlp", 5000, 0x04, "Damaged package: parcelo32.hlp"},  // a bit of the compressed data
      {"files.sha256", 0, 0, "Damaged package: parcelo32.exe is not listed in files.sha256"},
  };
  for (const Case& c : cases) {
    RemoveAllState();
    ASSERT_NO_FATAL_FAILURE(MakeSource("C:\\ptsrc"));
    const std::string damaged = std::string("C:\\ptsrc\\") + c.file;
    std::string data = ReadFile(damaged);
    data[c.offset] ^= c.mask;
    WriteFile(damaged, c.mask ? data : "");
    CreateDirectoryA("C:\\ptest", nullptr);
    WriteFile("C:\\ptest\\parcelo32.exe", "the program installed before");
    WriteFile("C:\\ptest\\install.txt", "C:\\ptest\\parcelo32.exe\r\n");
    SetupRun setup;
    EXPECT_EQ(Install(setup, "C:\\ptsrc", "C:\\ptest").boxes, Texts{c.message}) << c.file;
    EXPECT_TRUE(Holds("C:\\ptest\\parcelo32.exe", "the program installed before")) << c.file;
    EXPECT_EQ(Entries("C:\\ptest"), 2) << c.file;  // the program and its record
    ExpectNoTrace();
  }
}

// A file of the same name that this program did not install is replaced
// only after the user agrees; refused, nothing changes.
TEST_F(SetupTest, ForeignFileIsReplacedOnlyAfterYes) {
  const std::string question = "C:\\ptest\\setup.exe\nwas not installed by Parcelo(32). Replace it?";
  for (int answer : {IDNO, IDYES}) {
    RemoveAllState();
    CreateDirectoryA("C:\\ptest", nullptr);
    WriteFile("C:\\ptest\\setup.exe", "the user's own setup");
    SetupRun setup;
    const Seen seen = Install(setup, g_dist, "C:\\ptest", {{answer}});
    if (answer == IDNO) {
      EXPECT_EQ(seen.boxes, (Texts{question, "Installation cancelled"}));
      EXPECT_TRUE(Holds("C:\\ptest\\setup.exe", "the user's own setup"));
      EXPECT_EQ(Entries("C:\\ptest"), 1);  // the user's file
      ExpectNoTrace();
    } else {
      EXPECT_EQ(seen.boxes, Texts{question});
      EXPECT_EQ(seen.exit_code, 0u);
      ExpectInstalled("C:\\ptest");
    }
  }
}

// Each installed copy uninstalls itself and deletes only the installer's own
// names in its main directory, however a line of the record is spelled; the
// rest are counted and left. The registry keeps pointing at the copy that was
// installed last, and stays.
TEST_F(SetupTest, UninstallingOneCopyDeletesOnlyItsOwnFilesAndLeavesTheOther) {
  const std::string a = "C:\\ptest\\InstA", b = "C:\\ptest\\InstB";
  InstallOrFail(g_dist, a);
  InstallOrFail(g_dist, b);
  const std::string victim = SystemDirectory() + "\\ptabsent.dll";
  const std::string keep[] = {victim, a + "\\thesis.doc", a + "\\DOWN\\notes.txt"};
  for (const std::string& path : keep) WriteFile(path, "the user's");
  std::ofstream(a + "\\install.txt", std::ios::app)
      << victim << "\n" << keep[1] << "\n" << keep[2] << "\n" << "c:/PTEST/INSTA/./Parcelo32.HLP. \n";
  EXPECT_EQ(Uninstall(a, {IDYES}).status, "Uninstall complete; 3 lines of install.txt naming other files left alone");
  for (const std::string& path : keep) EXPECT_TRUE(Exists(path)) << path;
  DeleteFileA(victim.c_str());
  for (const char* name : {"\\parcelo32.exe", "\\parcelo32.hlp"}) {
    EXPECT_FALSE(Exists(a + name));
    EXPECT_TRUE(Exists(b + name));
  }
  EXPECT_EQ(RegValue(kAppPaths, "Path"), b + "\\");
  EXPECT_EQ(RegValue(kUninstall, "InstallLocation"), b + "\\");
}

// "/S" installs and uninstalls without a window; the exit code tells the
// outcome and setup.log in the temporary directory the reason of a failure.
TEST_F(SetupTest, SilentInstallAndUninstall) {
  const std::string log = (std::filesystem::temp_directory_path() / "setup.log").string();
  struct Case {
    std::string dir;
    std::string args;
    DWORD exit_code;
    const char* logged;  // a line the log holds, nullptr: no matter
    bool installed;      // afterwards
  } const cases[] = {
      {g_dist, "/S /D=C:\\ptest\\Silent Dir", 0, nullptr, true},
      {"C:\\ptest\\Silent Dir", "-UNINSTALL /S", 0, "Uninstall complete", false},
      {g_dist, "/S /D=ptest\\relative", 1, "Invalid Path Name", false},
  };
  for (const Case& c : cases) {
    DeleteFileA(log.c_str());
    SetupRun setup;
    ASSERT_TRUE(setup.Start(c.dir, "setup.exe", c.args));
    EXPECT_EQ(setup.ExitCode(60000), c.exit_code) << c.args;
    CloseGroupWindows();
    if (c.logged) {
      EXPECT_NE(ReadFile(log).find(c.logged), std::string::npos) << c.args << ": " << ReadFile(log);
    }
    EXPECT_EQ(Exists("C:\\ptest\\Silent Dir\\parcelo32.exe"), c.installed) << c.args;
    EXPECT_EQ(KeyExists(kAppPaths), c.installed) << c.args;
  }
}

TEST_F(SetupTest, SystemDirectoryCopiesFollowProductVersions) {
  const std::string newer = g_build + "\\setuptest\\ptversion2_0.dll";
  const std::string older = g_build + "\\setuptest\\ptversion1_5.dll";
  const std::string system = SystemDirectory() + "\\";
  ASSERT_NO_FATAL_FAILURE(MakeSource("C:\\ptsrc", {{"setup_systest.exe", g_build + "\\setup_systest.exe"},
                                                   {"ptsame.dll", newer},
                                                   {"ptolder.dll", newer},
                                                   {"ptabsent.dll", newer}}));
  // The same product version with other bytes: whether it was replaced shows.
  const std::string same = ReadFile(newer) + "preinstalled";
  WriteFile(system + "ptsame.dll", same);
  ASSERT_TRUE(CopyFileA(older.c_str(), (system + "ptolder.dll").c_str(), FALSE));
  // The skipped copy's bytes count as copied: it ends at 100 %.
  InstallOrFail("C:\\ptsrc", "C:\\ptest", "setup_systest.exe");
  EXPECT_TRUE(Holds(system + "ptsame.dll", same));
  EXPECT_TRUE(Holds(system + "ptolder.dll", ReadFile(newer)));
  EXPECT_TRUE(Holds(system + "ptabsent.dll", ReadFile(newer)));
  EXPECT_EQ(ReadFile("C:\\ptsrc\\install.txt"), system + "ptabsent.dll\r\n");
}

// A desktop of its own where nothing answers Program Manager's DDE. Wine's
// desktop process answers it from hidden top-level windows of the desktop;
// once they are closed the desktop has no Program Manager.
class SilentDesktop {
 public:
  static constexpr const char* kName = "ptsilent";

  SilentDesktop() {
    // This thread then finds the windows there, and while it is attached the
    // desktop and its desktop process stay.
    SetThreadDesktop(handle_);
    std::thread([this] { silenced_ = Silence(); }).join();
  }
  ~SilentDesktop() {
    SetThreadDesktop(original_);
    CloseDesktop(handle_);
  }
  bool silenced() const { return silenced_; }

 private:
  static HDDEDATA CALLBACK Ignore(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) { return nullptr; }

  static BOOL CALLBACK CloseIfOf(HWND window, LPARAM process) {
    DWORD pid = 0;
    DWORD_PTR result = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == static_cast<DWORD>(process)) SendMessageTimeoutA(window, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 2000, &result);
    return TRUE;
  }

  // The process that takes up a conversation with Program Manager on this
  // thread's desktop, or 0.
  static DWORD ProgmanProcess() {
    DWORD instance = 0, process = 0;
    if (DdeInitializeA(&instance, Ignore, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) return 0;
    HSZ name = DdeCreateStringHandleA(instance, "PROGMAN", CP_WINANSI);
    if (HCONV conversation = DdeConnect(instance, name, name, nullptr)) {
      CONVINFO info = {};
      info.cb = sizeof info;
      DdeQueryConvInfo(conversation, QID_SYNC, &info);
      GetWindowThreadProcessId(info.hwndPartner, &process);
      DdeDisconnect(conversation);
    }
    DdeFreeStringHandle(instance, name);
    DdeUninitialize(instance);
    return process;
  }

  bool Silence() {
    if (!SetThreadDesktop(handle_)) return false;
    DWORD server = 0;
    for (int i = 0; i < 200 && !(server = ProgmanProcess()); ++i) Sleep(50);
    EnumDesktopWindows(handle_, CloseIfOf, server);
    return server && !ProgmanProcess();
  }

  HDESK original_ = GetThreadDesktop(GetCurrentThreadId());
  HDESK handle_ = CreateDesktopA(kName, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  bool silenced_ = false;
};

// For scripts/screenshot: takes setup.exe through its dialogs where no
// Program Manager answers, so that the setup dialog stays at 100 %. At each
// stage it writes MARKERS\<stage> and goes on once the script, having taken
// its picture, has removed that file.
int TakeShots(const std::string& markers) {
  RemoveAllState();
  SilentDesktop desktop;
  if (!desktop.silenced()) return 1;
  const Stage stage = [&markers](const char* name, HWND) {
    const std::string marker = markers + "\\" + name;
    WriteFile(marker, "");
    for (int i = 0; i < 600 && Exists(marker); ++i) Sleep(100);
  };
  SetupRun setup;
  const bool full = Install(setup, g_dist, "C:\\ptest", {{}, "setup.exe", SilentDesktop::kName, stage}).percent == "100 %";
  setup.AnswerBox(IDOK);
  HWND dialog = setup.Find("#32770", "Setup ");
  if (!full || !dialog) return 1;
  stage("progress", dialog);
  Press(dialog, 400);
  const bool ended = setup.Exited(20000);
  RemoveAllState();
  return ended ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  setvbuf(stdout, nullptr, _IONBF, 0);
  const bool shots = argc == 5 && std::string(argv[1]) == "--shots";
  if (argc != 3 && !shots) {
    std::fprintf(stderr, "usage: setup_e2e_tests.exe [gtest options] DIST BUILD\n"
                         "       setup_e2e_tests.exe --shots MARKERS DIST BUILD\n");
    return 2;
  }
  g_dist = WindowsPath(argv[argc - 2]);
  g_build = WindowsPath(argv[argc - 1]);
  return shots ? TakeShots(WindowsPath(argv[2])) : RUN_ALL_TESTS();
}
