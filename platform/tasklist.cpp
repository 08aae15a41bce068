#include "platform/tasklist.h"

#include <atomic>

#include "platform/tasklist_headless.h"

namespace tasklist {
namespace {
std::atomic<Port*> g_port{nullptr};
}

Headless& HeadlessBody() {
  static Headless body;
  return body;
}

Port& Current() {
  Port* port = g_port.load();
  return port ? *port : HeadlessBody();
}

void Install(Port* port) { g_port.store(port); }

int Headless::RowCount() {
  std::lock_guard<std::mutex> hold(lock_);
  return static_cast<int>(rows_.size());
}

int Headless::InsertRow(int index, const std::string& text) {
  std::lock_guard<std::mutex> hold(lock_);
  if (index < 0) return -1;
  if (index > static_cast<int>(rows_.size())) index = static_cast<int>(rows_.size());
  Row row;
  row.cells[kLocalFile] = text;
  rows_.insert(rows_.begin() + index, row);
  return index;
}

bool Headless::DeleteRow(int row) {
  std::lock_guard<std::mutex> hold(lock_);
  if (row < 0 || row >= static_cast<int>(rows_.size())) return false;
  rows_.erase(rows_.begin() + row);
  return true;
}

void Headless::DeleteAllRows() {
  std::lock_guard<std::mutex> hold(lock_);
  rows_.clear();
}

void Headless::SetCell(int row, int column, const std::string& text) {
  std::lock_guard<std::mutex> hold(lock_);
  if (row < 0 || row >= static_cast<int>(rows_.size())) return;
  if (column < 0 || column >= kColumnCount) return;
  rows_[row].cells[column] = text;
}

std::string Headless::GetCell(int row, int column) {
  std::lock_guard<std::mutex> hold(lock_);
  if (row < 0 || row >= static_cast<int>(rows_.size())) return std::string();
  if (column < 0 || column >= kColumnCount) return std::string();
  return rows_[row].cells[column];
}

bool Headless::IsSelected(int row) {
  std::lock_guard<std::mutex> hold(lock_);
  if (row < 0 || row >= static_cast<int>(rows_.size())) return false;
  return rows_[row].selected;
}

void Headless::SetSelected(int row, bool selected) {
  std::lock_guard<std::mutex> hold(lock_);
  if (row < 0 || row >= static_cast<int>(rows_.size())) return;
  rows_[row].selected = selected;
}

int Headless::SelectedCount() {
  std::lock_guard<std::mutex> hold(lock_);
  int n = 0;
  for (const Row& row : rows_) n += row.selected ? 1 : 0;
  return n;
}

void Headless::SetTitle(const std::string& title) {
  std::lock_guard<std::mutex> hold(lock_);
  title_ = title;
}

std::string Headless::Title() {
  std::lock_guard<std::mutex> hold(lock_);
  return title_;
}

}  // namespace tasklist
