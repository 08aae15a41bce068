#include "engine/translog.h"

#include <atomic>

namespace translog {
namespace {
std::atomic<Writer> g_writer{nullptr};
}

void LogTransfer(const session::Context& context) {
  if (Writer writer = g_writer.load()) writer(context);
}

void InstallWriter(Writer writer) { g_writer.store(writer); }

}  // namespace translog
