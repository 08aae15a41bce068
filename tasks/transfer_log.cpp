#include "tasks/transfer_log.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "engine/appstate.h"
#include "engine/session.h"
#include "platform/fs.h"
#include "platform/prompts.h"
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

void WriteLogLine(const session::Context& context) {
  const std::string line = LogLine(clock_seam::Now(), context.entry_local_file, context.entry_url);
  const std::string path = LogPath(context.mode);
  // One process-wide lock and one write in append mode: lines of workers
  // that finish together never interleave.
  for (int tries = 1, pause_ms = kFirstPauseMs;; ++tries, pause_ms *= 2) {
    if (taskfile::AppendToFile(path, line) == 0) return;
    if (tries == kAppendTries) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
  }
  ++g_lost_lines;
  prompts::Message("Cannot write the log file " + path + ": " + context.entry_local_file +
                       " was transferred but is not logged",
                   "Error", prompts::kOk | prompts::kIconExclamation | prompts::kTaskModal);
}

int LostLines() { return g_lost_lines.load(); }

int ClearLog(int mode) {
  std::FILE* file = std::fopen(LogPath(mode).c_str(), "wb");
  if (!file) return -1;
  return std::fclose(file) == 0 ? 0 : -1;
}

}  // namespace transfer_log
