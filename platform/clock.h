// Time seam: a millisecond tick count and the local wall-clock time.
#pragma once

#include <cstdint>

namespace clock_seam {

// Milliseconds from an arbitrary start, wrapping like GetTickCount.
std::uint32_t TickCount();

// Milliseconds left of a time-out of timeout_ms that began at the tick count
// start; 0 once it has passed (or when timeout_ms is not positive). The
// subtraction wraps with the tick count, so a deadline across the wrap holds.
inline int MillisecondsLeft(std::uint32_t start, int timeout_ms) {
  const std::uint32_t spent = TickCount() - start;
  if (timeout_ms <= 0 || spent >= static_cast<std::uint32_t>(timeout_ms)) return 0;
  return timeout_ms - static_cast<int>(spent);
}

struct LocalTime {
  int year;    // e.g. 2026
  int month;   // 1-12
  int day;     // 1-31
  int hour;    // 0-23
  int minute;  // 0-59
  int second;  // 0-59
};
// The local time: the system's, unless an override is installed.
LocalTime Now();
LocalTime SystemNow();

// Replaces the local time that Now() reports, so that tests and the front
// end's test hook can set the time of day; nullptr restores the system's.
// Install it before other threads read the time.
using NowFunction = LocalTime (*)();
void OverrideNow(NowFunction now);

}  // namespace clock_seam
