#include <windows.h>

#include "platform/fs.h"

namespace fs {

char Separator() { return '\\'; }

bool DirectoryExists(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileExists(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::uint64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool ReplaceWith(const std::string& source, const std::string& target) {
  return MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

// The profile's access list already keeps other users out of the program
// directory; a plain fopen inherits it.
std::FILE* OpenOwnerOnly(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

bool MakeDirectories(const std::string& path) {
  if (path.empty() || DirectoryExists(path)) return true;
  std::string parent = DirectoryOf(path);
  if (!parent.empty() && parent != path && parent.back() != ':' && !MakeDirectories(parent)) {
    return false;
  }
  return CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

namespace {

// Volume serial and file index of an existing directory; false when it
// cannot be opened.
bool DirectoryIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = GetFileInformationByHandle(h, info) != 0;
  CloseHandle(h);
  return ok;
}

// The full path (relative forms, '/', "." and ".." resolved), without a
// trailing '' and in upper case, as the file system compares names.
std::string ComparableFullPath(const std::string& path) {
  char buffer[MAX_PATH + 1];
  DWORD n = GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
  std::string full = n == 0 || n >= sizeof buffer ? path : std::string(buffer, n);
  while (full.size() > 3 && (full.back() == '\\' || full.back() == '/')) full.pop_back();
  CharUpperBuffA(&full[0], static_cast<DWORD>(full.size()));
  return full;
}

}  // namespace

bool SameDirectory(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION first;
  BY_HANDLE_FILE_INFORMATION second;
  if (DirectoryIdentity(a, &first) && DirectoryIdentity(b, &second)) {
    return first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
  }
  return ComparableFullPath(a) == ComparableFullPath(b);
}

std::string CurrentDirectory() {
  char buffer[MAX_PATH + 1];
  DWORD n = GetCurrentDirectoryA(sizeof buffer, buffer);
  if (n == 0 || n >= sizeof buffer) return std::string();
  return std::string(buffer, n);
}

bool NameFromUtf8(const std::string& utf8, std::string* name) {
  if (utf8.empty()) {
    name->clear();
    return true;
  }
  const int length = static_cast<int>(utf8.size());
  const int wide_length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, nullptr, 0);
  if (wide_length <= 0) return false;
  std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, &wide[0], wide_length);
  // Without WC_NO_BEST_FIT_CHARS a character the code page lacks may become a
  // look-alike ("\u2215" a '/'), and the name another than the one checked.
  BOOL lacking = FALSE;
  const int ansi_length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wide_length,
                                              nullptr, 0, nullptr, &lacking);
  if (ansi_length <= 0 || lacking) return false;
  std::string ansi(static_cast<std::size_t>(ansi_length), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wide_length, &ansi[0], ansi_length,
                      nullptr, &lacking);
  if (lacking) return false;
  *name = ansi;
  return true;
}

}  // namespace fs
