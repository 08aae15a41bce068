// File seam for the transfer pumps: one open file, positioned reads and
// whole writes, 64-bit offsets on both builds. A file opened for writing is
// held against other writers, of this process or another, until it is closed:
// two transfers into one file would interleave their bytes. Win32 body:
// CreateFileA with a share mode that denies other writers. POSIX body:
// open/read/write, and an advisory flock taken once per open (before kCreate
// empties the file, so a refused open changes nothing).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fileio {

class File {
 public:
  enum Mode {
    kRead,       // existing file, reading
    kReadWrite,  // existing file, reading and writing, contents kept
    kCreate,     // created, or emptied when it exists; reading and writing
  };

  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool Open(const std::string& path, Mode mode);
  // After a failed Open: the file is there but another writer holds it.
  bool InUse() const { return in_use_; }
  // The last Open failed because no more files may be open (the limit of
  // the process or of the system), not because of the file.
  bool OutOfHandles() const { return out_of_handles_; }
  bool IsOpen() const;
  bool Seek(std::uint64_t offset);
  // Size of the open file, which may differ from the size of the name's
  // file a moment earlier or later. False when it cannot be read.
  bool Size(std::uint64_t* size) const;
  // Writes every byte or fails.
  bool WriteAll(const void* data, std::size_t length);
  // Writes every byte at offset, leaving the file position alone, or fails.
  // Several threads may write disjoint ranges of one open file at once.
  bool WriteAt(std::uint64_t offset, const void* data, std::size_t length);
  // Returns the count read, 0 at the end of the file, -1 on an error.
  long Read(void* buffer, std::size_t capacity);
  void Close();

 private:
  std::intptr_t handle_ = -1;
  bool in_use_ = false;
  bool out_of_handles_ = false;
};

}  // namespace fileio
