// File seam for the transfer pumps: one open file, positioned reads and
// whole writes, 64-bit offsets on both builds. Win32 body: CreateFileA (a file
// opened for writing denies other writers). POSIX body: open/read/write.
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
  // Returns the count read, 0 at the end of the file, -1 on an error.
  long Read(void* buffer, std::size_t capacity);
  void Close();

 private:
  std::intptr_t handle_ = -1;
  bool out_of_handles_ = false;
};

}  // namespace fileio
