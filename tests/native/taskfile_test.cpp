#include "tasks/taskfile.h"

#include <cstdio>
#include <thread>

#include "native/fixtures.h"

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
      // The CR is the dropped byte, so the LF reads as an empty line.
      {Bytes(1022) + "\r\nz", {{1022, Bytes(1022)}, {0, ""}, {1, "z"}, {-2, ""}}},
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
  // line cut after one, a CR before a dropped byte that comes after one.
  std::string content;
  for (const auto& [at, shape] : std::vector<std::pair<std::size_t, std::string>>{
           {65536 - 4, "xyz\r\n"}, {2 * 65536 - 3, "xyz\nend\r\n"}, {3 * 65536 - 1000, Bytes(1500) + "\r\n"},
           {4 * 65536 - 1021, Bytes(1021) + "\rQrest\r\n"}}) {
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
    EXPECT_EQ(Texts{"t.rcv"}, Names(env.dir.path()));
  }
}

TEST_F(TaskFileLines, ReplaceAndDeleteCreateAMissingFileAndKeepTheOldOneOnAFullDisk) {
  EXPECT_EQ(0, taskfile::ReplaceEntryLine(path, 3, "NEW\r\n"));
  EXPECT_EQ(env.sink.Shown(), Texts{Box("error", "File open error", prompts::kTaskModal)});
  EXPECT_EQ(0, taskfile::DeleteEntryLine(env.dir.Join("d.rcv"), 0));
  EXPECT_TRUE(std::filesystem::remove(env.dir.Join("d.rcv")));  // it was created
  const std::string before = "NEW\r\n" + Bytes(150) + "\r\n";
  EXPECT_EQ(0, taskfile::AppendToFile(path, Bytes(150) + "\r\n"));
  {
    FullDisk full(200);  // room for part of each change
    EXPECT_EQ(-1, taskfile::ReplaceEntryLine(path, 0, Bytes(60, 'n') + "\r\n"));
    EXPECT_EQ(-1, taskfile::AppendToFile(path, Bytes(60, 'c') + "\r\n"));
  }
  EXPECT_EQ(before, ReadFile(path));
  EXPECT_EQ(Texts{"t.rcv"}, Names(env.dir.path()));
}

// Workers rewrite lines on redirects while entries are added: no line may be
// lost or torn by a rewrite racing an append.
TEST_F(TaskFileLines, ConcurrentWritesLoseNoLine) {
  WriteFile(path, "r\r\nr\r\nr\r\nr\r\n");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&path = path, t] {
      for (int i = 0; i < 50; ++i) {
        taskfile::AppendToFile(path, "a" + std::to_string(i) + "\r\n");
        taskfile::ReplaceEntryLine(path, t, "r" + std::to_string(i) + "\r\n");
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  Texts lines;
  EXPECT_EQ(4 + 4 * 50, taskfile::ReadLines(path, &lines));
  lines.resize(4);
  EXPECT_EQ(Texts(4, "r49"), lines);
}

}  // namespace
