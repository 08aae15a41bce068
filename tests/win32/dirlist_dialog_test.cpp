// The directory chooser DIRLIST on a temporary tree with long names: what it
// lists, single click then OK, double-click, a drive's root.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "harness.h"
#include "settings/dirlist.h"
#include "resources/dirlist_ids.h"
#include "settings/dirlist_win32.h"

using harness::DialogWatcher;

namespace {

using Texts = std::vector<std::string>;

Texts Visible(HWND dialog) { return harness::Items(GetDlgItem(dialog, IDC_DIRLIST_VISIBLE), LB_GETCOUNT, LB_GETTEXT); }

bool Lists(const Texts& items, const std::string& item) {
  return std::find(items.begin(), items.end(), item) != items.end();
}

// A click on the item as the user makes it: the list tells the dialog.
void Click(HWND dialog, const std::string& item, WORD notification = LBN_SELCHANGE) {
  HWND list = GetDlgItem(dialog, IDC_DIRLIST_VISIBLE);
  const LRESULT index = SendMessageA(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                     reinterpret_cast<LPARAM>(item.c_str()));
  ASSERT_NE(index, LB_ERR) << item;
  SendMessageA(list, LB_SETCURSEL, index, 0);
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_DIRLIST_VISIBLE, notification), reinterpret_cast<LPARAM>(list));
}

void Ok(HWND dialog) { SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0); }

class Chooser : public testing::Test {
 protected:
  Chooser() {
    CreateDirectoryA(dir.File("A rather long directory name").c_str(), nullptr);
    CreateDirectoryA(dir.File("second dir").c_str(), nullptr);
    CreateDirectoryA(dir.File("second dir\\inner").c_str(), nullptr);
    harness::WriteFile(dir.File("plain file.txt"), "x");
  }

  harness::TempProgramDir dir;
};

// The real listing by long name, without files, with the drives; a single
// click entering at the first OK where a double-click on a drive enters at
// once; OK with nothing selected accepts.
TEST_F(Chooser, ListsDirectoriesByLongNameAndEntersOnOkOrDoubleClick) {
  Texts items, inside, at_root;
  std::string chosen;
  int acted = 0;  // the chooser's activations after the first are left alone
  DialogWatcher watcher([&](HWND dialog) {
    if (acted++) return;
    items = Visible(dialog);
    Click(dialog, "[second dir]");
    Ok(dialog);
    inside = Visible(dialog);
    Click(dialog, "[-c-]", LBN_DBLCLK);
    at_root = Visible(dialog);
    Ok(dialog);
  });
  EXPECT_EQ(1, dirlist::ChooseDirectory(GetModuleHandleA(nullptr), nullptr, &chosen));
  EXPECT_EQ(chosen, "C:");
  EXPECT_EQ((Texts{"[..]", "[A rather long directory name]", "[second dir]"}), Texts(items.begin(), items.begin() + 3));
  EXPECT_TRUE(Lists(items, "[-c-]"));
  EXPECT_EQ(items.size(), 3u + std::count_if(items.begin(), items.end(), [](const std::string& item) {
                                 return item.compare(0, 2, "[-") == 0;
                               }));  // no file
  EXPECT_TRUE(Lists(inside, "[inner]"));
  EXPECT_FALSE(Lists(inside, "[second dir]"));
  EXPECT_FALSE(Lists(at_root, "[..]"));
  EXPECT_TRUE(Lists(at_root, "[windows]"));
}

}  // namespace
