#include "platform/win32_owner.h"

#include <atomic>

namespace win32 {
namespace {
std::atomic<HWND> g_owner{nullptr};

struct TopmostSearch {
  HWND main = nullptr;
  HWND found = nullptr;
};

bool IsDialog(HWND window) {
  char name[8] = {};
  GetClassNameA(window, name, sizeof name);
  return lstrcmpA(name, "#32770") == 0;
}

// EnumThreadWindows walks the thread's top-level windows from the top of the
// Z order down: the first visible, enabled dialog (or the main window) is the
// one the user is working in, since a modal one disables the windows below
// it. Tooltips and other pop-ups are passed over.
BOOL CALLBACK TakeFirstEnabled(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<TopmostSearch*>(param);
  if (!IsWindowVisible(window) || !IsWindowEnabled(window)) return TRUE;
  if (window != search->main && !IsDialog(window)) return TRUE;
  search->found = window;
  return FALSE;
}
}  // namespace

HWND PromptOwner() {
  HWND owner = g_owner.load();
  if (!owner || GetWindowThreadProcessId(owner, nullptr) != GetCurrentThreadId()) return nullptr;
  TopmostSearch search;
  search.main = owner;
  EnumThreadWindows(GetCurrentThreadId(), TakeFirstEnabled, reinterpret_cast<LPARAM>(&search));
  return search.found ? search.found : owner;
}
void SetPromptOwner(HWND owner) { g_owner.store(owner); }
HWND MainWindow() { return g_owner.load(); }
}  // namespace win32
