// Progress of a running transfer: the status, byte, time and rate columns of
// its row. The pumps call ReportProgress through their throttle; the job layer
// provides the reporter that writes the columns.
#pragma once

namespace session {
struct Context;
}

namespace progress {

// Reports the context's bytes done, total size and start tick. Calls the
// installed reporter; does nothing while none is installed.
void ReportProgress(const session::Context& context);

// Installs the reporter (nullptr removes it). Safe from any thread.
using Reporter = void (*)(const session::Context& context);
void InstallReporter(Reporter reporter);

}  // namespace progress
