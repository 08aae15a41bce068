#include "platform/win32_owner.h"

#include <atomic>

namespace win32 {
namespace {
std::atomic<HWND> g_owner{nullptr};
}
HWND PromptOwner() {
  HWND owner = g_owner.load();
  if (!owner || GetWindowThreadProcessId(owner, nullptr) != GetCurrentThreadId()) return nullptr;
  return owner;
}
void SetPromptOwner(HWND owner) { g_owner.store(owner); }
HWND MainWindow() { return g_owner.load(); }
}  // namespace win32
