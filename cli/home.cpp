#include <cstdlib>

#include "cli/cli.h"
#include "platform/fs.h"

namespace cli {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// "/" stays "/" unless a name is appended after it.
std::string WithoutTrailingSlashes(std::string path, bool keep_root = true) {
  while (path.size() > (keep_root ? 1u : 0u) && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::string Absolute(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  return fs::CurrentDirectory() + "/" + path;
}

std::string ProgramDirectoryFromEnvironment() {
  const std::string home = Environment("PARCELO_HOME");
  if (!home.empty()) return WithoutTrailingSlashes(Absolute(home));
  // The base directory rules ignore a relative XDG_DATA_HOME.
  const std::string data = Environment("XDG_DATA_HOME");
  if (!data.empty() && data[0] == '/') return WithoutTrailingSlashes(data, false) + "/parcelo";
  const std::string user = Environment("HOME");
  if (!user.empty()) return WithoutTrailingSlashes(Absolute(user), false) + "/.local/share/parcelo";
  return std::string();
}

}  // namespace cli
