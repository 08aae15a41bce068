#include "platform/tasklist.h"

#include <atomic>

#include "platform/tasklist_headless.h"

namespace tasklist {
namespace {
std::atomic<Port*> g_port{nullptr};
std::atomic<RowId> g_last_id{kNoRow};
}  // namespace

RowId NewRowId() {
  RowId id = ++g_last_id;
  // After 2^32 insertions the count wraps; 0 stays reserved for no row.
  while (id == kNoRow) id = ++g_last_id;
  return id;
}

void Port::SetCellOf(RowId id, int column, const std::string& text) {
  WithRow(id, [&](int row) {
    if (row >= 0) SetCell(row, column, text);
  });
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
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return static_cast<int>(rows_.size());
}

int Headless::InsertRowWithId(int index, const std::string& text, RowId id) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (index < 0) return -1;
  if (index > static_cast<int>(rows_.size())) index = static_cast<int>(rows_.size());
  Row row;
  row.id = id;
  row.cells[kLocalFile] = text;
  rows_.insert(rows_.begin() + index, row);
  return index;
}

RowId Headless::IdOf(int row) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (row < 0 || row >= static_cast<int>(rows_.size())) return kNoRow;
  return rows_[row].id;
}

int Headless::IndexOf(RowId id) {
  if (id == kNoRow) return -1;
  auto hint = last_index_.find(id);
  if (hint != last_index_.end() && hint->second < static_cast<int>(rows_.size()) &&
      rows_[hint->second].id == id) {
    return hint->second;
  }
  for (int row = 0; row < static_cast<int>(rows_.size()); ++row) {
    if (rows_[row].id == id) {
      last_index_[id] = row;
      return row;
    }
  }
  if (hint != last_index_.end()) last_index_.erase(hint);
  return -1;
}

void Headless::WithRow(RowId id, const std::function<void(int row)>& action) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  action(IndexOf(id));
}

bool Headless::DeleteRow(int row) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (row < 0 || row >= static_cast<int>(rows_.size())) return false;
  rows_.erase(rows_.begin() + row);
  return true;
}

void Headless::DeleteAllRows() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  rows_.clear();
  last_index_.clear();
}

void Headless::SetCell(int row, int column, const std::string& text) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (row < 0 || row >= static_cast<int>(rows_.size())) return;
  if (column < 0 || column >= kColumnCount) return;
  rows_[row].cells[column] = text;
}

std::string Headless::GetCell(int row, int column) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (row < 0 || row >= static_cast<int>(rows_.size())) return std::string();
  if (column < 0 || column >= kColumnCount) return std::string();
  return rows_[row].cells[column];
}

bool Headless::IsSelected(int row) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (row < 0 || row >= static_cast<int>(rows_.size())) return false;
  return rows_[row].selected;
}

void Headless::SetSelected(int row, bool selected) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (row < 0 || row >= static_cast<int>(rows_.size())) return;
  rows_[row].selected = selected;
}

int Headless::SelectedCount() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  int n = 0;
  for (const Row& row : rows_) n += row.selected ? 1 : 0;
  return n;
}

void Headless::SetTitle(const std::string& title) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  title_ = title;
}

std::string Headless::Title() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return title_;
}

}  // namespace tasklist
