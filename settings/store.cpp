#include "settings/store.h"

#include <atomic>

#include "platform/atol.h"

namespace settings {
namespace {

// The store installed by tests; nullptr means the platform body.
std::atomic<Store*> g_installed{nullptr};

// Values are read through a 1024-byte buffer, terminating NUL included.
constexpr std::size_t kReadLimit = 1023;

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
  return numbers::ReadLikeAtol(value);
}

void WriteText(const std::string& name, const std::string& text) {
  CurrentStore().Write(name, text);
}

}  // namespace settings
