#include "engine/progress.h"

#include <atomic>

namespace progress {
namespace {
std::atomic<Reporter> g_reporter{nullptr};
}

void ReportProgress(const session::Context& context) {
  if (Reporter reporter = g_reporter.load()) reporter(context);
}

void InstallReporter(Reporter reporter) { g_reporter.store(reporter); }

}  // namespace progress
