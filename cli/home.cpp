#include <cstdlib>
#include <fstream>

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

// The value of the XDG_DOWNLOAD_DIR line of a user-dirs.dirs file: a
// double-quoted absolute path or "$HOME/..." with '\\' escapes. Empty when the
// file, the line or a usable value is missing, and when it names the home
// directory itself, which the file's rules take as "no such directory".
std::string DownloadDirectoryFromUserDirs(const std::string& path, const std::string& home) {
  std::ifstream in(path);
  const std::string key = "XDG_DOWNLOAD_DIR=\"";
  std::string found;
  for (std::string line; std::getline(in, line);) {
    const std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, key.size(), key) != 0) continue;
    std::string value;
    bool closed = false;
    for (std::size_t i = start + key.size(); i < line.size() && !closed; ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) {
        value += line[++i];
      } else if (line[i] == '"') {
        closed = true;
      } else {
        value += line[i];
      }
    }
    if (closed) found = value;  // the last line wins, as when the shell sources the file
  }
  if (found.compare(0, 5, "$HOME") == 0 && (found.size() == 5 || found[5] == '/')) {
    if (home.empty()) return std::string();
    found = home + found.substr(5);
  }
  if (found.empty() || found[0] != '/') return std::string();
  found = WithoutTrailingSlashes(found);
  return found == WithoutTrailingSlashes(home) ? std::string() : found;
}

}  // namespace

std::string DefaultDownloadDirectory() {
  const std::string home = Environment("HOME");
  std::string candidates[3] = {WithoutTrailingSlashes(Environment("XDG_DOWNLOAD_DIR"))};
  const std::string config = Environment("XDG_CONFIG_HOME");
  const std::string user_dirs = !config.empty() && config[0] == '/' ? config + "/user-dirs.dirs"
                                : !home.empty()                     ? home + "/.config/user-dirs.dirs"
                                                                    : std::string();
  if (!user_dirs.empty()) candidates[1] = DownloadDirectoryFromUserDirs(user_dirs, home);
  if (!home.empty()) candidates[2] = WithoutTrailingSlashes(home, false) + "/Downloads";
  for (const std::string& candidate : candidates) {
    if (!candidate.empty() && candidate[0] == '/' && fs::DirectoryExists(candidate)) return candidate;
  }
  return fs::CurrentDirectory();
}

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
