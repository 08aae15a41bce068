// The log viewer, driven through the real dialog: the two templates by mode,
// Clear All, the check box kept as RemoveLog, and Execute with a file type
// registered in the prefix to a handler that copies the opened file.
#include <windows.h>

#include <functional>
#include <initializer_list>

#include "settings/places.h"
#include "harness.h"
#include "settings/store.h"
#include "resources/parcelo32_ids.h"

using harness::Exists;
using harness::ListCell;
using harness::ReadFile;
using harness::WindowText;
using harness::WriteFile;

namespace {

using Texts = std::vector<std::string>;

constexpr char kTestExtension[] = ".pctest";
constexpr char kTestClass[] = "Parcelo.TestFile";

// A log line for the local file, stamped by its number.
std::string LogLine(int i, const std::string& local_file) {
  return "03/14/26 09:0" + std::to_string(i) + "\t" + local_file + "\tftp://h/pub/f" + std::to_string(i) + "\r\n";
}

// Files of type .pctest open with cmd, which copies the opened file to
// ran.txt in its working directory: the copy shows what ran and where.
// Removed again with the test.
class TestFileType {
 public:
  TestFileType() {
    Set(kTestExtension, kTestClass);
    Set(std::string(kTestClass) + "\\shell\\open\\command", "C:\\windows\\system32\\cmd.exe /c copy \"%1\" ran.txt");
  }
  ~TestFileType() {
    for (const char* key : {"\\shell\\open\\command", "\\shell\\open", "\\shell", ""}) {
      RegDeleteKeyA(HKEY_CLASSES_ROOT, (kTestClass + std::string(key)).c_str());
    }
    RegDeleteKeyA(HKEY_CLASSES_ROOT, kTestExtension);
  }

 private:
  static void Set(const std::string& key, const std::string& value) {
    RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, value.c_str(), static_cast<DWORD>(value.size()));
  }
};

// The text ran.txt gets in folder, waiting a bounded while for the handler
// process; empty when it never came.
std::string HandlerOutput(const std::string& folder) {
  for (int i = 0; i < 200; ++i) {
    const std::string text = ReadFile(folder + "\\ran.txt");
    if (!text.empty()) return text;
    Sleep(50);
  }
  return std::string();
}

// The handler may still be ending in the folder, its working directory,
// which holds the folder in use until it has.
void RemoveFolder(const std::string& folder, std::initializer_list<const char*> files) {
  for (const char* file : files) DeleteFileA((folder + "\\" + file).c_str());
  for (int i = 0; i < 200 && !RemoveDirectoryA(folder.c_str()); ++i) Sleep(50);
}

class LogViewer : public harness::WindowTest {
 protected:
  static HWND List(HWND dialog) { return GetDlgItem(dialog, IDC_LOG_LIST); }
  static int Rows(HWND dialog) { return harness::RowCount(List(dialog)); }
  static void Press(HWND dialog, int id) { SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
  static bool Ticked(HWND dialog) { return IsDlgButtonChecked(dialog, IDC_LOG_REMOVE) == BST_CHECKED; }
  static void Tick(HWND dialog, bool on) { CheckDlgButton(dialog, IDC_LOG_REMOVE, on ? BST_CHECKED : BST_UNCHECKED); }

  // Show Log: runs act once on the log dialog, answers each "Warning" box
  // with OK, then presses Close. Returns the texts of the Warning boxes.
  Texts ShowLog(const std::function<void(HWND dialog)>& act) {
    const auto seen = OnDialog(IDM_SHOWLOG, [](HWND dialog) { return WindowText(dialog) != "Warning"; },
                               [&](HWND dialog) {
                                 act(dialog);
                                 PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
                               });
    return harness::TextsOf(seen, "Warning");
  }

  // Execute on the rows selected by select, with the box ticked or not;
  // returns the rows left in the list.
  static int Execute(HWND dialog, std::initializer_list<int> select, bool tick) {
    Tick(dialog, tick);
    harness::Select(List(dialog), select);
    Press(dialog, IDC_LOG_EXECUTE);
    return Rows(dialog);
  }

  // The template shows in the caption and in the controls it has (Execute,
  // check box, Help); then the cells.
  static std::string Look(HWND dialog) {
    std::string look = WindowText(dialog) + " ";
    for (int id : {IDC_LOG_EXECUTE, IDC_LOG_REMOVE, IDC_LOG_HELP}) look += GetDlgItem(dialog, id) ? "+" : "-";
    for (int r = 0; r < Rows(dialog); ++r) {
      for (int c = 0; c < 3; ++c) look += "|" + ListCell(List(dialog), r, c);
    }
    return look;
  }

  std::string LogFile() const { return dir.File("logr.txt"); }
};

}  // namespace

// Reading and clearing the log are the native log tests'; here the two
// templates, Clear All emptying list and log of the mode with the dialog left
// open, and the download log's check box kept as RemoveLog (the upload log
// has none and leaves it).
TEST_F(LogViewer, ShowsTheLogOfTheModeInItsOwnTemplateAndClearAllEmptiesIt) {
  WriteFile(LogFile(), LogLine(1, "C:\\Down\\a.zip"));
  WriteFile(dir.File("logs.txt"), LogLine(4, "C:\\Up\\d.txt"));
  registry.Set("RemoveLog", "0");
  Open();
  std::string download, upload;
  int after = -1;
  bool open_after = false, ticked = true;
  ShowLog([&](HWND dialog) {
    download = Look(dialog);
    Press(dialog, IDOK);
    after = Rows(dialog);
    open_after = IsWindowVisible(dialog);
    ticked = Ticked(dialog);
    Tick(dialog, true);
  });
  EXPECT_EQ("1", settings::ReadText("RemoveLog", ""));
  harness::ChooseMode(1);
  ShowLog([&](HWND dialog) { upload = Look(dialog); });
  EXPECT_EQ("1", settings::ReadText("RemoveLog", ""));
  EXPECT_FALSE(ticked);
  EXPECT_EQ("FTP/HTTP Download Log +++|03/14/26 09:01|C:\\Down\\a.zip|ftp://h/pub/f1", download);
  EXPECT_EQ("FTP Upload Log ---|03/14/26 09:04|C:\\Up\\d.txt|ftp://h/pub/f4", upload);
  EXPECT_EQ(0, after);
  EXPECT_TRUE(open_after);
  EXPECT_TRUE(Exists(LogFile()));
  EXPECT_EQ("", ReadFile(LogFile()));
}

// The list shows the log as it is: a log that another program holds (reading
// allowed, rewriting not) keeps its rows through Clear All and the strike.
TEST_F(LogViewer, ClearAllAndTheStrikeThatCannotRewriteTheLogWarnAndKeepTheRows) {
  TestFileType type;
  const std::string file = dir.File("f1.pctest");
  WriteFile(file, "payload");
  const std::string log = LogLine(0, dir.File("f0.zip")) + LogLine(1, file);
  WriteFile(LogFile(), log);
  Open();
  HANDLE held = CreateFileA(LogFile().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  int cleared = -1, struck = -1;
  const Texts boxes = ShowLog([&](HWND dialog) {
    Press(dialog, IDOK);
    cleared = Rows(dialog);
    struck = Execute(dialog, {1}, true);
  });
  CloseHandle(held);
  const std::string cannot = "Cannot rewrite the log " + LogFile();
  EXPECT_EQ((Texts{cannot, cannot}), boxes);
  EXPECT_EQ((std::vector<int>{2, 2}), (std::vector<int>{cleared, struck}));
  EXPECT_EQ(log, ReadFile(LogFile()));
  EXPECT_EQ("payload", HandlerOutput(dir.File("f1")));
  RemoveFolder(dir.File("f1"), {"ran.txt", "f1.pctest"});
}

// Only the first selected row runs (f2's would fail). With the box ticked the
// executed row leaves list and log; without it both stay.
TEST_F(LogViewer, ExecuteRunsACopyOfTheFirstSelectedRowInAFolderBesideTheFile) {
  TestFileType type;
  const std::string file = dir.File("f1.pctest"), folder = dir.File("f1");
  WriteFile(file, "payload");
  const std::string first = LogLine(0, dir.File("f0.zip")), second = LogLine(1, file);
  const std::string third = LogLine(2, dir.File("f2.pctest"));
  for (bool tick : {false, true}) {
    SCOPED_TRACE(tick ? "ticked" : "not ticked");
    WriteFile(LogFile(), first + second + third);
    Open();
    int rows_after = -1;
    EXPECT_EQ(Texts{}, ShowLog([&](HWND dialog) { rows_after = Execute(dialog, {2, 1}, tick); }));
    EXPECT_EQ("payload", HandlerOutput(folder));
    EXPECT_EQ("payload", ReadFile(file));
    EXPECT_FALSE(Exists(dir.File("f2")));
    EXPECT_EQ(tick ? 2 : 3, rows_after);
    EXPECT_EQ(tick ? first + third : first + second + third, ReadFile(LogFile()));
    RemoveFolder(folder, {"ran.txt", "f1.pctest"});
  }
}

// A run that fails warns, keeps the log line, and leaves no copy and no
// folder; a local file whose copy would land elsewhere is not copied (which
// ones is the native plan table's).
TEST_F(LogViewer, ExecuteThatCannotRunWarnsAndLeavesNothingBehind) {
  const std::string parent = dir.path().substr(0, dir.path().rfind('\\'));
  const struct { std::string name, local_file, text, folder; } cases[] = {
      {"f.pcnone", dir.File("f.pcnone"), "No executable is associated with this file type", dir.File("f")},
      {"", dir.File("gone.pctest"), "Failed to run", dir.File("gone")},
      {"...pctest", dir.File("...pctest"), "Failed to run", parent + "\\...pctest"},
  };
  TestFileType type;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.local_file);
    if (!c.name.empty()) WriteFile(dir.File(c.name), "data");
    const std::string log = LogLine(0, c.local_file) + LogLine(1, dir.File("other.zip"));
    WriteFile(LogFile(), log);
    Open();
    int rows_after = -1;
    EXPECT_EQ(Texts{c.text}, ShowLog([&](HWND dialog) { rows_after = Execute(dialog, {0}, true); }));
    EXPECT_EQ(2, rows_after);
    EXPECT_EQ(log, ReadFile(LogFile()));
    EXPECT_FALSE(Exists(c.folder));
    EXPECT_EQ(c.name.empty() ? "" : "data", ReadFile(dir.File(c.name)));
    DeleteFileA(dir.File(c.name).c_str());
  }
}
