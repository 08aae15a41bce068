#include "engine/translog.h"

#include <atomic>

#include "engine/session.h"
#include "tasks/transfer_log.h"

namespace translog {
namespace {
std::atomic<Writer> g_writer{nullptr};
}

void LogTransfer(const session::Context& context) {
  if (Writer writer = g_writer.load()) writer(context);
}

void InstallWriter(Writer writer) { g_writer.store(writer); }

}  // namespace translog

namespace transfer_log {

void WriteLogLine(const session::Context& context) {
  AppendLogLine(context.mode, context.entry_local_file, context.entry_url);
}

}  // namespace transfer_log
