#include "platform/win32_owner.h"

#include <atomic>

namespace win32 {
namespace {
std::atomic<HWND> g_owner{nullptr};
}
HWND PromptOwner() { return g_owner.load(); }
void SetPromptOwner(HWND owner) { g_owner.store(owner); }
}  // namespace win32
