// printf-style formatting into a std::string, for the short status and
// progress texts of the engine (cut at 255 characters).
#pragma once

#include <string>

namespace text {

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string Format(const char* format, ...);

}  // namespace text
