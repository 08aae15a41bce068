#include "tasks/taskfile.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>

#include "tasks/url.h"
#include "platform/clock.h"
#include "platform/filelock.h"
#include "platform/fs.h"
#include "platform/prompts.h"

namespace taskfile {

std::string LockPath(const std::string& path) { return path + ".lock"; }

namespace {

constexpr std::size_t kReadBufferBytes = 64 * 1024;

// Serialises every access to task, log and record files in this process:
// workers rewrite a task line on a redirect while the user deletes or adds
// entries, and on Windows a file held open by a reader cannot be renamed over.
std::mutex& FileLock() {
  static std::mutex lock;
  return lock;
}

// The process-wide lock, then the lock of path across processes: another
// parcelo adding entries while this one rewrites a line on a redirect would
// otherwise rename its copy over the other's update. Readers take it too,
// shared, for the reason the process-wide lock gives.
class FileAccess {
 public:
  FileAccess(const std::string& path, filelock::Hold::Kind kind, bool across_processes)
      : lock_path_(LockPath(path)), kind_(kind), across_processes_(across_processes) {
    Acquire();
  }
  ~FileAccess() { Release(); }
  FileAccess(const FileAccess&) = delete;
  FileAccess& operator=(const FileAccess&) = delete;

  void Acquire() {
    if (held_) return;
    FileLock().lock();
    if (across_processes_) across_.emplace(lock_path_, kind_);
    held_ = true;
  }
  void Release() {
    if (!held_) return;
    across_.reset();
    FileLock().unlock();
    held_ = false;
  }

 private:
  const std::string lock_path_;
  const filelock::Hold::Kind kind_;
  const bool across_processes_;
  std::optional<filelock::Hold> across_;
  bool held_ = false;
};

// A file that is not there has nothing to guard against writers of other
// processes (rewrites rename, so it never vanishes once made); looking for a
// missing task leaves no lock file behind.
struct Reading : FileAccess {
  explicit Reading(const std::string& path)
      : FileAccess(path, filelock::Hold::kShared, fs::FileExists(path)) {}
};
struct Writing : FileAccess {
  explicit Writing(const std::string& path) : FileAccess(path, filelock::Hold::kExclusive, true) {}
};

enum ReadResult { kReadOk, kOpenFailed, kReadFailed };

ReadResult ReadWhole(const std::string& path, std::string* content) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return kOpenFailed;
  content->clear();
  std::vector<char> chunk(kReadBufferBytes);
  std::size_t got;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), file)) > 0) content->append(chunk.data(), got);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  return failed ? kReadFailed : kReadOk;
}

// A name next to path that no file has yet, so that the rename stays within
// one directory (and one volume).
std::string TemporarySibling(const std::string& path) {
  static std::atomic<std::uint32_t> counter{0};
  // The address differs between processes under address-space randomisation,
  // the tick count between runs; the counter between calls.
  const std::uint32_t seed = clock_seam::TickCount() ^
                             static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&counter) >> 4);
  std::string name;
  for (int attempt = 0; attempt < 64; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(seed + counter++ * 2654435761u));
    name = path + suffix;
    if (!fs::FileExists(name)) break;
  }
  return name;
}

// Writes content to a temporary sibling and renames it over path. On any
// failure the temporary file is removed and path keeps its old content.
bool WriteAtomically(const std::string& path, const std::string& content) {
  const std::string temporary = TemporarySibling(path);
  std::FILE* file = fs::OpenOwnerOnly(temporary, "wb");
  if (!file) return false;
  bool ok = content.empty() || std::fwrite(content.data(), 1, content.size(), file) == content.size();
  ok = std::fflush(file) == 0 && ok;
  ok = std::fclose(file) == 0 && ok;
  if (ok && fs::ReplaceWith(temporary, path)) return true;
  fs::RemoveFile(temporary);
  return false;
}

bool CreateEmptyIfMissing(const std::string& path) {
  if (fs::FileExists(path)) return true;
  std::FILE* file = fs::OpenOwnerOnly(path, "ab");  // "ab" never truncates a racing writer's file
  if (!file) return false;
  return std::fclose(file) == 0;
}

// Byte range [*start, *end) of line index as the line reader splits content.
// Returns false (both at the end of content) when content has fewer lines.
bool LocateLine(const std::string& content, int index, std::size_t* start, std::size_t* end) {
  LineReader reader(content);
  std::string line;
  for (int i = 0; i <= index; ++i) {
    *start = static_cast<std::size_t>(reader.Consumed());
    if (reader.ReadLine(&line) < 0) {
      *start = *end = content.size();
      return false;
    }
  }
  *end = static_cast<std::size_t>(reader.Consumed());
  return true;
}

// What must come between a line and a new line written right after it, so
// that the reader returns both as they are. length: the bytes the reader
// takes for the line (a run without LF counts in cuts of kLineBytes); last:
// its last byte. A line ended by its LF, or cut just there, needs nothing; a
// lone CR needs its LF (a CR LF after it would keep the CR in the text).
const char* LineEndAfter(std::uint64_t length, char last) {
  if (length == 0 || last == '\n' || length % kLineBytes == 0) return "";
  return last == '\r' ? "\n" : "\r\n";
}

// The line end that the last line of content lacks, if any.
const char* MissingLineEnd(const std::string& content) {
  if (content.empty()) return "";
  const std::size_t last_lf = content.rfind('\n');
  const std::size_t tail = last_lf == std::string::npos ? content.size() : content.size() - last_lf - 1;
  return LineEndAfter(tail, content.back());
}

// Content with line index replaced by text, or text appended as a new last
// line when there is no such line.
std::string WithLineReplaced(const std::string& content, int index, const std::string& text) {
  std::size_t start;
  std::size_t end;
  if (LocateLine(content, index, &start, &end)) {
    return content.substr(0, start) + text + content.substr(end);
  }
  return content + MissingLineEnd(content) + text;
}

// Content with text put right after the last line that ReadLines gives.
std::string WithLineAdded(const std::string& content, const std::string& text) {
  LineReader reader(content);
  std::string line;
  std::size_t start = 0;
  std::size_t end = 0;
  for (;;) {
    const std::size_t next = static_cast<std::size_t>(reader.Consumed());
    if (reader.ReadLine(&line) <= 0) break;
    start = next;
    end = static_cast<std::size_t>(reader.Consumed());
  }
  const char* line_end = end == 0 ? "" : LineEndAfter(end - start, content[end - 1]);
  return content.substr(0, end) + line_end + text + content.substr(end);
}

// Appends text to path as it is. Called with the write lock held. On a
// failed write the file is cut back to its old size (removed when it was
// new): a partial line at the end would shift the lines that later appends
// make.
bool AppendLocked(const std::string& path, const std::string& text) {
  const bool existed = fs::FileExists(path);
  const std::uint64_t before = existed ? fs::FileSize(path) : 0;
  std::FILE* file = fs::OpenOwnerOnly(path, "ab");
  if (!file) return false;
  bool ok = text.empty() || std::fwrite(text.data(), 1, text.size(), file) == text.size();
  ok = std::fflush(file) == 0 && ok;
  ok = std::fclose(file) == 0 && ok;
  if (ok) return true;
  std::string content;
  if (!existed) {
    fs::RemoveFile(path);
  } else if (ReadWhole(path, &content) == kReadOk && content.size() > before) {
    content.resize(static_cast<std::size_t>(before));
    WriteAtomically(path, content);
  }
  return false;
}

// The line end that the last line of the file lacks, read from its end back
// to the last LF; "" also when the file cannot be read.
const char* MissingLineEndOfFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return "";
  std::vector<char> chunk(kReadBufferBytes);
  const std::uint64_t size = fs::FileSize(path);
  std::uint64_t scanned = 0;  // bytes from the end that hold no LF
  char last = '\n';
  bool found_lf = false;
  while (scanned < size && !found_lf) {
    const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), size - scanned));
    const std::uint64_t from = size - scanned - count;
    if (std::fseek(file, static_cast<long>(from), SEEK_SET) != 0 ||
        std::fread(chunk.data(), 1, count, file) != count) {
      std::fclose(file);
      return "";
    }
    if (scanned == 0) last = chunk[count - 1];
    for (std::size_t i = count; i > 0 && !found_lf; --i) {
      if (chunk[i - 1] == '\n') found_lf = true;
      else ++scanned;
    }
  }
  std::fclose(file);
  return LineEndAfter(scanned, last);
}

}  // namespace

LineReader::LineReader(std::FILE* file) : file_(file), buffer_(kReadBufferBytes) {}

LineReader::LineReader(const std::string& text) : data_(text.data()), end_(text.size()) {}

bool LineReader::Fill() {
  if (position_ < end_) return true;
  if (!file_) return false;
  const std::size_t got = std::fread(buffer_.data(), 1, buffer_.size(), file_);
  if (got == 0) return false;
  data_ = buffer_.data();
  position_ = 0;
  end_ = got;
  return true;
}

bool LineReader::NextByte(char* byte) {
  if (!Fill()) return false;
  *byte = data_[position_++];
  ++consumed_;
  return true;
}

bool LineReader::NextIs(char byte) { return Fill() && data_[position_] == byte; }

int LineReader::ReadLine(std::string* line) {
  line->clear();
  char byte;
  if (!NextByte(&byte)) return -2;
  if (byte == '\n') return 0;
  line->push_back(byte);
  while (line->back() != '\n' && line->size() < kLineBytes && NextByte(&byte)) line->push_back(byte);
  // 1022 bytes of text and the CR of their CR LF fill the line; its LF still
  // belongs to it, or the next call would read it as an empty line.
  if (line->size() == kLineBytes && line->back() == '\r' && NextIs('\n') && NextByte(&byte)) {
    line->push_back(byte);
  }
  // The LF ends the line; without one, the 1023rd byte is dropped.
  if (line->back() == '\n' || line->size() == kLineBytes) line->pop_back();
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return static_cast<int>(line->size());
}

int ReadLines(const std::string& path, std::vector<std::string>* lines) {
  Reading hold(path);
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return -1;
  LineReader reader(file);
  std::string line;
  int count = 0;
  while (reader.ReadLine(&line) > 0) {
    lines->push_back(line);
    ++count;
  }
  std::fclose(file);
  return count;
}

int AppendToFile(const std::string& path, const std::string& text) {
  Writing hold(path);
  return AppendLocked(path, MissingLineEndOfFile(path) + text) ? 0 : -1;
}

int AddLine(const std::string& path, const std::string& text) {
  Writing hold(path);
  std::string content;
  const ReadResult read = ReadWhole(path, &content);
  if (read == kReadFailed) return -1;
  if (read == kOpenFailed && fs::FileExists(path)) return -1;  // there, but unreadable
  const std::string added = WithLineAdded(content, text);
  // Nothing hidden behind the new line: an append leaves the old bytes alone.
  if (added.compare(0, content.size(), content) == 0) {
    return AppendLocked(path, added.substr(content.size())) ? 0 : -1;
  }
  return WriteAtomically(path, added) ? 0 : -1;
}

std::string ReadEntryLine(const std::string& path, int index) {
  if (index < 0) return std::string();
  Reading hold(path);
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    CreateEmptyIfMissing(path);
    return std::string();
  }
  LineReader reader(file);
  std::string line;
  int length = 0;
  for (int i = 0; i <= index && length >= 0; ++i) length = reader.ReadLine(&line);
  std::fclose(file);
  return length >= 0 ? line : std::string();
}

int ReplaceEntryLine(const std::string& path, int index, const std::string& text) {
  if (index < 0) return -1;
  Writing hold(path);
  std::string content;
  ReadResult read = ReadWhole(path, &content);
  if (read == kOpenFailed) {
    hold.Release();  // no other file operation waits on the user
    prompts::Message("File open error", "error", prompts::kOk | prompts::kTaskModal);
    hold.Acquire();
    read = ReadWhole(path, &content);
    if (read == kOpenFailed) {
      // A file that is there but cannot be read is left alone.
      if (fs::FileExists(path)) return -1;
      return WriteAtomically(path, text) ? 0 : -1;
    }
  }
  if (read != kReadOk) return -1;
  return WriteAtomically(path, WithLineReplaced(content, index, text)) ? 0 : -1;
}

int ReplaceEntryLineIf(const std::string& path, int index, const std::string& expected,
                       const std::string& text) {
  if (index < 0) return 1;
  // The rename below would drop lines another process added meanwhile.
  Writing hold(path);
  std::string content;
  if (ReadWhole(path, &content) != kReadOk) return 1;
  LineReader reader(content);
  std::string line;
  for (int i = 0; i <= index; ++i) {
    if (reader.ReadLine(&line) < 0) return 1;
  }
  if (line != expected) return 1;
  return WriteAtomically(path, WithLineReplaced(content, index, text)) ? 0 : -1;
}

int DeleteEntryLine(const std::string& path, int index) {
  if (index < 0) return -1;
  Writing hold(path);
  std::string content;
  const ReadResult read = ReadWhole(path, &content);
  if (read == kOpenFailed) return CreateEmptyIfMissing(path) ? 0 : -1;
  if (read != kReadOk) return -1;
  std::size_t start;
  std::size_t end;
  if (!LocateLine(content, index, &start, &end)) return 0;
  content.erase(start, end - start);
  return WriteAtomically(path, content) ? 0 : -1;
}

int DeleteEntryLines(const std::string& path, const std::vector<int>& ascending) {
  Writing hold(path);
  std::string content;
  const ReadResult read = ReadWhole(path, &content);
  if (read == kOpenFailed) return CreateEmptyIfMissing(path) ? 0 : -1;
  if (read != kReadOk) return -1;
  // One pass over the lines, keeping those not named.
  LineReader reader(content);
  std::string line;
  std::string kept;
  kept.reserve(content.size());
  std::size_t next = 0;
  std::size_t start = 0;
  for (int i = 0; reader.ReadLine(&line) >= 0; ++i) {
    const std::size_t end = static_cast<std::size_t>(reader.Consumed());
    while (next < ascending.size() && ascending[next] < i) ++next;
    if (next == ascending.size() || ascending[next] != i) kept.append(content, start, end - start);
    start = end;
  }
  kept.append(content, start, std::string::npos);
  return WriteAtomically(path, kept) ? 0 : -1;
}

int DeleteMatchingLine(const std::string& path, int index,
                       const std::function<bool(const std::string& line)>& matches) {
  Writing hold(path);
  std::string content;
  if (ReadWhole(path, &content) != kReadOk) return -1;
  LineReader reader(content);
  std::string line;
  std::size_t start = 0;
  bool found = false;
  std::size_t found_start = 0;
  std::size_t found_end = 0;
  for (int i = 0;; ++i) {
    start = static_cast<std::size_t>(reader.Consumed());
    if (reader.ReadLine(&line) <= 0) break;
    if (!matches(line)) continue;
    if (!found || i == index) {
      found_start = start;
      found_end = static_cast<std::size_t>(reader.Consumed());
    }
    found = true;
    if (i >= index) break;
  }
  if (!found) return 1;
  content.erase(found_start, found_end - found_start);
  return WriteAtomically(path, content) ? 0 : -1;
}

int EmptyFile(const std::string& path) {
  Writing hold(path);
  std::FILE* file = fs::OpenOwnerOnly(path, "wb");
  if (!file) return -1;
  return std::fclose(file) == 0 ? 0 : -1;
}

namespace {

// The next token as strtok finds it: leading delimiters skipped, the token
// ends at the next delimiter, which is consumed.
bool NextToken(const std::string& text, std::size_t* position, const char* delimiters,
               std::string* token) {
  const std::size_t first = text.find_first_not_of(delimiters, *position);
  if (first == std::string::npos) {
    *position = text.size();
    return false;
  }
  const std::size_t last = text.find_first_of(delimiters, first);
  if (last == std::string::npos) {
    *token = text.substr(first);
    *position = text.size();
  } else {
    *token = text.substr(first, last - first);
    *position = last + 1;
  }
  return true;
}

}  // namespace

TaskLine SplitTaskLine(const std::string& line) {
  TaskLine fields;
  std::string* const outputs[] = {&fields.date, &fields.time, &fields.local_file,
                                  &fields.status_word, &fields.url};
  std::size_t position = 0;
  for (std::size_t i = 0; i < 5; ++i) {
    // The entry date holds one blank, so the date ends at a blank too.
    if (!NextToken(line, &position, i == 0 ? " \t" : "\t", outputs[i])) break;
  }
  for (std::string* field : outputs) url::SkipLeadingBlanks(field);
  return fields;
}

}  // namespace taskfile
