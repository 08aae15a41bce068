#include "settings/dirlist.h"

namespace dirlist {
namespace {

bool IsDriveEntry(const std::string& entry) { return entry.size() >= 2 && entry[0] == '[' && entry[1] == '-'; }

bool IsDirectoryEntry(const std::string& entry) {
  return entry.size() >= 2 && entry.front() == '[' && entry.back() == ']';
}

}  // namespace

std::vector<std::string> VisibleEntries(const std::vector<std::string>& raw, const LongNameOf& long_name) {
  std::vector<std::string> visible;
  for (const std::string& entry : raw) {
    if (IsDriveEntry(entry)) {
      visible.push_back(entry);
    } else if (IsDirectoryEntry(entry)) {
      const std::string name = entry.substr(1, entry.size() - 2);
      const std::string found = name == ".." ? std::string() : long_name(name);
      visible.push_back(found.empty() ? entry : "[" + found + "]");
    }
  }
  return visible;
}

std::string AcceptedText(const std::string& current_directory) {
  if (current_directory.size() < 2 || current_directory[1] != ':') return current_directory;
  char letter = current_directory[0];
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  std::string rest = current_directory.substr(2);
  while (!rest.empty() && rest.back() == '\\') rest.pop_back();
  while (!rest.empty() && rest.front() == '\\') rest.erase(0, 1);
  std::string text(1, letter);
  text += ':';
  if (!rest.empty()) text += "\\" + rest;
  return text;
}

bool IsBareDrive(const std::string& selection) { return selection.size() == 2 && selection[1] == ':'; }

}  // namespace dirlist
