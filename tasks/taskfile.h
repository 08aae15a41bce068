// The file toolkit of the task files, logs and record files: a line reader and
// operations that read, append, replace and delete lines by index (from 0).
//
// Every line the program writes ends in CR LF. Lines are what the line reader
// returns, so a physical line longer than 1022 bytes counts as several lines,
// exactly as the task loader shows it.
//
// Replace and delete rewrite the file atomically (a sibling temporary file
// renamed over the original): a crash or a full disk leaves the old file.
// Every operation holds one process-wide lock and, across processes, an
// advisory lock on LockPath(path), shared for reading and exclusive for
// writing; neither is held while a prompt is shown.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace taskfile {

// Bytes one line-reader call consumes at most; the last of them is dropped
// when it is not the LF, so a line holds at most 1022 bytes of text.
constexpr std::size_t kLineBytes = 1023;
constexpr std::size_t kLineText = kLineBytes - 1;
// Longest line text (CR LF not counted) that reads back as one line with its
// CR LF.
constexpr std::size_t kMaxWholeLineText = kLineText;

// The companion file that carries the cross-process lock of path: path and
// ".lock". It is never removed, since a lock on a removed file excludes no one.
std::string LockPath(const std::string& path);

// Reads lines from an open file through a 64 KiB buffer; the lines are those
// of a reader taking one byte per call. Does not close the file.
class LineReader {
 public:
  explicit LineReader(std::FILE* file);
  // Reads from text in memory instead of a file.
  explicit LineReader(const std::string& text);
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // Puts the next line, without its LF and a CR before it, into *line.
  // Returns its length, 0 for an empty line, or -2 at end of file (line
  // empty). After 1023 bytes without an LF the 1023rd is dropped (with a CR
  // just before it), and the rest of the physical line comes as a further
  // line; only when the 1023rd is the CR of a CR LF is the LF taken too.
  int ReadLine(std::string* line);

  // Bytes taken from the source by the lines read so far.
  std::uint64_t Consumed() const { return consumed_; }

 private:
  bool Fill();  // false at the end of the source
  bool NextByte(char* byte);
  bool NextIs(char byte);  // the next byte, left unread

  std::FILE* file_ = nullptr;
  std::vector<char> buffer_;
  const char* data_ = nullptr;
  std::size_t position_ = 0;
  std::size_t end_ = 0;
  std::uint64_t consumed_ = 0;
};

// Reads the lines of path up to the first empty line or the end of the file.
// Returns the number of lines, or -1 when the file cannot be opened (then
// nothing is created).
int ReadLines(const std::string& path, std::vector<std::string>* lines);

// Appends text (no terminator added) at the end of path, creating the file.
// When the last line lacks its line end, that goes first, so that text is not
// glued to it. Returns 0, or -1 with the file as it was before.
int AppendToFile(const std::string& path, const std::string& text);

// Puts text (whole lines with their CR LF) right after the last line that
// ReadLines gives, writing a line end that line lacks first: before an empty
// line, the lines it hides stay behind the new text as they are. Creates the
// file. Returns 0, or -1 with the file as it was before.
int AddLine(const std::string& path, const std::string& text);

// Text of line index without CR LF; empty past the end. When the file does
// not exist an empty file of that name is created.
std::string ReadEntryLine(const std::string& path, int index);

// Replaces line index by text, which must end in its own CR LF; an index past
// the end appends text as a new last line. When the file cannot be opened:
// "File open error" / "error", then a missing file is created holding text.
// Returns 0, or -1 with the old file left in place.
int ReplaceEntryLine(const std::string& path, int index, const std::string& text);

// Replaces line index by text (ending in its own CR LF) only while that line
// reads expected (without CR LF). Returns 0 when replaced, 1 when the line is
// not there or differs (or the file cannot be read), -1 with the old file left
// in place when it could not be written.
int ReplaceEntryLineIf(const std::string& path, int index, const std::string& expected,
                       const std::string& text);

// Removes line index; an index past the end leaves the file as it is. A
// missing file is created empty. Returns 0, or -1 with the old file left in
// place.
int DeleteEntryLine(const std::string& path, int index);

// Removes the lines named by ascending (indexes in rising order) in one
// rewrite; indexes past the end are ignored. A missing file is created
// empty. Returns 0, or -1 with the old file left in place.
int DeleteEntryLines(const std::string& path, const std::vector<int>& ascending);

// Removes one line that matches accepts, looking only at the lines before the
// first empty one: line index when it is accepted, else the first accepted
// line. Every other byte of the file stays as it is, also lines appended since
// the caller read the file. Returns 0 when a line was removed, 1 when none was
// accepted (the file is untouched), -1 when the file cannot be read or
// rewritten (the old file stays).
int DeleteMatchingLine(const std::string& path, int index,
                       const std::function<bool(const std::string& line)>& matches);

// Truncates path to length 0, creating it. Returns 0 or -1.
int EmptyFile(const std::string& path);

// The fields of a task line. A missing field and all later ones are empty.
struct TaskLine {
  std::string date;
  std::string time;
  std::string local_file;
  std::string status_word;
  std::string url;
};

// Date ends at a blank or TAB, the other fields at TAB; runs of separators
// count as one; leading blanks of each field are skipped.
TaskLine SplitTaskLine(const std::string& line);

}  // namespace taskfile
