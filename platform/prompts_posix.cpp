#include <cstdio>
#include <mutex>

#include "platform/prompts.h"

namespace prompts {

int PlatformMessage(const std::string& text, const std::string& caption, unsigned style) {
  static std::mutex print_lock;  // whole lines from concurrent workers
  std::lock_guard<std::mutex> hold(print_lock);
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  std::fflush(stderr);
  return DefaultAnswer(style);
}

void PlatformBeep(unsigned) {}

}  // namespace prompts
