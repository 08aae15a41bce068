// Every way an entry reaches a task besides the command line: the Enter URL
// dialog, the edit dialog, the drop target, dropped files and Paste.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "settings/places.h"
#include "harness.h"
#include "resources/parcelo32_ids.h"
#include "tasks/taskfile.h"

using harness::DialogWatcher;
using harness::ListCell;
using harness::ReadFile;
using harness::TaskLines;
using harness::WriteFile;

namespace {

std::string DialogText(HWND dialog, int id) { return harness::WindowText(GetDlgItem(dialog, id)); }

// The control's own visibility: the dialog may not be shown yet when the
// watcher first sees it.
bool Shown(HWND control) { return (GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE) != 0; }

// Presses OK; true when the dialog stayed open (an ended one is hidden until
// its modal loop destroys it), which is then cancelled.
bool OkKeepsOpen(HWND dialog) {
  SendMessageA(dialog, WM_COMMAND, IDOK, 0);
  const bool open = IsWindowVisible(dialog) != FALSE;
  if (open) PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  return open;
}

bool IsNewDialog(HWND dialog) { return GetDlgItem(dialog, IDC_NEW_BROWSE) != nullptr; }
bool IsEditDialog(HWND dialog) { return GetDlgItem(dialog, IDC_EDIT_STEPPER) != nullptr; }

template <typename Char>
void SetClipboard(HWND owner, const std::basic_string<Char>& text, UINT format) {
  ASSERT_TRUE(OpenClipboard(owner));
  EmptyClipboard();
  const size_t bytes = (text.size() + 1) * sizeof(Char);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  std::memcpy(GlobalLock(memory), text.c_str(), bytes);
  GlobalUnlock(memory);
  SetClipboardData(format, memory);
  CloseClipboard();
}
void SetClipboardText(HWND owner, const std::string& text) { SetClipboard(owner, text, CF_TEXT); }

// A drop handle naming files, as the shell posts it.
HDROP DropOf(const std::vector<std::string>& files) {
  std::string names;
  for (const std::string& f : files) names += f + '\0';
  names += '\0';
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + names.size());
  auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  std::memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), names.data(), names.size());
  GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

class Entry : public harness::WindowTest {
 protected:
  void ToSendMode() { shell::ChangeMode(app::kSendMode, false); }
  std::vector<std::string> Lines(const std::string& name) {
    std::vector<std::string> lines;
    taskfile::ReadLines(dir.File(name), &lines);
    return lines;
  }
  std::string UrlOfLine(const std::string& name, size_t index) {
    std::vector<std::string> lines = Lines(name);
    return index < lines.size() ? taskfile::SplitTaskLine(lines[index]).url : "(none)";
  }
  // Runs act on the first New or Edit dialog that command opens.
  std::vector<harness::SeenDialog> OnEntryDialog(int command, const std::function<void(HWND dialog)>& act) {
    return OnDialog(command, [](HWND dialog) { return IsNewDialog(dialog) || IsEditDialog(dialog); }, act);
  }
};

}  // namespace

// The history shows in place of the URL edit and offers the confirmed URL
// again; a URL that fails the check gets "Bad URL" and the dialog stays.
TEST_F(Entry, SendModeConfirmsADirectoryUrlAndRemembersItOnce) {
  Open();
  ToSendMode();
  const struct { const char *typed, *offered, *entered; } rounds[] = {
      {"ftp://h/up", "", "ftp://h/up/"}, {"FTP://h/up/", "ftp://h/up/", "FTP://h/up/"},
      {"gopher://h/x", "ftp://h/up/", ""}};
  for (const auto& r : rounds) {
    SCOPED_TRACE(r.typed);
    const auto seen = OnEntryDialog(IDM_NEW, [&](HWND dialog) {
      EXPECT_FALSE(Shown(GetDlgItem(dialog, IDC_NEW_URL)));
      EXPECT_TRUE(Shown(GetDlgItem(dialog, IDC_NEW_HISTORY)));
      EXPECT_EQ(r.offered, DialogText(dialog, IDC_NEW_HISTORY));
      SetDlgItemTextA(dialog, IDC_NEW_HISTORY, r.typed);
      EXPECT_EQ(!*r.entered, OkKeepsOpen(dialog));
    });
    EXPECT_EQ(harness::TextsOf(seen, "Message"), *r.entered ? std::vector<std::string>{} : std::vector<std::string>{"Bad URL"});
    EXPECT_TRUE(!*r.entered || r.entered == shell::EnteredUrl()) << shell::EnteredUrl();
  }
  // A history that cannot be read now (another program holds it, letting
  // others write but not read) is kept.
  HANDLE held = CreateFileA(dir.File("url.txt").c_str(), GENERIC_READ, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  DialogWatcher watcher(DialogWatcher::Press(IDCANCEL));
  EXPECT_EQ(0, shell::OpenNewDialog(window));
  CloseHandle(held);
  EXPECT_EQ("ftp://h/up/\r\n", ReadFile(dir.File("url.txt")));
  EXPECT_EQ(0, Rows());
}

// Links as users paste or type them: blanks and line ends around them go,
// characters beyond ASCII go out as UTF-8 escapes, words are refused.
TEST_F(Entry, PastedAndTypedLinksAreTrimmedEscapedAndCheckedWhole) {
  Open();
  // Trimming and escaping are the native URL tests'; here the wide text reaching them as UTF-8.
  const struct { const wchar_t* text; const char* link; } cases[] = {  // link nullptr: refused
      {L" http://h/\u65e5\u00fc\r\n", "http://h/%E6%97%A5%C3%BC"}, {L"plain words", nullptr}};
  size_t lines = 0;
  for (bool typed : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(typed ? "typed " : "pasted ") + (c.link ? c.link : "refused"));
      if (typed) {
        // Receive mode shows the URL edit; a refused URL keeps the dialog, with no box.
        const auto seen = OnEntryDialog(IDM_NEW, [&](HWND dialog) {
          EXPECT_TRUE(Shown(GetDlgItem(dialog, IDC_NEW_URL)));
          EXPECT_FALSE(Shown(GetDlgItem(dialog, IDC_NEW_HISTORY)));
          SetDlgItemTextW(dialog, IDC_NEW_URL, c.text);
          EXPECT_EQ(!c.link, OkKeepsOpen(dialog));
        });
        EXPECT_EQ(1u, seen.size());
      } else {
        SetClipboard(window, std::wstring(c.text), CF_UNICODETEXT);
        Command(IDM_PASTE);
      }
      lines += c.link ? 1 : 0;
      ASSERT_EQ(lines, Lines("Default.rcv").size());
      ASSERT_EQ(static_cast<int>(lines), Rows());
      if (!c.link) continue;
      EXPECT_EQ(std::string(c.link) + c.link, UrlOfLine("Default.rcv", lines - 1) + ListCell(List(), lines - 1, 1));
    }
  }
}

// Nothing is written: a port of letters would quietly become the default
// one, and a device takes the download and keeps nothing.
TEST_F(Entry, EditOkRefusesAPortOfLettersAndALocalFileThatNamesADevice) {
  WriteFile(dir.File("Default.rcv"), TaskLines({0}));
  Open();
  const struct { const char *port, *local, *box; } cases[] = {
      {"80x", "C:\\Down\\f0.zip", "Bad link"},
      {"21", "C:\\Down\\nul", "The local file names a device: nul"},
      {"", "C:\\COM1\\f0.zip", "The local file names a device: COM1"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.box);
    const auto seen = OnEntryDialog(IDM_EDIT, [&](HWND dialog) {
      SetDlgItemTextA(dialog, IDC_EDIT_PORT, c.port);
      SetDlgItemTextA(dialog, IDC_EDIT_LOCAL, c.local);
      EXPECT_TRUE(OkKeepsOpen(dialog));
    });
    EXPECT_EQ(harness::TextsOf(seen, "Error"), std::vector<std::string>{c.box});
    EXPECT_EQ(TaskLines({0}), ReadFile(dir.File("Default.rcv")));
  }
}

// The stepper goes through the selected rows, the title telling the entry's
// place among them; OK rewrites the line shown then, and keeps its status.
TEST_F(Entry, EditStepsThroughTheSelectedRowsAndOkRewritesTheShownLine) {
  WriteFile(dir.File("Default.rcv"), TaskLines({0}) + "03/14/26 09:01\tC:\\Down\\x\tStopped\thttp://joe:pw@h:8080/x\r\n" +
                                         TaskLines({2, 3}));
  Open();
  harness::Select(List(), {1, 3});
  std::vector<std::string> shown;
  auto look = [](HWND dialog) { return harness::WindowText(dialog) + ": " + DialogText(dialog, IDC_EDIT_LOCAL); };
  std::string fields;
  OnEntryDialog(IDM_EDIT, [&](HWND dialog) {
    shown.push_back(look(dialog));
    for (int request : {SB_LINEUP, SB_LINEUP, SB_LINEDOWN, SB_LINEDOWN}) {
      SendMessageA(dialog, WM_VSCROLL, MAKEWPARAM(request, 0), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_EDIT_STEPPER)));
      shown.push_back(look(dialog));
    }
    for (int id : {IDC_EDIT_URL, IDC_EDIT_PROTOCOL, IDC_EDIT_HOST, IDC_EDIT_PORT, IDC_EDIT_USER, IDC_EDIT_PASSWORD,
                   IDC_EDIT_REMOTE}) {
      fields += DialogText(dialog, id) + "|";
    }
    SetDlgItemTextA(dialog, IDC_EDIT_LOCAL, "C:\\Down\\y");
    SetDlgItemTextA(dialog, IDC_EDIT_PORT, "8081");
    SendDlgItemMessageA(dialog, IDC_EDIT_PROTOCOL, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>("https"));
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
  });
  const std::string first = "Edit Item 1 of 2: C:\\Down\\x", second = "Edit Item 2 of 2: C:\\Down\\f3.zip";
  EXPECT_EQ((std::vector<std::string>{first, second, second, first, first}), shown);
  EXPECT_EQ("http://joe:pw@h:8080/x|http|h|8080|joe|pw|/x|", fields);
  const std::vector<std::string> lines = Lines("Default.rcv");
  ASSERT_EQ(4u, lines.size());
  const taskfile::TaskLine edited = taskfile::SplitTaskLine(lines[1]);
  EXPECT_EQ("C:\\Down\\y Stopped https://joe:pw@h:8081/x", edited.local_file + " " + edited.status_word + " " + edited.url);
  EXPECT_NE("03/14/26", edited.date);
  EXPECT_EQ(TaskLines({2, 3}), lines[2] + "\r\n" + lines[3] + "\r\n");
  EXPECT_EQ("C:\\Down\\y", ListCell(List(), 1, 0));
}

// While the dialog is open a worker rewrites line 1 (Cancel keeps that), or
// the line goes (OK must not rewrite the entry that moved into its place).
// The backup holds the task as it was when the dialog opened.
TEST_F(Entry, EditLeavesALineThatChangedMeanwhile) {
  const std::string rewritten = TaskLines({0}) +
                                "03/14/26 09:01\tC:\\Down\\f1.zip\tAwaiting_command\tftp://h/moved/f1.zip\r\n" +
                                TaskLines({2});
  const struct { std::string meanwhile; int button; std::size_t errors; } cases[] = {
      {rewritten, IDCANCEL, 0}, {TaskLines({0, 2}), IDOK, 1}};
  for (const auto& c : cases) {
    WriteFile(dir.File("Default.rcv"), TaskLines({0, 1, 2}));
    Open();
    ListView_SetItemState(List(), 1, LVIS_SELECTED, LVIS_SELECTED);
    const auto seen = OnEntryDialog(IDM_EDIT, [&](HWND dialog) {
      SetDlgItemTextA(dialog, IDC_EDIT_LOCAL, "C:\\Down\\other");
      WriteFile(dir.File("Default.rcv"), c.meanwhile);
      PostMessageA(dialog, WM_COMMAND, c.button, 0);
    });
    EXPECT_EQ(c.meanwhile, ReadFile(dir.File("Default.rcv"))) << c.button;
    EXPECT_EQ(TaskLines({0, 1, 2}), ReadFile(dir.File("urltemp.txt")));
    EXPECT_EQ(c.errors, harness::TextsOf(seen, "Error").size()) << c.button;
  }
}

// Which effect the keys choose is the native drop table's; here the COM body
// handing keys and effects through, and the mode.
TEST_F(Entry, DropTargetTakesTextInReceiveModeOnly) {
  Open();
  SetClipboardText(window, "http://h/dir/a.zip");
  IDataObject* data = nullptr;
  ASSERT_EQ(S_OK, OleGetClipboard(&data));
  IDropTarget* target = shell::NewDropTarget();
  POINTL point = {0, 0};
  // Control+Shift asks for a link: refused where only copy is allowed, taken where link is.
  for (DWORD allowed : {DWORD{DROPEFFECT_COPY}, DWORD{DROPEFFECT_COPY | DROPEFFECT_LINK}}) {
    DWORD effect = allowed;
    ASSERT_EQ(S_OK, target->DragEnter(data, MK_CONTROL | MK_SHIFT, point, &effect));
    EXPECT_EQ(allowed & DROPEFFECT_LINK, effect);
    effect = allowed;
    EXPECT_EQ(S_OK, target->Drop(data, MK_CONTROL | MK_SHIFT, point, &effect));
  }
  ASSERT_EQ(1, Rows());
  EXPECT_EQ("http://h/dir/a.zip", ListCell(List(), 0, 1));

  // Send mode: the cursor accepts the text, the drop adds nothing.
  ToSendMode();
  DWORD effect = DROPEFFECT_COPY;
  ASSERT_EQ(S_OK, target->DragEnter(data, 0, point, &effect));
  EXPECT_EQ(static_cast<DWORD>(DROPEFFECT_COPY), effect);
  EXPECT_EQ(S_OK, target->Drop(data, 0, point, &effect));
  EXPECT_EQ(0, Rows());
  EXPECT_TRUE(Lines("Default.snd").empty());
  EXPECT_EQ(S_OK, target->DragLeave());
  data->Release();
  EXPECT_EQ(0u, target->Release());
}

// Receive mode takes no dropped files: the window accepts them in send mode only.
TEST_F(Entry, DroppedFilesBecomeUploadsInSendMode) {
  WriteFile(dir.File("a.txt"), "a");
  WriteFile(dir.File("b.txt"), "b");
  Open();
  int dialogs = 0;
  DialogWatcher watcher([&](HWND dialog) {
    ++dialogs;
    SetDlgItemTextA(dialog, IDC_NEW_HISTORY, "ftp://h/in/");
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
  });
  ToSendMode();
  // A path too long for the list is refused, not cut into another name.
  const std::string too_long = dir.File(std::string(1030, 'c'));
  SendMessageA(window, WM_DROPFILES,
               reinterpret_cast<WPARAM>(DropOf({dir.File("a.txt"), too_long, dir.File("b.txt")})), 0);
  EXPECT_EQ(1, dialogs);
  ASSERT_EQ(2, Rows());
  std::string entries;
  for (const std::string& line : Lines("Default.snd")) {
    entries += taskfile::SplitTaskLine(line).local_file + " " + taskfile::SplitTaskLine(line).url + "|";
  }
  EXPECT_EQ(dir.File("a.txt") + " ftp://h/in/a.txt|" + dir.File("b.txt") + " ftp://h/in/b.txt|", entries);
}

// Paste takes a link, or in send mode an existing file for the dialog to
// send, and leaves the clipboard free, also while the dialog asks.
TEST_F(Entry, PasteTakesAUrlOrAnExistingPathAndFreesTheClipboard) {
  Open();
  const auto clipboard_free = [] { return OpenClipboard(nullptr) && CloseClipboard(); };
  for (const std::string& text : {std::string("http://h/dir/a.zip"), std::string("plain words"), std::string(1100, 'x')}) {
    SetClipboardText(window, text);
    Command(IDM_PASTE);
    EXPECT_EQ(1, Rows()) << text.substr(0, 20);
    EXPECT_TRUE(clipboard_free());
  }
  ToSendMode();
  WriteFile(dir.File("a.txt"), "a");
  const struct { std::string path; DialogWatcher::Handler act; std::vector<std::string> errors; int rows; } cases[] = {
      {dir.File("missing.txt"), DialogWatcher::Press(IDOK), {"File you are trying to paste does not exist"}, 0},
      {dir.File("a.txt"), DialogWatcher::Press(IDCANCEL), {}, 0},
      {dir.File("a.txt"), [&](HWND dialog) {
         EXPECT_TRUE(clipboard_free());
         SetDlgItemTextA(dialog, IDC_NEW_HISTORY, "ftp://h/in");
         PostMessageA(dialog, WM_COMMAND, IDOK, 0);
       }, {}, 1}};
  for (const auto& c : cases) {
    SetClipboardText(window, c.path);
    DialogWatcher watcher(c.act);
    Command(IDM_PASTE);
    ASSERT_EQ(1u, watcher.seen().size());
    EXPECT_EQ(c.errors, harness::TextsOf(watcher.seen(), "Error"));
    EXPECT_EQ(c.rows, Rows());
    EXPECT_TRUE(clipboard_free());
  }
  EXPECT_EQ("ftp://h/in/a.txt", UrlOfLine("Default.snd", 0));
}
