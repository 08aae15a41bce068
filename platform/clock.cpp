#include "platform/clock.h"

#include <atomic>

namespace clock_seam {
namespace {
std::atomic<NowFunction> g_now{nullptr};
}  // namespace

LocalTime Now() {
  const NowFunction now = g_now.load();
  return now ? now() : SystemNow();
}

void OverrideNow(NowFunction now) { g_now.store(now); }

}  // namespace clock_seam
