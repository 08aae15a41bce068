#include <windows.h>

#include "platform/file.h"

namespace fileio {
namespace {
HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
}  // namespace

File::~File() { Close(); }

bool File::Open(const std::string& path, Mode mode) {
  Close();
  in_use_ = false;
  out_of_handles_ = false;
  DWORD access = GENERIC_READ;
  DWORD disposition = OPEN_EXISTING;
  // Others may read while we write, but not write themselves.
  DWORD share = FILE_SHARE_READ;
  switch (mode) {
    case kRead: share = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
    case kReadWrite: access |= GENERIC_WRITE; break;
    case kCreate: access |= GENERIC_WRITE; disposition = CREATE_ALWAYS; break;
  }
  HANDLE h = CreateFileA(path.c_str(), access, share, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    // Refused before CREATE_ALWAYS emptied anything.
    DWORD error = GetLastError();
    in_use_ = error == ERROR_SHARING_VIOLATION;
    out_of_handles_ = error == ERROR_TOO_MANY_OPEN_FILES;
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
  return true;
}

bool File::IsOpen() const { return handle_ != -1; }

bool File::Seek(std::uint64_t offset) {
  if (!IsOpen()) return false;
  LONG high = static_cast<LONG>(offset >> 32);
  DWORD low = SetFilePointer(AsHandle(handle_), static_cast<LONG>(offset & 0xFFFFFFFFu), &high,
                             FILE_BEGIN);
  return !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}

bool File::Size(std::uint64_t* size) const {
  if (!IsOpen()) return false;
  DWORD high = 0;
  DWORD low = GetFileSize(AsHandle(handle_), &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
  *size = static_cast<std::uint64_t>(high) << 32 | low;
  return true;
}

bool File::WriteAll(const void* data, std::size_t length) {
  if (!IsOpen()) return false;
  const char* next = static_cast<const char*>(data);
  while (length > 0) {
    DWORD chunk = length > 0x40000000u ? 0x40000000u : static_cast<DWORD>(length);
    DWORD written = 0;
    if (!WriteFile(AsHandle(handle_), next, chunk, &written, nullptr) || written == 0) return false;
    next += written;
    length -= written;
  }
  return true;
}

// An OVERLAPPED offset on a handle opened without FILE_FLAG_OVERLAPPED makes
// a synchronous write at that offset: the system serialises it with the
// handle's other writes, so threads sharing the handle need no lock.
bool File::WriteAt(std::uint64_t offset, const void* data, std::size_t length) {
  if (!IsOpen()) return false;
  const char* next = static_cast<const char*>(data);
  while (length > 0) {
    DWORD chunk = length > 0x40000000u ? 0x40000000u : static_cast<DWORD>(length);
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD written = 0;
    if (!WriteFile(AsHandle(handle_), next, chunk, &written, &at) || written == 0) return false;
    next += written;
    offset += written;
    length -= written;
  }
  return true;
}

long File::Read(void* buffer, std::size_t capacity) {
  if (!IsOpen()) return -1;
  DWORD chunk = capacity > 0x40000000u ? 0x40000000u : static_cast<DWORD>(capacity);
  DWORD got = 0;
  if (!ReadFile(AsHandle(handle_), buffer, chunk, &got, nullptr)) return -1;
  return static_cast<long>(got);
}

void File::Close() {
  if (handle_ == -1) return;
  CloseHandle(AsHandle(handle_));
  handle_ = -1;
}

}  // namespace fileio
