#include "shell/tasklist_view.h"

#include <commctrl.h>

#include <string>
#include <unordered_map>

#include "platform/tasklist.h"
#include "shell/shell.h"

namespace shell {
namespace {

// Private message of the subclassed list view: wparam is a row id, lparam a
// RowRequest. Handled on the user-interface thread, so the lookup of the row
// and the request's action form one step that no other list change can split.
constexpr UINT kRunWithRow = WM_APP + 1;

struct RowRequest {
  const std::function<void(int row)>* action;
  bool ran;
};

// Every call is a synchronous message: from a worker it waits until the
// user-interface thread has processed it, which is why that thread never
// waits for a worker.
class ListViewBody : public tasklist::Port {
 public:
  void Attach(HWND list, HWND title_window) {
    list_ = list;
    title_window_ = title_window;
    last_index_.clear();
    previous_proc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ListProc)));
  }

  int RowCount() override { return static_cast<int>(SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0)); }

  int InsertRowWithId(int index, const std::string& text, tasklist::RowId id) override {
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = index;
    item.pszText = const_cast<char*>(text.c_str());
    item.lParam = static_cast<LPARAM>(id);
    return static_cast<int>(SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
  }

  tasklist::RowId IdOf(int row) override {
    LVITEMA item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (!SendMessageA(list_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return tasklist::kNoRow;
    return static_cast<tasklist::RowId>(item.lParam);
  }

  void WithRow(tasklist::RowId id, const std::function<void(int row)>& action) override {
    RowRequest request = {&action, false};
    SendMessageA(list_, kRunWithRow, id, reinterpret_cast<LPARAM>(&request));
    // The list is gone (the window was destroyed): so is the row.
    if (!request.ran) action(-1);
  }

  bool DeleteRow(int row) override { return SendMessageA(list_, LVM_DELETEITEM, row, 0) != 0; }

  void DeleteAllRows() override { SendMessageA(list_, LVM_DELETEALLITEMS, 0, 0); }

  void DeleteRows(const std::vector<int>& ascending) override {
    if (static_cast<int>(ascending.size()) == RowCount()) {
      DeleteAllRows();
      return;
    }
    SetRedraw(false);
    for (auto row = ascending.rbegin(); row != ascending.rend(); ++row) DeleteRow(*row);
    SetRedraw(true);
  }

  void SetRedraw(bool on) override {
    SendMessageA(list_, WM_SETREDRAW, on ? TRUE : FALSE, 0);
    if (on) InvalidateRect(list_, nullptr, TRUE);
  }

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
  static LRESULT CALLBACK ListProc(HWND list, UINT message, WPARAM wparam, LPARAM lparam);

  // The current index of the row with id; -1 when it is gone.
  // User-interface thread only.
  int IndexOf(tasklist::RowId id) {
    if (id == tasklist::kNoRow) return -1;
    auto hint = last_index_.find(id);
    if (hint != last_index_.end() && IdOf(hint->second) == id) return hint->second;
    LVFINDINFOA find = {};
    find.flags = LVFI_PARAM;
    find.lParam = static_cast<LPARAM>(id);
    const int row = static_cast<int>(SendMessageA(list_, LVM_FINDITEMA, static_cast<WPARAM>(-1),
                                                  reinterpret_cast<LPARAM>(&find)));
    if (row >= 0) {
      last_index_[id] = row;
    } else if (hint != last_index_.end()) {
      last_index_.erase(hint);
    }
    return row;
  }

  HWND list_ = nullptr;
  HWND title_window_ = nullptr;
  WNDPROC previous_proc_ = nullptr;
  // Where each id was last found: rows move only when rows above them come
  // or go, so the index is nearly always right and spares a search of the
  // whole list. User-interface thread only.
  std::unordered_map<tasklist::RowId, int> last_index_;
};

ListViewBody& Body() {
  static ListViewBody body;
  return body;
}

LRESULT CALLBACK ListViewBody::ListProc(HWND list, UINT message, WPARAM wparam, LPARAM lparam) {
  ListViewBody& body = Body();
  if (message == kRunWithRow) {
    auto* request = reinterpret_cast<RowRequest*>(lparam);
    request->ran = true;
    try {
      (*request->action)(body.IndexOf(static_cast<tasklist::RowId>(wparam)));
    } catch (...) {
      // Out of memory in the action: that list change is left undone.
    }
    return 0;
  }
  if (message == LVM_DELETEALLITEMS) body.last_index_.clear();
  RelayListMouse(list, message, wparam, lparam);
  return CallWindowProcA(body.previous_proc_, list, message, wparam, lparam);
}

}  // namespace

void InstallTaskListView(HWND list, HWND title_window) {
  ListViewBody& body = Body();
  body.Attach(list, title_window);
  tasklist::Install(&body);
}

}  // namespace shell
