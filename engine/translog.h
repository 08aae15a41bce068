// Transfer log: a completed transfer appends its entry to the log of its mode.
// The pumps call LogTransfer once per complete transfer; the job layer provides
// the writer of the log line.
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
