#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/filelock.h"

namespace filelock {

Hold::Hold(const std::string& lock_path, Kind kind) {
  const int fd = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  handle_ = fd;
  int result;
  do {
    result = flock(fd, kind == kExclusive ? LOCK_EX : LOCK_SH);
  } while (result != 0 && errno == EINTR);
  locked_ = result == 0;
}

Hold::~Hold() { Release(); }

void Hold::Release() {
  if (handle_ < 0) return;
  // Closing the only descriptor of this open file releases the lock.
  close(static_cast<int>(handle_));
  handle_ = -1;
  locked_ = false;
}

}  // namespace filelock
