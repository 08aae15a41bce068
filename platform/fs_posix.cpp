#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

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
  struct stat st;
  if (stat(target.c_str(), &st) == 0 && chmod(source.c_str(), st.st_mode & 07777) != 0) return false;
  return std::rename(source.c_str(), target.c_str()) == 0;
}

std::FILE* OpenOwnerOnly(const std::string& path, const char* mode) {
  const int how = mode[0] == 'a' ? O_APPEND : O_TRUNC;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | how, 0600);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, mode);
  if (!file) close(fd);
  return file;
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

bool MakeDirectories(const std::string& path) {
  if (path.empty() || DirectoryExists(path)) return true;
  std::string parent = DirectoryOf(path);
  if (!parent.empty() && parent != path && !MakeDirectories(parent)) return false;
  return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

namespace {

// The absolute form of path with empty, "." and ".." components resolved
// without looking at the disk (".." of the root is the root).
std::string LexicallyAbsolute(const std::string& path) {
  const std::string full = !path.empty() && path[0] == '/' ? path : CurrentDirectory() + "/" + path;
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= full.size()) {
    std::size_t slash = full.find('/', start);
    if (slash == std::string::npos) slash = full.size();
    const std::string part = full.substr(start, slash - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = slash + 1;
  }
  std::string result;
  for (const std::string& part : parts) result += "/" + part;
  return result.empty() ? "/" : result;
}

}  // namespace

bool SameDirectory(const std::string& a, const std::string& b) {
  struct stat first;
  struct stat second;
  if (stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0) {
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
  }
  return LexicallyAbsolute(a) == LexicallyAbsolute(b);
}

std::string CurrentDirectory() {
  char buffer[4096];
  if (!getcwd(buffer, sizeof buffer)) return std::string();
  return buffer;
}

namespace {

// Length of the UTF-8 sequence at text[i], or 0 when it is malformed,
// overlong, a surrogate or beyond U+10FFFF.
std::size_t Utf8SequenceAt(const std::string& text, std::size_t i) {
  const unsigned char lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x80) return 1;
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || i + length > text.size()) return 0;
  std::uint32_t code = lead & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned char next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    code = code << 6 | (next & 0x3F);
  }
  const std::uint32_t lowest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
  if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

bool NameFromUtf8(const std::string& utf8, std::string* name) {
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t length = Utf8SequenceAt(utf8, i);
    if (length == 0) return false;
    i += length;
  }
  *name = utf8;
  return true;
}

}  // namespace fs
