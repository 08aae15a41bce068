#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/fs.h"
#include "settings/ini_store.h"

namespace settings {
namespace {

constexpr char kFileName[] = "settings.ini";

// Instances may share one file (the tests open a second one on the same
// directory), so the read-modify-rename of a write is serialised for all.
std::mutex g_write_lock;

enum class FileState { kMissing, kRead, kUnreadable };

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// Splits "Name=value" at the first '='; false for lines that hold none.
bool SplitLine(const std::string& line, std::string* name, std::string* value) {
  std::size_t equals = line.find('=');
  if (equals == std::string::npos) return false;
  std::size_t end = line.size();
  if (end > equals + 1 && line[end - 1] == '\r') --end;
  *name = line.substr(0, equals);
  *value = line.substr(equals + 1, end - equals - 1);
  return true;
}

FileState ReadLines(const std::string& path, std::vector<std::string>* lines) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return fs::FileExists(path) ? FileState::kUnreadable : FileState::kMissing;
  std::string line;
  while (std::getline(in, line)) lines->push_back(line);
  return in.bad() ? FileState::kUnreadable : FileState::kRead;
}

bool WriteWhole(const std::string& path, const std::vector<std::string>& lines) {
  std::FILE* out = fs::OpenOwnerOnly(path, "wb");
  if (!out) return false;
  bool ok = true;
  for (const std::string& line : lines) {
    ok = ok && std::fwrite(line.data(), 1, line.size(), out) == line.size() &&
         std::fputc('\n', out) != EOF;
  }
  // The rename must not publish a file whose bytes are still in flight.
  ok = ok && std::fflush(out) == 0 && fsync(fileno(out)) == 0;
  return std::fclose(out) == 0 && ok;
}

// Replaces the first line named name (or appends one) and drops the others.
void SetLine(std::vector<std::string>* lines, const std::string& name, const std::string& value) {
  bool placed = false;
  std::vector<std::string> result;
  result.reserve(lines->size() + 1);
  for (const std::string& line : *lines) {
    std::string line_name, line_value;
    if (!SplitLine(line, &line_name, &line_value) || !SameName(line_name, name)) {
      result.push_back(line);
    } else if (!placed) {
      result.push_back(line_name + "=" + value);
      placed = true;
    }
  }
  if (!placed) result.push_back(name + "=" + value);
  lines->swap(result);
}

bool HasLineBreak(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

}  // namespace

IniStore::IniStore(std::string directory) : directory_(std::move(directory)) {}

void IniStore::SetDirectory(const std::string& directory) {
  std::lock_guard<std::mutex> hold(lock_);
  directory_ = directory;
}

std::string IniStore::Path() const {
  std::lock_guard<std::mutex> hold(lock_);
  if (directory_.empty()) return std::string();
  return directory_ + fs::Separator() + kFileName;
}

bool IniStore::Read(const std::string& name, std::string* value) {
  std::string path = Path();
  std::vector<std::string> lines;
  if (path.empty() || ReadLines(path, &lines) != FileState::kRead) return false;
  for (const std::string& line : lines) {
    std::string line_name, line_value;
    if (SplitLine(line, &line_name, &line_value) && SameName(line_name, name)) {
      *value = line_value;
      return true;
    }
  }
  return false;
}

bool IniStore::Write(const std::string& name, const std::string& value) {
  if (name.empty() || name.find('=') != std::string::npos || HasLineBreak(name) || HasLineBreak(value)) {
    return false;
  }
  std::string path = Path();
  if (path.empty()) return false;

  std::lock_guard<std::mutex> hold(g_write_lock);
  std::vector<std::string> lines;
  // A file that exists but cannot be read is left alone rather than replaced
  // by one holding a single value.
  if (ReadLines(path, &lines) == FileState::kUnreadable) return false;
  if (!fs::MakeDirectories(fs::DirectoryOf(path))) return false;
  SetLine(&lines, name, value);

  std::string temporary = path + ".tmp" + std::to_string(getpid());
  if (!WriteWhole(temporary, lines) || !fs::ReplaceWith(temporary, path)) {
    fs::RemoveFile(temporary);
    return false;
  }
  return true;
}

Store& PlatformStore() {
  static IniStore store;
  return store;
}

void SetStoreDirectory(const std::string& directory) {
  static_cast<IniStore&>(PlatformStore()).SetDirectory(directory);
}

}  // namespace settings
