#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/fs.h"

namespace fs {

char Separator() { return '/'; }

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::uint64_t FileSize(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return 0;
  return static_cast<std::uint64_t>(st.st_size);
}

bool ReplaceWith(const std::string& source, const std::string& target) {
  return std::rename(source.c_str(), target.c_str()) == 0;
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

bool MakeDirectories(const std::string& path) {
  if (path.empty() || DirectoryExists(path)) return true;
  std::string parent = DirectoryOf(path);
  if (!parent.empty() && parent != path && !MakeDirectories(parent)) return false;
  return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

std::string CurrentDirectory() {
  char buffer[4096];
  if (!getcwd(buffer, sizeof buffer)) return std::string();
  return buffer;
}

}  // namespace fs
