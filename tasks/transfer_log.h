// The transfer logs: "logr.txt" (downloads) and "logs.txt" (uploads) in the
// program directory, one line per completed transfer, newest last:
// "MM/DD/YY HH:MM", TAB, local file, TAB, URL in display form, CR LF.
#pragma once

#include <string>
#include <vector>

#include "platform/clock.h"

namespace transfer_log {

// The log of a mode (app::kReceiveMode or app::kSendMode).
std::string LogPath(int mode);

// One log line, CR LF included, stamped with time.
std::string LogLine(const clock_seam::LocalTime& time, const std::string& local_file,
                    const std::string& display_url);

// Appends the line of an entry (its local file and URL as its worker started
// it) to the log of mode. Several workers may append at once; each line is
// written whole. A log that still cannot be written after a few tries (under
// a second in all) is reported through the prompts port, naming the log file;
// the transfer still counts as done.
void AppendLogLine(int mode, const std::string& local_file, const std::string& display_url);

// Log lines that AppendLogLine could not write, in this process so far.
int LostLines();

// The three fields the log viewer shows of a log line.
struct LogRow {
  std::string stamp;
  std::string local_file;
  std::string url;
  bool operator==(const LogRow& other) const {
    return stamp == other.stamp && local_file == other.local_file && url == other.url;
  }
};

// A line split on TAB, runs of TABs counting as one; missing fields are empty.
LogRow SplitLogLine(const std::string& line);

// The rows of the log of a mode in file order, up to its first empty line. A
// missing log gives no rows and is not created.
std::vector<LogRow> ReadLog(int mode);

// Empties the log of a mode, creating it. Returns 0 or -1.
int ClearLog(int mode);

// Removes the line that the viewer showed as row index holding row: that line
// when it still reads so, else the first line that does. Lines appended since
// the viewer read the log and all other lines stay byte for byte. Returns 0
// when a line was removed, 1 when no line reads as row, -1 when the log
// cannot be read or rewritten.
int RemoveLogLine(int mode, int index, const LogRow& row);

}  // namespace transfer_log
