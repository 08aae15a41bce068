#include "tasks/log_viewer.h"

namespace log_viewer {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

bool PlanExecute(const std::string& local_file, ExecutePaths* paths) {
  if (local_file.size() < 4 || !IsDriveLetter(local_file[0]) || local_file[1] != ':' ||
      !IsSeparator(local_file[2])) {
    return false;
  }
  std::size_t name_start = local_file.size();
  while (name_start > 0 && !IsSeparator(local_file[name_start - 1])) --name_start;
  const std::string name = local_file.substr(name_start);
  const std::size_t dot = name.rfind('.');
  const std::string base = dot == std::string::npos ? name : name.substr(0, dot);
  const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
  if (base.find_first_not_of(". ") == std::string::npos) return false;
  if (name.find(':') != std::string::npos) return false;
  paths->drive = local_file.substr(0, 2);
  paths->folder = local_file.substr(0, name_start) + base;
  paths->copy = paths->folder + "\\" + base + extension;
  return true;
}

}  // namespace log_viewer
