// Time seam: a millisecond tick count and the local wall-clock time.
#pragma once

#include <cstdint>

namespace clock_seam {

// Milliseconds from an arbitrary start, wrapping like GetTickCount.
std::uint32_t TickCount();

struct LocalTime {
  int year;    // e.g. 2026
  int month;   // 1-12
  int day;     // 1-31
  int hour;    // 0-23
  int minute;  // 0-59
  int second;  // 0-59
};
LocalTime Now();

}  // namespace clock_seam
