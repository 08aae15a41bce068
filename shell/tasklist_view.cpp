#include "shell/tasklist_view.h"

#include <commctrl.h>

#include <string>

#include "platform/tasklist.h"

namespace shell {
namespace {

// Every call is a synchronous message: from a worker it waits until the
// user-interface thread has processed it, which is why that thread never
// waits for a worker.
class ListViewBody : public tasklist::Port {
 public:
  void Attach(HWND list, HWND title_window) {
    list_ = list;
    title_window_ = title_window;
  }

  int RowCount() override { return static_cast<int>(SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0)); }

  int InsertRow(int index, const std::string& text) override {
    LVITEMA item = {};
    item.mask = LVIF_TEXT;
    item.iItem = index;
    item.pszText = const_cast<char*>(text.c_str());
    return static_cast<int>(SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
  }

  bool DeleteRow(int row) override { return SendMessageA(list_, LVM_DELETEITEM, row, 0) != 0; }

  void DeleteAllRows() override { SendMessageA(list_, LVM_DELETEALLITEMS, 0, 0); }

  void SetCell(int row, int column, const std::string& text) override {
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text.c_str());
    SendMessageA(list_, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
  }

  std::string GetCell(int row, int column) override {
    char buffer[1032] = {};
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = sizeof buffer - 1;
    SendMessageA(list_, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    return buffer;
  }

  bool IsSelected(int row) override {
    return (SendMessageA(list_, LVM_GETITEMSTATE, row, LVIS_SELECTED) & LVIS_SELECTED) != 0;
  }

  void SetSelected(int row, bool selected) override {
    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED;
    item.state = selected ? LVIS_SELECTED : 0;
    SendMessageA(list_, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
  }

  int SelectedCount() override { return static_cast<int>(SendMessageA(list_, LVM_GETSELECTEDCOUNT, 0, 0)); }

  void SetTitle(const std::string& title) override { SetWindowTextA(title_window_, title.c_str()); }

 private:
  HWND list_ = nullptr;
  HWND title_window_ = nullptr;
};

}  // namespace

void InstallTaskListView(HWND list, HWND title_window) {
  static ListViewBody body;
  body.Attach(list, title_window);
  tasklist::Install(&body);
}

}  // namespace shell
