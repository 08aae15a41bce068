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

std::string DeleteItemCommand(const std::string& item) {
  std::istringstream parts(item);
  std::string command_file, item_name;
  if (!(parts >> command_file >> item_name)) return std::string();
  return "[DeleteItem(" + item_name + ")]";
}

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
                                const std::vector<std::string>& own_names) {
  std::string text = line;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (text.size() > kMaxRecordLine) return std::string();
  const std::string normalized = NormalizedPath(text);
  if (normalized.empty()) return std::string();
  const std::string directory = main_directory.empty() || main_directory.back() == '\\'
                                    ? main_directory
                                    : main_directory + "\\";
  for (const std::string& name : own_names) {
    if (SamePath(directory + name, normalized)) return Normalize(text, false);
  }
  return std::string();
}

bool IsBlankRecordLine(const std::string& line) {
  return line.find_first_not_of(" \t\r\n") == std::string::npos;
}

std::string UninstallCompleteText(int kept_lines) {
  if (kept_lines <= 0) return "Uninstall complete";
  return "Uninstall complete; " + std::to_string(kept_lines) +
         (kept_lines == 1 ? " line" : " lines") + " of install.txt naming other files left alone";
}

const char kNewSuffix[] = ".pst-new";
const char kOldSuffix[] = ".pst-old";

bool DirectoryHoldsNames(const std::string& directory, const std::vector<std::string>& names) {
  const std::size_t suffix = sizeof kNewSuffix > sizeof kOldSuffix ? sizeof kNewSuffix - 1 : sizeof kOldSuffix - 1;
  for (const std::string& name : names) {
    if (directory.size() + name.size() + suffix > kMaxPathChars) return false;
  }
  return true;
}

const char kManifestName[] = "files.sha256";

namespace {

std::string Folded(std::string text) {
  for (char& c : text) c = Lower(c);
  return text;
}

bool IsHexDigest(const std::string& text) {
  if (text.size() != 64) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// Decimal digits only, at most 18 of them so the value cannot wrap.
bool ParseSize(const std::string& text, uint64_t* size) {
  if (text.empty() || text.size() > 18) return false;
  *size = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    *size = *size * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

}  // namespace

bool ParseManifest(const std::string& text, Manifest* manifest) {
  manifest->clear();
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (IsBlankRecordLine(line)) continue;
    std::istringstream fields(line);
    std::string digest, size_text, name, extra;
    ManifestEntry entry;
    if (!(fields >> digest >> size_text >> name) || (fields >> extra)) return false;
    entry.sha256 = Folded(digest);
    if (!IsHexDigest(entry.sha256) || !ParseSize(size_text, &entry.size)) return false;
    manifest->emplace_back(Folded(name), entry);
  }
  return true;
}

const ManifestEntry* FindManifestEntry(const Manifest& manifest, const std::string& name) {
  const std::string wanted = Folded(name);
  for (const auto& entry : manifest) {
    if (entry.first == wanted) return &entry.second;
  }
  return nullptr;
}

CommandLine ParseCommandLine(const std::string& text) {
  CommandLine result;
  std::size_t at = 0;
  while (at < text.size()) {
    if (text[at] == ' ' || text[at] == '\t') {
      ++at;
      continue;
    }
    if (text.compare(at, 3, "/D=") == 0) {
      std::string directory = text.substr(at + 3);
      while (!directory.empty() && (directory.back() == ' ' || directory.back() == '\t')) directory.pop_back();
      if (directory.size() >= 2 && directory.front() == '"' && directory.back() == '"') {
        directory = directory.substr(1, directory.size() - 2);
      }
      if (directory.empty()) return CommandLine();
      result.directory = directory;
      return result;
    }
    std::size_t end = text.find_first_of(" \t", at);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(at, end - at);
    if (word == "-UNINSTALL") {
      result.uninstall = true;
    } else if (word == "/S") {
      result.silent = true;
    } else {
      return CommandLine();
    }
    at = end;
  }
  return result;
}

std::string UninstallCommandDirectory(const std::string& command) {
  std::string program;
  if (!command.empty() && command[0] == '"') {
    const std::size_t close = command.find('"', 1);
    if (close == std::string::npos) return std::string();
    program = command.substr(1, close - 1);
  } else {
    const std::size_t blank = command.rfind(' ');
    if (blank == std::string::npos) return std::string();
    program = command.substr(0, blank);
  }
  const PathParts parts = SplitPath(program);
  if (parts.drive.empty() || parts.directory.empty()) return std::string();
  return parts.drive + parts.directory;
}

}  // namespace setup
