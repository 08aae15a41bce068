// The transfer logs: "logr.txt" (downloads) and "logs.txt" (uploads) in the
// program directory, one line per completed transfer, newest last:
// "MM/DD/YY HH:MM", TAB, local file, TAB, URL in display form, CR LF.
#pragma once

#include <string>

#include "platform/clock.h"

namespace session {
struct Context;
}

namespace transfer_log {

// The log of a mode (app::kReceiveMode or app::kSendMode).
std::string LogPath(int mode);

// One log line, CR LF included, stamped with time.
std::string LogLine(const clock_seam::LocalTime& time, const std::string& local_file,
                    const std::string& display_url);

// The writer of translog::InstallWriter: appends the line of the context's
// entry, as its worker started it, to the log of the context's mode. Several
// workers may append at once; each line is written whole. A log that still
// cannot be written after a few tries (under a second in all) is reported
// through the prompts port, naming the log file; the transfer still counts as
// done.
void WriteLogLine(const session::Context& context);

// Log lines that WriteLogLine could not write, in this process so far.
int LostLines();

// Empties the log of a mode, creating it. Returns 0 or -1.
int ClearLog(int mode);

}  // namespace transfer_log
