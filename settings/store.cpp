#include "settings/store.h"

#include <atomic>
#include <limits>

namespace settings {
namespace {

// The store installed by tests; nullptr means the platform body.
std::atomic<Store*> g_installed{nullptr};

// Values are read through a 1024-byte buffer, terminating NUL included.
constexpr std::size_t kReadLimit = 1023;

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Stored numbers may have been edited by hand, so the conversion is atol's:
// blanks, a sign, then as many digits as there are. Out-of-range values
// saturate instead of wrapping.
std::int32_t ParseNumber(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::int64_t limit = negative ? -static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::min())
                                      : std::numeric_limits<std::int32_t>::max();
  std::int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > limit) {
      magnitude = limit;
      break;
    }
  }
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

}  // namespace

Store& CurrentStore() {
  if (Store* store = g_installed.load()) return *store;
  return PlatformStore();
}

void InstallStore(Store* store) { g_installed.store(store); }

std::string ReadText(const std::string& name, const std::string& default_text) {
  std::string value;
  if (!CurrentStore().Read(name, &value)) return default_text;
  if (value.size() > kReadLimit) value.resize(kReadLimit);
  return value;
}

std::int32_t ReadNumber(const std::string& name, std::int32_t default_value) {
  std::string value;
  if (!CurrentStore().Read(name, &value)) return default_value;
  if (value.size() > kReadLimit) value.resize(kReadLimit);
  return ParseNumber(value);
}

void WriteText(const std::string& name, const std::string& text) {
  CurrentStore().Write(name, text);
}

}  // namespace settings
