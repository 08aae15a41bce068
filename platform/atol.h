// Numbers read from text that a person or a peer wrote, the way atol reads
// them: blanks, an optional sign, then the digits up to the first other
// character; no digits give 0. Out-of-range values saturate at the limits of a
// 32-bit long instead of wrapping.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

namespace numbers {

inline std::int32_t ReadLikeAtol(const std::string& text) {
  auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  std::size_t i = 0;
  while (i < text.size() && blank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::int64_t limit =
      negative ? -static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::min())
               : std::numeric_limits<std::int32_t>::max();
  std::int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = std::min<std::int64_t>(magnitude * 10 + (text[i] - '0'), limit);
  }
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

}  // namespace numbers
