// Transfer log: a completed transfer appends its entry to the log of its mode.
// The pumps call LogTransfer once per complete transfer; the front ends
// install the writer of the log line, transfer_log::WriteLogLine.
#pragma once

namespace session {
struct Context;
}

namespace translog {

// Logs the context's entry. Calls the installed writer; does nothing while
// none is installed.
void LogTransfer(const session::Context& context);

// Installs the writer (nullptr removes it). Safe from any thread.
using Writer = void (*)(const session::Context& context);
void InstallWriter(Writer writer);

}  // namespace translog

namespace transfer_log {

// The writer of translog::InstallWriter: appends the line of the context's
// entry, as its worker started it, to the log of the context's mode
// (transfer_log::AppendLogLine of tasks/transfer_log.h).
void WriteLogLine(const session::Context& context);

}  // namespace transfer_log
