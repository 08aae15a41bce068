#include <windows.h>

#include "platform/filelock.h"

namespace filelock {
namespace {
HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
}  // namespace

Hold::Hold(const std::string& lock_path, Kind kind) {
  // Every holder shares the file itself; only the byte-range lock excludes.
  HANDLE h = CreateFileA(lock_path.c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  handle_ = reinterpret_cast<std::intptr_t>(h);
  OVERLAPPED at = {};
  const DWORD flags = kind == kExclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0;
  // Without LOCKFILE_FAIL_IMMEDIATELY the call waits until the range is free.
  locked_ = LockFileEx(h, flags, 0, 1, 0, &at) != 0;
}

Hold::~Hold() { Release(); }

void Hold::Release() {
  if (handle_ == -1) return;
  if (locked_) {
    OVERLAPPED at = {};
    UnlockFileEx(AsHandle(handle_), 0, 1, 0, &at);
  }
  CloseHandle(AsHandle(handle_));
  handle_ = -1;
  locked_ = false;
}

}  // namespace filelock
