#include "tasks/taskfile.h"

#include <unistd.h>

#include <cstdio>
#include <future>
#include <thread>

#include "native/fixtures.h"
#include "platform/filelock.h"

namespace {

using namespace fixtures;

using Lines = std::vector<std::pair<int, std::string>>;

// Every line reader result up to and including the end-of-file one.
Lines AllLines(taskfile::LineReader& reader) {
  Lines lines(1);
  while ((lines.back().first = reader.ReadLine(&lines.back().second)) >= 0) lines.emplace_back();
  return lines;
}

std::string Bytes(std::size_t n, char c = 'x') { return std::string(n, c); }

TEST(LineReader, CutsLongLinesAndReadsEmptyOnes) {
  const std::pair<std::string, Lines> cases[] = {
      {"ab\r\ncd\n", {{2, "ab"}, {2, "cd"}, {-2, ""}}},
      {"\n\r\na\rb\r", {{0, ""}, {0, ""}, {3, "a\rb"}, {-2, ""}}},
      {"", {{-2, ""}}},
      // 1022 bytes of text; the 1023rd is dropped and the rest is a further line.
      {Bytes(1500) + "\r\n", {{1022, Bytes(1022)}, {477, Bytes(477)}, {-2, ""}}},
      {Bytes(1021) + "\r\nz", {{1021, Bytes(1021)}, {1, "z"}, {-2, ""}}},
      // 1022 bytes of text fill the line with the CR of their CR LF, and the
      // LF still ends it; a CR without its LF is the dropped byte.
      {Bytes(1022) + "\r\nz", {{1022, Bytes(1022)}, {1, "z"}, {-2, ""}}},
      {Bytes(1022) + "\r\n\r\nz", {{1022, Bytes(1022)}, {0, ""}, {1, "z"}, {-2, ""}}},
      {Bytes(1022) + "\rz\r\n", {{1022, Bytes(1022)}, {1, "z"}, {-2, ""}}},
      {Bytes(1022) + "\r", {{1022, Bytes(1022)}, {-2, ""}}},
      {Bytes(1021) + "\rQrest\r\n", {{1021, Bytes(1021)}, {4, "rest"}, {-2, ""}}},
      {Bytes(1023), {{1022, Bytes(1022)}, {-2, ""}}},
  };
  for (const auto& [content, lines] : cases) {
    taskfile::LineReader reader(content);
    EXPECT_EQ(lines, AllLines(reader)) << content.substr(0, 20);
  }
}

TEST(LineReader, ReadsAFileAcrossBufferRefillsAsTextInMemory) {
  // Around the 64 KiB refills: a CR LF split by one, an LF first after one, a
  // line cut after one, a CR before a dropped byte that comes after one, the
  // LF of a 1022-byte line's CR LF first after one.
  std::string content;
  for (const auto& [at, shape] : std::vector<std::pair<std::size_t, std::string>>{
           {65536 - 4, "xyz\r\n"}, {2 * 65536 - 3, "xyz\nend\r\n"}, {3 * 65536 - 1000, Bytes(1500) + "\r\n"},
           {4 * 65536 - 1021, Bytes(1021) + "\rQrest\r\n"}, {5 * 65536 - 1023, Bytes(1022) + "\r\nafter\r\n"}}) {
    for (std::size_t room; (room = at - content.size()) > 0;) {  // short lines up to `at`
      content += room >= 1002 ? Bytes(1000, 'a') + "\r\n" : room >= 2 ? Bytes(room - 2, 'b') + "\r\n" : "\n";
    }
    content += shape;
  }
  std::FILE* file = std::tmpfile();
  ASSERT_EQ(content.size(), std::fwrite(content.data(), 1, content.size(), file));
  std::rewind(file);
  taskfile::LineReader from_text(content), from_file(file);
  EXPECT_EQ(AllLines(from_text), AllLines(from_file));
  std::fclose(file);
}

// A task environment, for its scratch directory and prompts sink.
struct TaskFileLines : ::testing::Test {
  TaskEnvironment env;
  const std::string path = env.dir.Join("t.rcv");
  // No temporary file is left beside the task file and its lock.
  static Texts OnlyTheTaskFile() { return {"t.rcv", "t.rcv.lock"}; }
};

TEST_F(TaskFileLines, AppendThenReadUpToTheFirstEmptyLineOrByIndex) {
  const std::string none = env.dir.Join("none.rcv");
  EXPECT_EQ(0, taskfile::AppendToFile(path, "zero\r\n"));
  EXPECT_EQ(0, taskfile::AppendToFile(path, Bytes(1500) + "\r\n\r\nafter\r\n"));
  EXPECT_EQ(-1, taskfile::AppendToFile(env.dir.Join("no/such/dir.rcv"), "a\r\n"));
  Texts lines;
  EXPECT_EQ(3, taskfile::ReadLines(path, &lines));
  EXPECT_EQ((Texts{"zero", Bytes(1022), Bytes(477)}), lines);
  for (const auto& [index, text] : Lines{{2, Bytes(477)}, {4, "after"}, {5, ""}, {-1, ""}}) {
    EXPECT_EQ(text, taskfile::ReadEntryLine(path, index)) << index;
  }
  // A missing file: ReadLines leaves it missing, ReadEntryLine creates it empty.
  EXPECT_EQ(-1, taskfile::ReadLines(none, &lines));
  EXPECT_FALSE(std::filesystem::exists(none));
  EXPECT_EQ("", taskfile::ReadEntryLine(none, 0));
  EXPECT_TRUE(std::filesystem::exists(none));
}

// A new line is never glued to a last line that lacks its line end. Added as
// an entry, it also goes right after the last line that ReadLines gives, so it
// is shown, and the lines behind an empty line stay behind it.
TEST_F(TaskFileLines, AppendAndAddLineStartANewLine) {
  const std::string cut = Bytes(1023, 'C'), whole = Bytes(1022, 'W');
  const struct { std::string before, appended, added; } cases[] = {
      {"", "NEW\r\n", "NEW\r\n"},
      {"a\r\n", "a\r\nNEW\r\n", "a\r\nNEW\r\n"},
      {"a\r\nb", "a\r\nb\r\nNEW\r\n", "a\r\nb\r\nNEW\r\n"},
      {"a\r", "a\r\nNEW\r\n", "a\r\nNEW\r\n"},
      {"a\n", "a\nNEW\r\n", "a\nNEW\r\n"},
      // A line ended by the cut needs no line end: a CR LF would read as an
      // empty line.
      {cut, cut + "NEW\r\n", cut + "NEW\r\n"},
      {whole, whole + "\r\nNEW\r\n", whole + "\r\nNEW\r\n"},
      {"a\r\n\r\nhidden\r\n", "a\r\n\r\nhidden\r\nNEW\r\n", "a\r\nNEW\r\n\r\nhidden\r\n"},
      {"\r\nhidden", "\r\nhidden\r\nNEW\r\n", "NEW\r\n\r\nhidden"},
      {cut + "\r\n\r\nh", cut + "\r\n\r\nh\r\nNEW\r\n", cut + "NEW\r\n\r\n\r\nh"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.before.substr(0, 20));
    WriteFile(path, c.before);
    Texts shown;
    taskfile::ReadLines(path, &shown);
    EXPECT_EQ(0, taskfile::AppendToFile(path, "NEW\r\n"));
    EXPECT_EQ(c.appended, ReadFile(path));
    WriteFile(path, c.before);
    EXPECT_EQ(0, taskfile::AddLine(path, "NEW\r\n"));
    EXPECT_EQ(c.added, ReadFile(path));
    Texts lines;
    taskfile::ReadLines(path, &lines);
    shown.push_back("NEW");
    EXPECT_EQ(shown, lines);
  }
  // The file comes into being with its first line; a failed write leaves none.
  EXPECT_EQ(0, taskfile::AddLine(env.dir.Join("new.rcv"), "NEW\r\n"));
  EXPECT_EQ("NEW\r\n", ReadFile(env.dir.Join("new.rcv")));
  EXPECT_EQ(-1, taskfile::AddLine(env.dir.Join("no/such/dir.rcv"), "a\r\n"));
}

TEST_F(TaskFileLines, ReplaceAndDeleteRewriteTheFileWhole) {
  const std::string tail = Bytes(477, 'T') + "\r\n", long_line = Bytes(1022, 'L') + "D" + tail;
  // The file after replacing the line at index by "NEW\r\n", or deleting it.
  const struct { std::string before; int index; std::string replaced, deleted; } cases[] = {
      {"a\r\nb\r\n", 0, "NEW\r\nb\r\n", "b\r\n"},
      {"a\r\nb", 1, "a\r\nNEW\r\n", "a\r\n"},
      {"a\r\nb\r\n", 5, "a\r\nb\r\nNEW\r\n", "a\r\nb\r\n"},  // past the end
      {"a\r\nb", 2, "a\r\nb\r\nNEW\r\n", "a\r\nb"},
      {"", 3, "NEW\r\n", ""},
      {"a\nb\nc\n", 1, "a\nNEW\r\nc\n", "a\nc\n"},
      {"a\r\n\r\nc\r\n", 1, "a\r\nNEW\r\nc\r\n", "a\r\nc\r\n"},
      // A long physical line is two lines: 1023 bytes, then the rest.
      {"a\r\n" + long_line + "z\r\n", 1, "a\r\nNEW\r\n" + tail + "z\r\n", "a\r\n" + tail + "z\r\n"},
      {"a\r\n" + long_line + "z\r\n", 2, "a\r\n" + Bytes(1022, 'L') + "DNEW\r\nz\r\n",
       "a\r\n" + Bytes(1022, 'L') + "Dz\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.before.substr(0, 20) + " at " + std::to_string(c.index));
    WriteFile(path, c.before);
    EXPECT_EQ(0, taskfile::ReplaceEntryLine(path, c.index, "NEW\r\n"));
    EXPECT_EQ(c.replaced, ReadFile(path));
    WriteFile(path, c.before);
    EXPECT_EQ(0, taskfile::DeleteEntryLine(path, c.index));
    EXPECT_EQ(c.deleted, ReadFile(path));
    EXPECT_EQ(OnlyTheTaskFile(), Names(env.dir.path()));
  }
}

// While its box is up a rewrite holds no lock; another writer that takes the
// lock meanwhile and creates the file goes first, and the rewrite then works
// on what it wrote.
struct WriterDuringTheBox : RecordingSink {
  explicit WriterDuringTheBox(std::string task) : path(std::move(task)) {}
  ~WriterDuringTheBox() override { if (writer.joinable()) writer.join(); }
  int Message(const std::string& text, const std::string& caption, unsigned style) override {
    std::promise<void> locked;
    writer = std::thread([this, &locked] {
      filelock::Hold hold(taskfile::LockPath(path), filelock::Hold::kExclusive);
      locked.set_value();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      WriteFile(path, "a\r\n");
    });
    locked.get_future().wait();
    return RecordingSink::Message(text, caption, style);
  }
  const std::string path;
  std::thread writer;
};

TEST_F(TaskFileLines, ReplaceAndDeleteCreateAMissingFileAndKeepTheOldOneOnAFullDisk) {
  // A negative index names no line: nothing is made or written.
  EXPECT_EQ(-1, taskfile::DeleteEntryLine(path, -1));
  EXPECT_EQ(-1, taskfile::ReplaceEntryLine(path, -1, "NEW\r\n"));
  EXPECT_FALSE(std::filesystem::exists(path));
  {
    WriterDuringTheBox sink(path);
    prompts::SetSink(&sink);
    EXPECT_EQ(0, taskfile::ReplaceEntryLine(path, 3, "NEW\r\n"));
    prompts::SetSink(&env.sink);
    EXPECT_EQ(sink.Shown(), Texts{Box("error", "File open error", prompts::kTaskModal)});
  }
  EXPECT_EQ("a\r\nNEW\r\n", ReadFile(path));
  EXPECT_EQ(0, taskfile::DeleteEntryLine(env.dir.Join("d.rcv"), 0));
  EXPECT_TRUE(std::filesystem::remove(env.dir.Join("d.rcv")));  // it was created
  std::filesystem::remove(taskfile::LockPath(env.dir.Join("d.rcv")));
  const std::string before = "a\r\nNEW\r\n" + Bytes(150) + "\r\n";
  EXPECT_EQ(0, taskfile::AppendToFile(path, Bytes(150) + "\r\n"));
  {
    FullDisk full(200);  // room for part of each change
    EXPECT_EQ(-1, taskfile::ReplaceEntryLine(path, 0, Bytes(60, 'n') + "\r\n"));
    EXPECT_EQ(-1, taskfile::AppendToFile(path, Bytes(60, 'c') + "\r\n"));
    EXPECT_EQ(-1, taskfile::AddLine(path, Bytes(60, 'd') + "\r\n"));
  }
  EXPECT_EQ(before, ReadFile(path));
  EXPECT_EQ(OnlyTheTaskFile(), Names(env.dir.path()));
}

// Workers rewrite lines on redirects (and the edit dialog its line) while
// entries are added, by this process and by another parcelo on the same task:
// no line may be lost or torn by a rewrite racing an addition.
TEST_F(TaskFileLines, ConcurrentWritesLoseNoLineAcrossThreadsAndProcesses) {
  constexpr int kWriters = 4, kRounds = 50;
  const auto write = [&path = path](int writer) {
    for (int i = 0; i < kRounds; ++i) {
      const std::string added = "a" + std::to_string(i) + "\r\n";
      if (i % 2) {
        taskfile::AppendToFile(path, added);
      } else {
        taskfile::AddLine(path, added);
      }
      // A redirect (or the edit dialog) rewrites the line only while it reads as before.
      const std::string line = "r" + std::to_string(i) + "\r\n", before = i ? "r" + std::to_string(i - 1) : "r";
      if (i % 2) {
        taskfile::ReplaceEntryLineIf(path, writer, before, line);
      } else {
        taskfile::ReplaceEntryLine(path, writer, line);
      }
    }
  };
  for (const bool processes : {false, true}) {
    SCOPED_TRACE(processes ? "processes" : "threads");
    WriteFile(path, "r\r\nr\r\nr\r\nr\r\n");
    if (processes) {
      std::vector<pid_t> children;
      for (int t = 0; t < kWriters; ++t) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
          write(t);
          _exit(0);
        }
        children.push_back(child);
      }
      // The lines tell whether a writer did its work; an exit status would
      // also carry a sanitizer's verdict on other tests run before the fork.
      for (pid_t child : children) EXPECT_EQ(child, waitpid(child, nullptr, 0));
    } else {
      std::vector<std::thread> threads;
      for (int t = 0; t < kWriters; ++t) threads.emplace_back(write, t);
      for (std::thread& thread : threads) thread.join();
    }
    Texts lines;
    EXPECT_EQ(kWriters + kWriters * kRounds, taskfile::ReadLines(path, &lines));
    lines.resize(kWriters);
    EXPECT_EQ(Texts(kWriters, "r" + std::to_string(kRounds - 1)), lines);
  }
}

}  // namespace
