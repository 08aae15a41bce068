#include "platform/win32_owner.h"

#include <atomic>

namespace win32 {
namespace {
std::atomic<HWND> g_owner{nullptr};

struct TopmostSearch {
  HWND found = nullptr;
};

// EnumThreadWindows walks the thread's top-level windows from the top of the
// Z order down: the first visible, enabled one is the dialog or sheet the
// user is working in (a modal one disables the windows below it).
BOOL CALLBACK TakeFirstEnabled(HWND window, LPARAM search) {
  if (!IsWindowVisible(window) || !IsWindowEnabled(window)) return TRUE;
  reinterpret_cast<TopmostSearch*>(search)->found = window;
  return FALSE;
}
}  // namespace

HWND PromptOwner() {
  HWND owner = g_owner.load();
  if (!owner || GetWindowThreadProcessId(owner, nullptr) != GetCurrentThreadId()) return nullptr;
  TopmostSearch search;
  EnumThreadWindows(GetCurrentThreadId(), TakeFirstEnabled, reinterpret_cast<LPARAM>(&search));
  return search.found ? search.found : owner;
}
void SetPromptOwner(HWND owner) { g_owner.store(owner); }
HWND MainWindow() { return g_owner.load(); }
}  // namespace win32
