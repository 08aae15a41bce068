#include "tasks/entry_rules.h"

#include <cctype>

#include "settings/places.h"
#include "platform/fs.h"
#include "tasks/entries.h"
#include "tasks/taskfile.h"
#include "tasks/url.h"

namespace entry_rules {

bool QueryDrop(bool accepting, std::uint32_t key_state, std::uint32_t* effect) {
  const std::uint32_t allowed = *effect;
  *effect = kEffectNone;
  if (!accepting) return false;
  std::uint32_t wanted = kEffectNone;
  if (key_state & kKeyControl) {
    wanted = (key_state & kKeyShift) ? kEffectLink : kEffectCopy;
  } else if (key_state & kKeyShift) {
    wanted = kEffectMove;
  }
  if (wanted == kEffectNone) {
    for (std::uint32_t candidate : {kEffectMove, kEffectCopy, kEffectLink}) {
      if (allowed & candidate) {
        *effect = candidate;
        return true;
      }
    }
    return false;
  }
  if ((allowed & wanted) == 0) return false;
  *effect = wanted;
  return true;
}

int AddUploadEntries(const std::string& destination_url, const std::vector<std::string>& files) {
  int added = 0;
  for (const std::string& file : files) {
    const std::string name = fs::BaseName(file);
    // The walk decodes the link's path, so the name goes in encoded: a '%'
    // taken as an escape would name another file or stop the walk.
    url::Record record;
    std::string display;
    std::string stored;
    if (url::Parse(destination_url + url::PercentEncodeName(name), &record, &display, &stored) != 0) break;
    app::SetLocalDirectory(fs::DirectoryOf(file));
    if (entries::AddEntry(display, record.path, stored, name) == 0) ++added;
  }
  return added;
}

std::string AsDirectoryUrl(const std::string& text) {
  if (text.empty() || text.back() == '/') return text;
  return text + "/";
}

bool HistoryHolds(const std::vector<std::string>& history, const std::string& url) {
  for (const std::string& line : history) {
    if (line.size() != url.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < line.size() && same; ++i) {
      same = std::tolower(static_cast<unsigned char>(line[i])) ==
             std::tolower(static_cast<unsigned char>(url[i]));
    }
    if (same) return true;
  }
  return false;
}

int ReadHistory(const std::string& path, std::vector<std::string>* history) {
  history->clear();
  const int count = taskfile::ReadLines(path, history);
  // Only a missing history is made: one that exists but cannot be read now
  // (another program holds it) keeps its lines.
  if (count < 0 && !fs::FileExists(path)) {
    taskfile::EmptyFile(path);
    history->clear();
  }
  return count;
}

int RememberUrl(const std::string& path, std::vector<std::string>* history, const std::string& url) {
  if (HistoryHolds(*history, url)) return 0;
  if (taskfile::AppendToFile(path, url + "\r\n") != 0) return -1;
  history->push_back(url);
  return 1;
}

}  // namespace entry_rules
