// A task list body for tests: the headless table, plus the status texts that
// each row was given, in order.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/tasklist_headless.h"

namespace peers {

class RecordingList : public tasklist::Headless {
 public:
  void SetCell(int row, int column, const std::string& text) override {
    if (column == tasklist::kStatus) {
      std::lock_guard<std::mutex> hold(record_lock_);
      statuses_[row].push_back(text);
    }
    Headless::SetCell(row, column, text);
  }

  std::vector<std::string> Statuses(int row) {
    std::lock_guard<std::mutex> hold(record_lock_);
    return statuses_[row];
  }

  void ClearStatuses() {
    std::lock_guard<std::mutex> hold(record_lock_);
    statuses_.clear();
  }

 private:
  std::mutex record_lock_;
  std::map<int, std::vector<std::string>> statuses_;
};

}  // namespace peers
