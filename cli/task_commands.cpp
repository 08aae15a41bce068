#include <cstdio>
#include <set>
#include <string>

#include "cli/cli.h"
#include "settings/places.h"
#include "tasks/url.h"
#include "platform/tasklist.h"
#include "tasks/entries.h"

namespace cli {

namespace {

// Two downloads into one file cannot run at once (the second finds the file
// held and fails), so an entry added for a local file that another entry
// already names is pointed out.
void WarnOfSharedLocalFile() {
  tasklist::Port& list = tasklist::Current();
  const int added = list.RowCount() - 1;
  const std::string local_file = list.GetCell(added, tasklist::kLocalFile);
  for (int row = 0; row < added; ++row) {
    if (list.GetCell(row, tasklist::kLocalFile) != local_file) continue;
    std::fprintf(stderr, "parcelo: warning: row %d already downloads into %s\n", row, local_file.c_str());
    return;
  }
}

}  // namespace

bool AddLink(const std::string& text, const std::string& local_name) {
  url::Record record;
  std::string display;
  std::string stored;
  if (url::Parse(text, &record, &display, &stored) != 0) {
    std::fprintf(stderr, "Bad link: %s\n", text.c_str());
    return false;
  }
  // AddEntry has shown its own reason through the prompts port.
  if (entries::AddEntry(display, record.path, stored, local_name) != 0) return false;
  if (app::CurrentMode() == app::kReceiveMode) WarnOfSharedLocalFile();
  return true;
}

bool ReadRow(const std::string& text, int row_count, int* row) {
  if (text.empty() || text.size() > 9) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value >= row_count) return false;
  *row = value;
  return true;
}

int RunAdd(const Invocation& invocation) {
  if (!invocation.arguments.empty() && invocation.arguments[0] == "--send") {
    return RunAddUploads(invocation);
  }
  if (invocation.arguments.empty()) {
    std::fprintf(stderr, "parcelo: add needs at least one URL\n");
    return kExitRefused;
  }
  if (app::CurrentMode() != app::kReceiveMode) {
    std::fprintf(stderr, "parcelo: %s is an upload task; add makes download entries\n",
                 invocation.task_path.c_str());
    return kExitRefused;
  }
  int result = kExitOk;
  for (const std::string& text : invocation.arguments) {
    if (!AddLink(text)) result = kExitRefused;
  }
  return result;
}

int RunList(const Invocation& invocation) {
  if (!invocation.arguments.empty()) {
    std::fprintf(stderr, "parcelo: list takes no arguments\n");
    return kExitRefused;
  }
  tasklist::Port& list = tasklist::Current();
  const int rows = list.RowCount();
  for (int row = 0; row < rows; ++row) {
    std::printf("%d\t%s\t%s\t%s\t%s\n", row, list.GetCell(row, tasklist::kLocalFile).c_str(),
                list.GetCell(row, tasklist::kUrl).c_str(),
                list.GetCell(row, tasklist::kStatus).c_str(),
                list.GetCell(row, tasklist::kDate).c_str());
  }
  return kExitOk;
}

int RunDelete(const Invocation& invocation) {
  if (invocation.arguments.empty()) {
    std::fprintf(stderr, "parcelo: delete needs at least one ROW\n");
    return kExitRefused;
  }
  tasklist::Port& list = tasklist::Current();
  const int row_count = list.RowCount();
  std::set<int> rows;
  bool all_good = true;
  for (const std::string& text : invocation.arguments) {
    int row;
    if (ReadRow(text, row_count, &row)) {
      rows.insert(row);
    } else {
      std::fprintf(stderr, "Bad row number: %s\n", text.c_str());
      all_good = false;
    }
  }
  if (!all_good) return kExitRefused;
  for (int row = 0; row < row_count; ++row) list.SetSelected(row, rows.count(row) != 0);
  const int deleted = entries::DeleteEntries();
  return deleted == static_cast<int>(rows.size()) ? kExitOk : kExitFailed;
}

}  // namespace cli
