// In-memory body of the task list port.
#pragma once

#include <array>
#include <mutex>
#include <unordered_map>
#include <string>
#include <vector>

#include "platform/tasklist.h"

namespace tasklist {

class Headless : public Port {
 public:
  int RowCount() override;
  int InsertRowWithId(int index, const std::string& text, RowId id) override;
  RowId IdOf(int row) override;
  void WithRow(RowId id, const std::function<void(int row)>& action) override;
  bool DeleteRow(int row) override;
  void DeleteAllRows() override;
  void SetCell(int row, int column, const std::string& text) override;
  std::string GetCell(int row, int column) override;
  bool IsSelected(int row) override;
  void SetSelected(int row, bool selected) override;
  int SelectedCount() override;
  void SetTitle(const std::string& title) override;

  std::string Title();

 private:
  struct Row {
    RowId id = kNoRow;
    std::array<std::string, kColumnCount> cells;
    bool selected = false;
  };
  int IndexOf(RowId id);  // -1 when gone; lock_ held

  // Recursive: an action of WithRow uses the port while the lock is held.
  std::recursive_mutex lock_;
  std::vector<Row> rows_;
  // Where each id was last found: rows move only when rows above them come
  // or go, so the index is nearly always right and spares a search.
  std::unordered_map<RowId, int> last_index_;
  std::string title_;
};

}  // namespace tasklist
