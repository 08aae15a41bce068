#include <windows.h>

#include "platform/clock.h"

namespace clock_seam {

std::uint32_t TickCount() { return GetTickCount(); }

LocalTime SystemNow() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return LocalTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

}  // namespace clock_seam
