#include "platform/fs.h"

namespace fs {
namespace {
// Both separators count on Windows; a '\' is an ordinary character on Linux.
bool IsSeparator(char c) { return c == Separator() || (Separator() == '\\' && c == '/'); }
}  // namespace

std::string DirectoryOf(const std::string& path) {
  for (size_t i = path.size(); i > 0; --i) {
    if (IsSeparator(path[i - 1])) return path.substr(0, i - 1);
  }
  return std::string();
}

std::string BaseName(const std::string& path) {
  for (size_t i = path.size(); i > 0; --i) {
    if (IsSeparator(path[i - 1])) return path.substr(i);
  }
  return path;
}

}  // namespace fs
