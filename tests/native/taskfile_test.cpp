#include "tasks/taskfile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "task_fixtures.h"

namespace {

using task_fixtures::Exists;
using task_fixtures::ReadFile;
using task_fixtures::ScratchDir;
using task_fixtures::WriteFile;

// Every line reader result up to the end: (length, text).
std::vector<std::pair<int, std::string>> AllLines(taskfile::LineReader& reader) {
  std::vector<std::pair<int, std::string>> lines;
  std::string line;
  int length;
  while ((length = reader.ReadLine(&line)) >= 0) lines.emplace_back(length, line);
  lines.emplace_back(length, line);
  return lines;
}

std::string Bytes(std::size_t n, char c = 'x') { return std::string(n, c); }

struct ReaderCase {
  const char* name;
  std::string content;
  std::vector<std::pair<int, std::string>> lines;  // ends with the end-of-file result
};

TEST(LineReader, SplitsLinesAsTheOneBytePerCallReader) {
  const ReaderCase cases[] = {
      {"CR LF and LF", "ab\r\ncd\n", {{2, "ab"}, {2, "cd"}, {-2, ""}}},
      {"empty CR LF line", "\r\nx\r\n", {{0, ""}, {1, "x"}, {-2, ""}}},
      {"empty LF line", "\nx", {{0, ""}, {1, "x"}, {-2, ""}}},
      {"no line end at the end", "abc", {{3, "abc"}, {-2, ""}}},
      {"CR at the end", "abc\r", {{3, "abc"}, {-2, ""}}},
      {"CR inside a line", "a\rb\r\n", {{3, "a\rb"}, {-2, ""}}},
      {"empty file", "", {{-2, ""}}},
      // 1500 bytes: 1022 of text, the 1023rd dropped, 477 as a further line.
      {"1500-byte line", Bytes(1500) + "\r\n", {{1022, Bytes(1022)}, {477, Bytes(477)}, {-2, ""}}},
      {"1021 bytes read whole", Bytes(1021) + "\r\nz\r\n", {{1021, Bytes(1021)}, {1, "z"}, {-2, ""}}},
      // The CR is the 1023rd byte: dropped, and the LF then reads as an empty line.
      {"1022 bytes leave the LF", Bytes(1022) + "\r\nz\r\n",
       {{1022, Bytes(1022)}, {0, ""}, {1, "z"}, {-2, ""}}},
      {"CR before the dropped byte", Bytes(1021) + "\rQrest\r\n",
       {{1021, Bytes(1021)}, {4, "rest"}, {-2, ""}}},
      {"1023 bytes then end of file", Bytes(1023), {{1022, Bytes(1022)}, {-2, ""}}},
  };
  for (const ReaderCase& c : cases) {
    SCOPED_TRACE(c.name);
    taskfile::LineReader reader(c.content);
    EXPECT_EQ(c.lines, AllLines(reader));
    EXPECT_EQ(c.content.size(), reader.Consumed());
  }
}

// The reader as the original has it: one byte per call.
std::vector<std::pair<int, std::string>> OneBytePerCall(const std::string& path) {
  std::vector<std::pair<int, std::string>> lines;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  for (;;) {
    int c = std::fgetc(file);
    if (c == EOF) break;
    if (c == '\n') {
      lines.emplace_back(0, "");
      continue;
    }
    std::string line(1, static_cast<char>(c));
    while (line.back() != '\n' && line.size() < 1023 && (c = std::fgetc(file)) != EOF) {
      line += static_cast<char>(c);
    }
    if (line.back() == '\n' || line.size() == 1023) line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.emplace_back(static_cast<int>(line.size()), line);
  }
  std::fclose(file);
  lines.emplace_back(-2, "");
  return lines;
}

TEST(LineReader, GivesTheSameLinesAcrossBufferRefills) {
  ScratchDir dir;
  std::string content;
  // Line lengths chosen to cross the 64 KiB buffer boundaries in every state:
  // within a line, on a CR, on an LF, inside a long cut line.
  for (int i = 0; content.size() < 3 * 65536 + 5000; ++i) {
    const std::size_t length = (i * 389) % 2300;
    content += Bytes(length, static_cast<char>('a' + i % 26));
    content += i % 7 == 0 ? "\n" : "\r\n";
    if (i % 50 == 0) content += "\r\n";
  }
  const std::string path = dir.Join("big.txt");
  WriteFile(path, content);
  std::FILE* file = std::fopen(path.c_str(), "rb");
  ASSERT_NE(nullptr, file);
  taskfile::LineReader reader(file);
  const auto buffered = AllLines(reader);
  std::fclose(file);
  EXPECT_EQ(OneBytePerCall(path), buffered);
  EXPECT_GT(buffered.size(), 200u);
}

TEST(ReadLines, StopsAtTheFirstEmptyLine) {
  ScratchDir dir;
  const std::string path = dir.Join("t.rcv");
  WriteFile(path, "a\r\nb\r\n\r\nc\r\n");
  std::vector<std::string> lines;
  EXPECT_EQ(2, taskfile::ReadLines(path, &lines));
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), lines);
}

TEST(ReadLines, MissingFileIsNotCreated) {
  ScratchDir dir;
  std::vector<std::string> lines;
  EXPECT_EQ(-1, taskfile::ReadLines(dir.Join("none.rcv"), &lines));
  EXPECT_FALSE(Exists(dir.Join("none.rcv")));
}

TEST(ReadEntryLine, ReadsByIndex) {
  ScratchDir dir;
  const std::string path = dir.Join("t.rcv");
  WriteFile(path, "zero\r\none\r\n" + Bytes(1500) + "\r\n");
  EXPECT_EQ("zero", taskfile::ReadEntryLine(path, 0));
  EXPECT_EQ("one", taskfile::ReadEntryLine(path, 1));
  EXPECT_EQ(Bytes(1022), taskfile::ReadEntryLine(path, 2));
  EXPECT_EQ(Bytes(477), taskfile::ReadEntryLine(path, 3));
  EXPECT_EQ("", taskfile::ReadEntryLine(path, 4));
  EXPECT_EQ("", taskfile::ReadEntryLine(path, -1));
}

TEST(ReadEntryLine, MissingFileIsCreatedEmpty) {
  ScratchDir dir;
  const std::string path = dir.Join("none.rcv");
  EXPECT_EQ("", taskfile::ReadEntryLine(path, 0));
  ASSERT_TRUE(Exists(path));
  EXPECT_EQ("", ReadFile(path));
}

TEST(AppendToFile, CreatesThenAppends) {
  ScratchDir dir;
  const std::string path = dir.Join("t.rcv");
  EXPECT_EQ(0, taskfile::AppendToFile(path, "a\r\n"));
  EXPECT_EQ(0, taskfile::AppendToFile(path, "b\r\n"));
  EXPECT_EQ("a\r\nb\r\n", ReadFile(path));
  EXPECT_EQ(6u, taskfile::FileSize(path));
  EXPECT_EQ(-1, taskfile::AppendToFile(dir.Join("no/such/dir.rcv"), "a\r\n"));
}

struct RewriteCase {
  const char* name;
  std::string before;
  int index;
  std::string after;
};

TEST(ReplaceEntryLine, RewritesTheLineAndShortensTheFile) {
  const std::string long_line = Bytes(1022, 'L') + "D" + Bytes(477, 'T') + "\r\n";
  const RewriteCase cases[] = {
      {"shorter middle line", "first\r\nsecond line\r\nthird\r\n", 1, "first\r\nNEW\r\nthird\r\n"},
      {"longer middle line", "a\r\nb\r\nc\r\n", 1, "a\r\nNEW\r\nc\r\n"},
      {"first line", "first\r\nsecond\r\n", 0, "NEW\r\nsecond\r\n"},
      {"last line", "first\r\nsecond\r\n", 1, "first\r\nNEW\r\n"},
      {"last line without line end", "first\r\nsecond", 1, "first\r\nNEW\r\n"},
      {"past the end appends", "a\r\nb\r\n", 5, "a\r\nb\r\nNEW\r\n"},
      {"past an open last line", "a\r\nb", 2, "a\r\nb\r\nNEW\r\n"},
      {"empty file", "", 0, "NEW\r\n"},
      {"empty file, later index", "", 3, "NEW\r\n"},
      {"LF-only lines", "a\nb\nc\n", 1, "a\nNEW\r\nc\n"},
      {"empty line counts as a line", "a\r\n\r\nc\r\n", 2, "a\r\n\r\nNEW\r\n"},
      // A long physical line is two lines: 1023 bytes, then the rest.
      {"head of a long line", "a\r\n" + long_line + "z\r\n", 1,
       "a\r\nNEW\r\n" + Bytes(477, 'T') + "\r\nz\r\n"},
      {"tail of a long line", "a\r\n" + long_line + "z\r\n", 2,
       "a\r\n" + Bytes(1022, 'L') + "DNEW\r\nz\r\n"},
      {"line after a long line", "a\r\n" + long_line + "z\r\n", 3, "a\r\n" + long_line + "NEW\r\n"},
  };
  for (const RewriteCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const std::string path = dir.Join("t.rcv");
    WriteFile(path, c.before);
    EXPECT_EQ(0, taskfile::ReplaceEntryLine(path, c.index, "NEW\r\n"));
    EXPECT_EQ(c.after, ReadFile(path));
    EXPECT_EQ((std::vector<std::string>{"t.rcv"}), dir.Names());
  }
}

TEST(ReplaceEntryLine, MissingFileSaysSoAndIsCreatedWithTheText) {
  task_fixtures::RecordingSink sink;
  prompts::SetSink(&sink);
  ScratchDir dir;
  const std::string path = dir.Join("none.rcv");
  EXPECT_EQ(0, taskfile::ReplaceEntryLine(path, 3, "NEW\r\n"));
  prompts::SetSink(nullptr);
  EXPECT_EQ("NEW\r\n", ReadFile(path));
  ASSERT_EQ(1u, sink.shown.size());
  EXPECT_EQ("File open error", sink.shown[0].text);
  EXPECT_EQ("error", sink.shown[0].caption);
  EXPECT_EQ(unsigned(prompts::kTaskModal), sink.shown[0].style);
}

TEST(DeleteEntryLine, RemovesTheLineAndShortensTheFile) {
  const std::string long_line = Bytes(1022, 'L') + "D" + Bytes(477, 'T') + "\r\n";
  const RewriteCase cases[] = {
      {"only line", "only\r\n", 0, ""},
      {"middle line", "a\r\nbb\r\nc\r\n", 1, "a\r\nc\r\n"},
      {"first line", "a\r\nb\r\n", 0, "b\r\n"},
      {"last line without line end", "a\r\nb", 1, "a\r\n"},
      {"past the end", "a\r\nb\r\n", 2, "a\r\nb\r\n"},
      {"far past the end", "a\r\nb\r\n", 99, "a\r\nb\r\n"},
      {"empty file", "", 0, ""},
      {"empty line", "a\r\n\r\nc\r\n", 1, "a\r\nc\r\n"},
      {"head of a long line", "a\r\n" + long_line + "z\r\n", 1,
       "a\r\n" + Bytes(477, 'T') + "\r\nz\r\n"},
      {"tail of a long line", "a\r\n" + long_line + "z\r\n", 2,
       "a\r\n" + Bytes(1022, 'L') + "Dz\r\n"},
  };
  for (const RewriteCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const std::string path = dir.Join("t.rcv");
    WriteFile(path, c.before);
    EXPECT_EQ(0, taskfile::DeleteEntryLine(path, c.index));
    EXPECT_EQ(c.after, ReadFile(path));
    EXPECT_EQ((std::vector<std::string>{"t.rcv"}), dir.Names());
  }
}

TEST(DeleteEntryLine, MissingFileIsCreatedEmpty) {
  ScratchDir dir;
  const std::string path = dir.Join("none.rcv");
  EXPECT_EQ(0, taskfile::DeleteEntryLine(path, 0));
  ASSERT_TRUE(Exists(path));
  EXPECT_EQ("", ReadFile(path));
}

// Makes writes past limit bytes fail as on a full disk (EFBIG instead of
// SIGXFSZ), also for root, for the life of the object.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t limit) {
    old_handler_ = signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &old_);
    rlimit lowered = old_;
    lowered.rlim_cur = limit;
    setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    signal(SIGXFSZ, old_handler_);
  }

 private:
  rlimit old_;
  void (*old_handler_)(int);
};

TEST(RewriteFailure, ReplaceAndDeleteKeepTheOldFileOnAFullDisk) {
  ScratchDir dir;
  const std::string path = dir.Join("t.rcv");
  const std::string before = Bytes(300, 'a') + "\r\n" + Bytes(300, 'b') + "\r\n";
  WriteFile(path, before);
  {
    FileSizeLimit limit(100);
    EXPECT_EQ(-1, taskfile::ReplaceEntryLine(path, 0, "NEW\r\n"));
    EXPECT_EQ(-1, taskfile::DeleteEntryLine(path, 0));
  }
  EXPECT_EQ(before, ReadFile(path));
  EXPECT_EQ((std::vector<std::string>{"t.rcv"}), dir.Names());
}

TEST(RewriteFailure, AppendLeavesNoPartialLine) {
  ScratchDir dir;
  const std::string path = dir.Join("t.rcv");
  const std::string before = Bytes(80, 'a') + "\r\n";
  WriteFile(path, before);
  {
    FileSizeLimit limit(100);
    EXPECT_EQ(-1, taskfile::AppendToFile(path, Bytes(50, 'b') + "\r\n"));
    EXPECT_EQ(-1, taskfile::AppendToFile(dir.Join("new.rcv"), Bytes(150, 'b') + "\r\n"));
  }
  EXPECT_EQ(before, ReadFile(path));
  EXPECT_FALSE(Exists(dir.Join("new.rcv")));
  EXPECT_EQ((std::vector<std::string>{"t.rcv"}), dir.Names());
}

// Workers rewrite lines on redirects while other entries are added: no line
// may be lost or torn by a rewrite racing an append.
TEST(ConcurrentWrites, NoLineIsLostOrTorn) {
  ScratchDir dir;
  const std::string path = dir.Join("t.rcv");
  constexpr int kLinesEach = 60;
  WriteFile(path, "r0\r\nr1\r\nr2\r\nr3\r\n");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&path, t] {
      for (int i = 0; i < kLinesEach; ++i) {
        taskfile::AppendToFile(path, "a" + std::to_string(t) + "-" + std::to_string(i) + "\r\n");
      }
    });
  }
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&path, t] {
      for (int i = 0; i < kLinesEach; ++i) {
        taskfile::ReplaceEntryLine(path, t, "r" + std::to_string(t) + "-" + std::to_string(i) + "\r\n");
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  std::vector<std::string> lines;
  ASSERT_EQ(4 + 4 * kLinesEach, taskfile::ReadLines(path, &lines));
  for (int t = 0; t < 4; ++t) {
    EXPECT_EQ("r" + std::to_string(t) + "-" + std::to_string(kLinesEach - 1), lines[t]);
  }
  const std::set<std::string> appended(lines.begin() + 4, lines.end());
  EXPECT_EQ(std::size_t(4 * kLinesEach), appended.size());
  for (int t = 0; t < 4; ++t) {
    for (int i = 0; i < kLinesEach; ++i) {
      EXPECT_EQ(1u, appended.count("a" + std::to_string(t) + "-" + std::to_string(i)));
    }
  }
  EXPECT_EQ((std::vector<std::string>{"t.rcv"}), dir.Names());
}

TEST(SplitTaskLine, SplitsIntoFiveFields) {
  struct Case {
    const char* name;
    std::string line;
    taskfile::TaskLine fields;
  } cases[] = {
      {"whole line", "03/14/26 09:05\tC:\\Down\\a.zip\tAwaiting_command\tftp://h/pub/a.zip",
       {"03/14/26", "09:05", "C:\\Down\\a.zip", "Awaiting_command", "ftp://h/pub/a.zip"}},
      {"TAB after the date", "03/14/26\t09:05\tf\ts\tu", {"03/14/26", "09:05", "f", "s", "u"}},
      {"runs of TABs are one separator", "d t\t\tf\t\t\ts\tu", {"d", "t", "f", "s", "u"}},
      {"blanks inside fields stay", "d t\tmy file\ts\thttp://h/a b", {"d", "t", "my file", "s", "http://h/a b"}},
      {"leading blanks are skipped", "  d   t\t f\t\x01s\t \x80u", {"d", "t", "f", "s", "u"}},
      {"missing fields stay empty", "d t\tf", {"d", "t", "f", "", ""}},
      {"date only", "03/14/26", {"03/14/26", "", "", "", ""}},
      {"fields after the URL are ignored", "d t\tf\ts\tu\textra", {"d", "t", "f", "s", "u"}},
      {"empty line", "", {"", "", "", "", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const taskfile::TaskLine got = taskfile::SplitTaskLine(c.line);
    EXPECT_EQ(c.fields.date, got.date);
    EXPECT_EQ(c.fields.time, got.time);
    EXPECT_EQ(c.fields.local_file, got.local_file);
    EXPECT_EQ(c.fields.status_word, got.status_word);
    EXPECT_EQ(c.fields.url, got.url);
  }
}

}  // namespace
