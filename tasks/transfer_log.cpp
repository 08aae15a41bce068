#include "tasks/transfer_log.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/fs.h"
#include "platform/prompts.h"
#include "settings/places.h"
#include "tasks/entries.h"
#include "tasks/taskfile.h"

namespace transfer_log {
namespace {

// A log held open for a moment elsewhere (a viewer, a backup, an indexer)
// gets a few more tries, 50 + 100 + 200 + 400 ms apart: under a second in all.
constexpr int kAppendTries = 5;
constexpr int kFirstPauseMs = 50;

std::atomic<int> g_lost_lines{0};

}  // namespace

std::string LogPath(int mode) {
  return app::ProgramDirectory() + fs::Separator() + (mode == app::kSendMode ? "logs.txt" : "logr.txt");
}

std::string LogLine(const clock_seam::LocalTime& time, const std::string& local_file,
                    const std::string& display_url) {
  return entries::FormatEntryDate(time) + "\t" + local_file + "\t" + display_url + "\r\n";
}

void AppendLogLine(int mode, const std::string& local_file, const std::string& display_url) {
  const std::string line = LogLine(clock_seam::Now(), local_file, display_url);
  const std::string path = LogPath(mode);
  // One process-wide lock and one write in append mode: lines of workers
  // that finish together never interleave.
  for (int tries = 1, pause_ms = kFirstPauseMs;; ++tries, pause_ms *= 2) {
    if (taskfile::AppendToFile(path, line) == 0) return;
    if (tries == kAppendTries) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
  }
  ++g_lost_lines;
  prompts::Message("Cannot write the log file " + path + ": " + local_file +
                       " was transferred but is not logged",
                   "Error", prompts::kOk | prompts::kIconExclamation | prompts::kTaskModal);
}

int LostLines() { return g_lost_lines.load(); }

LogRow SplitLogLine(const std::string& line) {
  LogRow row;
  std::string* const fields[] = {&row.stamp, &row.local_file, &row.url};
  std::size_t position = line.find_first_not_of('\t');
  for (std::string* field : fields) {
    if (position == std::string::npos || position >= line.size()) break;
    const std::size_t end = line.find('\t', position);
    *field = line.substr(position, end == std::string::npos ? std::string::npos : end - position);
    position = end == std::string::npos ? end : line.find_first_not_of('\t', end);
  }
  return row;
}

std::vector<LogRow> ReadLog(int mode) {
  std::vector<std::string> lines;
  taskfile::ReadLines(LogPath(mode), &lines);  // a missing log is an empty one
  std::vector<LogRow> rows;
  rows.reserve(lines.size());
  for (const std::string& line : lines) rows.push_back(SplitLogLine(line));
  return rows;
}

// Clear and remove go through the file toolkit's lock, which the appends of
// AppendLogLine hold too: an append is never lost or torn by them.
int ClearLog(int mode) { return taskfile::EmptyFile(LogPath(mode)); }

int RemoveLogLine(int mode, int index, const LogRow& row) {
  return taskfile::DeleteMatchingLine(LogPath(mode), index,
                                      [&row](const std::string& line) { return SplitLogLine(line) == row; });
}

}  // namespace transfer_log
