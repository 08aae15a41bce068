#include <time.h>

#include "platform/clock.h"

namespace clock_seam {

std::uint32_t TickCount() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  std::uint64_t ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u + ts.tv_nsec / 1000000u;
  return static_cast<std::uint32_t>(ms);
}

LocalTime SystemNow() {
  time_t now = time(nullptr);
  tm parts;
  localtime_r(&now, &parts);
  return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                   parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

}  // namespace clock_seam
