#include "setup/rules.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace setup {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Windows ignores trailing dots and blanks of a path component, so
// "setup.exe." names setup.exe.
std::string WithoutTrailingDotsAndBlanks(std::string component) {
  while (!component.empty() && (component.back() == '.' || component.back() == ' ')) component.pop_back();
  return component;
}

// See NormalizedPath; keeps the letters' case unless fold_case.
std::string Normalize(const std::string& path, bool fold_case) {
  if (path.size() < 3 || path[1] != ':' || !IsSeparator(path[2])) return std::string();
  const char drive = path[0];
  if (!((drive >= 'a' && drive <= 'z') || (drive >= 'A' && drive <= 'Z'))) return std::string();
  std::vector<std::string> kept;
  std::string component;
  for (std::size_t i = 3; i <= path.size(); ++i) {
    if (i < path.size() && !IsSeparator(path[i])) {
      component += path[i];
      continue;
    }
    if (component == "..") {
      if (kept.empty()) return std::string();
      kept.pop_back();
    } else if (!component.empty() && component != ".") {
      std::string name = WithoutTrailingDotsAndBlanks(component);
      // A colon would name a stream of a file, and a name of dots or blanks
      // only is no file name at all.
      if (name.empty() || name.find(':') != std::string::npos) return std::string();
      kept.push_back(name);
    }
    component.clear();
  }
  std::string result(1, drive);
  result += ":\\";
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (i > 0) result += '\\';
    result += kept[i];
  }
  if (fold_case) {
    for (char& c : result) c = Lower(c);
  }
  return result;
}

// Whether normalized lies strictly below the normalized directory.
bool IsInside(const std::string& normalized, const std::string& directory) {
  if (directory.empty()) return false;
  const std::string prefix = directory.back() == '\\' ? directory : directory + "\\";
  return normalized.size() > prefix.size() && normalized.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

const char kGroupName[] = "Parcelo32";
const char kProgramItem[] = "parcelo32.exe Parcelo32 parcelo32.exe 0";

PathParts SplitPath(const std::string& path) {
  PathParts parts;
  std::string rest = path;
  if (rest.size() >= 2 && rest[1] == ':') {
    parts.drive = rest.substr(0, 2);
    rest.erase(0, 2);
  }
  std::size_t last_separator = std::string::npos;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (IsSeparator(rest[i])) last_separator = i;
  }
  if (last_separator != std::string::npos) {
    parts.directory = rest.substr(0, last_separator + 1);
    rest.erase(0, last_separator + 1);
  }
  const std::size_t dot = rest.rfind('.');
  if (dot != std::string::npos) {
    parts.extension = rest.substr(dot);
    rest.erase(dot);
  }
  parts.name = rest;
  return parts;
}

bool ValidateDirectoryText(std::string* text, const RootExists& root_exists) {
  if (text->empty() || text->back() != '\\') *text += '\\';
  const PathParts parts = SplitPath(*text);
  if (!parts.name.empty() || !parts.extension.empty()) return false;
  if (parts.drive.empty() || parts.directory.empty() || parts.directory[0] != '\\') return false;
  if (parts.directory == "\\") return root_exists(parts.drive + "\\");
  return true;
}

std::vector<std::string> LevelsToCreate(const std::string& directory) {
  std::vector<std::string> levels;
  std::string path;
  std::string component;
  bool first = true;
  for (char c : directory) {
    if (c != '\\') {
      component += c;
      continue;
    }
    if (first) {
      path = component;
      first = false;
    } else if (!component.empty()) {
      path += "\\" + component;
      levels.push_back(path);
    }
    component.clear();
  }
  return levels;
}

SystemFileAction DecideSystemFile(const ProductVersion& source, const ProductVersion& installed) {
  if (!source.present || !installed.present) return SystemFileAction::kCopyRecorded;
  const uint32_t source_major = source.most_significant >> 16;
  const uint32_t installed_major = installed.most_significant >> 16;
  if (installed_major != source_major) {
    return installed_major < source_major ? SystemFileAction::kCopy : SystemFileAction::kSkip;
  }
  const uint32_t source_minor = source.most_significant & 0xFFFFu;
  const uint32_t installed_minor = installed.most_significant & 0xFFFFu;
  return installed_minor < source_minor ? SystemFileAction::kCopy : SystemFileAction::kSkip;
}

int Percent(uint64_t copied, uint64_t total) {
  if (total == 0 || copied >= total) return 100;
  return static_cast<int>(copied * 100 / total);
}

std::string PercentText(int percent) {
  char text[32];
  std::snprintf(text, sizeof text, "%d %%", percent);
  return text;
}

std::string DeleteGroupCommand(const std::string& group) { return "[DeleteGroup(" + group + ")]"; }

std::string CreateGroupCommand(const std::string& group) { return "[CreateGroup(" + group + ")]"; }

std::string AddItemCommand(const std::string& destination_directory, const std::string& item) {
  std::istringstream parts(item);
  std::string command_file, item_name, icon_file, icon_index;
  if (!(parts >> command_file >> item_name >> icon_file >> icon_index)) return std::string();
  const long index = std::strtol(icon_index.c_str(), nullptr, 10);
  return "[AddItem(\"" + destination_directory + command_file + "\"," + item_name + ",," +
         std::to_string(index) + ")]";
}

uint64_t FreeBytes(uint32_t clusters, uint32_t sectors_per_cluster, uint32_t bytes_per_sector) {
  return static_cast<uint64_t>(clusters) * sectors_per_cluster * bytes_per_sector;
}

std::string NormalizedPath(const std::string& path) { return Normalize(path, true); }

bool SamePath(const std::string& a, const std::string& b) {
  const std::string left = NormalizedPath(a);
  return !left.empty() && left == NormalizedPath(b);
}

std::string DeletableRecordPath(const std::string& line, const std::string& main_directory,
                                const std::string& system_directory) {
  std::string text = line;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (text.size() > kMaxRecordLine) return std::string();
  const std::string normalized = NormalizedPath(text);
  if (normalized.empty()) return std::string();
  if (!IsInside(normalized, NormalizedPath(main_directory)) &&
      !IsInside(normalized, NormalizedPath(system_directory))) {
    return std::string();
  }
  return Normalize(text, false);
}

}  // namespace setup
