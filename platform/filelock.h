// Advisory lock across processes, held on a companion file that is never
// renamed or removed: a file rewritten by renaming a new copy over it gets a
// new identity with each rewrite, so a lock on the file itself would not
// exclude a process that opened the new copy. POSIX body: flock. Win32 body:
// LockFileEx on the first byte.
//
// Only processes that take the same lock are excluded; threads of one process
// must serialise among themselves first (a second handle in the same process
// would wait on the first).
#pragma once

#include <cstdint>
#include <string>

namespace filelock {

class Hold {
 public:
  enum Kind { kShared, kExclusive };

  // Creates lock_path when missing and waits until the lock is granted. When
  // the file cannot be opened or locked (a read-only directory) nothing is
  // held and locked() is false; callers go on unlocked, as before any lock.
  Hold(const std::string& lock_path, Kind kind);
  ~Hold();
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;

  bool locked() const { return locked_; }
  // Releases early; the destructor then does nothing.
  void Release();

 private:
  std::intptr_t handle_ = -1;
  bool locked_ = false;
};

}  // namespace filelock
