#include "tasks/transfer_log.h"

#include <cstdio>

#include "engine/appstate.h"
#include "engine/session.h"
#include "platform/fs.h"
#include "tasks/entries.h"
#include "tasks/taskfile.h"

namespace transfer_log {

std::string LogPath(int mode) {
  return app::ProgramDirectory() + fs::Separator() + (mode == app::kSendMode ? "logs.txt" : "logr.txt");
}

std::string LogLine(const clock_seam::LocalTime& time, const std::string& local_file,
                    const std::string& display_url) {
  return entries::FormatEntryDate(time) + "\t" + local_file + "\t" + display_url + "\r\n";
}

void WriteLogLine(const session::Context& context) {
  const std::string line = LogLine(clock_seam::Now(), context.entry_local_file, context.entry_url);
  // One process-wide lock and one write in append mode: lines of workers
  // that finish together never interleave.
  taskfile::AppendToFile(LogPath(context.mode), line);
}

int ClearLog(int mode) {
  std::FILE* file = std::fopen(LogPath(mode).c_str(), "wb");
  if (!file) return -1;
  return std::fclose(file) == 0 ? 0 : -1;
}

}  // namespace transfer_log
