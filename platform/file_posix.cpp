#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file.h"

namespace fileio {

File::~File() { Close(); }

bool File::Open(const std::string& path, Mode mode) {
  Close();
  in_use_ = false;
  int flags = O_CLOEXEC;
  switch (mode) {
    case kRead: flags |= O_RDONLY; break;
    case kReadWrite: flags |= O_RDWR; break;
    case kCreate: flags |= O_RDWR | O_CREAT; break;  // emptied once held
  }
  int fd = open(path.c_str(), flags, 0644);
  out_of_handles_ = fd < 0 && (errno == EMFILE || errno == ENFILE);
  if (fd < 0) return false;
  if (mode != kRead) {
    // flock belongs to the open file, so a second open in this process is
    // refused as one in another. A file system without locks goes unlocked.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
      close(fd);
      in_use_ = true;
      return false;
    }
    // Only a file that holds bytes is emptied: on ext4 a truncation marks
    // the file for writeback at close, which on a new file costs a whole
    // download's worth of disk writes while the caller waits.
    struct stat status;
    if (mode == kCreate && (fstat(fd, &status) != 0 || status.st_size > 0) && ftruncate(fd, 0) != 0) {
      close(fd);
      return false;
    }
  }
  handle_ = fd;
  return true;
}

bool File::IsOpen() const { return handle_ >= 0; }

bool File::Seek(std::uint64_t offset) {
  if (!IsOpen()) return false;
  return lseek(static_cast<int>(handle_), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool File::Size(std::uint64_t* size) const {
  struct stat info;
  if (!IsOpen() || fstat(static_cast<int>(handle_), &info) != 0) return false;
  *size = static_cast<std::uint64_t>(info.st_size);
  return true;
}

bool File::WriteAll(const void* data, std::size_t length) {
  if (!IsOpen()) return false;
  const char* next = static_cast<const char*>(data);
  while (length > 0) {
    ssize_t n = write(static_cast<int>(handle_), next, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    next += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

bool File::WriteAt(std::uint64_t offset, const void* data, std::size_t length) {
  if (!IsOpen()) return false;
  const char* next = static_cast<const char*>(data);
  while (length > 0) {
    ssize_t n = pwrite(static_cast<int>(handle_), next, length, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    next += n;
    offset += static_cast<std::uint64_t>(n);
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

long File::Read(void* buffer, std::size_t capacity) {
  if (!IsOpen()) return -1;
  for (;;) {
    ssize_t n = read(static_cast<int>(handle_), buffer, capacity);
    if (n < 0 && errno == EINTR) continue;
    return static_cast<long>(n);
  }
}

void File::Close() {
  if (handle_ < 0) return;
  close(static_cast<int>(handle_));
  handle_ = -1;
}

}  // namespace fileio
