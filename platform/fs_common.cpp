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

bool IsDeviceName(const std::string& name) {
  std::string base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (base == "con" || base == "prn" || base == "aux" || base == "nul") return true;
  return base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

std::string DeviceComponent(const std::string& path) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find_first_of("\\/", start);
    if (end == std::string::npos) end = path.size();
    const std::string component = path.substr(start, end - start);
    if (IsDeviceName(component)) return component;
    start = end + 1;
  }
  return std::string();
}

}  // namespace fs
