// In-memory body of the task list port.
#pragma once

#include <array>
#include <mutex>
#include <string>
#include <vector>

#include "platform/tasklist.h"

namespace tasklist {

class Headless : public Port {
 public:
  int RowCount() override;
  int InsertRow(int index, const std::string& text) override;
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
    std::array<std::string, kColumnCount> cells;
    bool selected = false;
  };
  std::mutex lock_;
  std::vector<Row> rows_;
  std::string title_;
};

}  // namespace tasklist
