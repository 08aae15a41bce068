// The help file the build writes beside the programs: every help context the
// program asks for opens the topic about that window, the contents open the
// contents topic, and other numbers open nothing. Read by a reader of our own,
// so a file whose context map is empty or points elsewhere fails here.

#include <gtest/gtest.h>

#include <filesystem>

#include "native/fixtures.h"
#include "native/winhelp_reader.h"

namespace {

using winhelp::HelpFile;

std::string BuiltHelpFile() {
  return std::filesystem::read_symlink("/proc/self/exe").replace_filename("Parcelo32.HLP").string();
}

struct HelpFileTest : ::testing::Test {
  void SetUp() override {
    std::vector<std::uint8_t> bytes = winhelp::ReadBytes(BuiltHelpFile());
    ASSERT_FALSE(bytes.empty()) << BuiltHelpFile();
    ASSERT_EQ("", help.Load(bytes));
  }
  HelpFile help;
};

// The map and the context names agree: a number leads to the same topic as
// the name a link inside the file would use.
TEST_F(HelpFileTest, EachContextNumberAndItsNameOpenTheTopicAboutItsWindow) {
  const struct { std::uint32_t number; const char *name, *title; } contexts[] = {
      {10, "configuration", "Configuration"}, {20, "entering_urls", "Entering URLs"},
      {30, "drop_window", "The drop window"}, {40, "scheduling", "Scheduling transfers"},
      {50, "logs", "The logs and Execute"},   {60, "editing_entries", "Editing an entry"},
  };
  for (const auto& c : contexts) {
    SCOPED_TRACE(c.number);
    std::optional<std::uint32_t> topic = help.TopicOfNumber(c.number);
    ASSERT_TRUE(topic.has_value());
    EXPECT_EQ(c.title, help.TitleAt(*topic));
    EXPECT_EQ(topic, help.TopicOfName(c.name));
  }
  EXPECT_EQ(6u, help.ContextMap().size());
  EXPECT_FALSE(help.TopicOfName("no_such_topic").has_value());
}

TEST_F(HelpFileTest, ContentsOpenTheContentsTopicAndOtherNumbersNothing) {
  std::optional<std::uint32_t> contents = help.ContentsTopic();
  ASSERT_TRUE(contents.has_value());
  EXPECT_EQ("Contents", help.TitleAt(*contents));
  for (std::uint32_t number : {0u, 1u, 11u, 35u, 70u, 5006u, 0xFFFFFFFFu}) {
    EXPECT_FALSE(help.TopicOfNumber(number).has_value()) << number;
  }
}

// Runs the map writer on file with the context list at contexts; returns its
// exit status.
int WriteMap(const std::string& file, const std::string& contexts) {
  const std::string command = std::string("'") + PARCELO_PYTHON + "' '" + PARCELO_HELP_SOURCE + "/ctxomap.py' '" +
                              file + "' '" + contexts + "' 2>/dev/null";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(HelpMapWriter, ReplacesTheWholeMapOrLeavesTheFileAlone) {
  fixtures::ScratchDir dir;
  const std::string file = dir.Join("Parcelo32.HLP"), contexts = dir.Join("contexts.txt");
  std::filesystem::copy_file(BuiltHelpFile(), file);
  const std::string before = fixtures::ReadFile(file);
  // A name no topic has, a number given twice, a line without a number.
  for (const char* refused : {"10 configuration\n20 no_such_topic\n", "10 logs\n10 scheduling\n", "logs\n"}) {
    SCOPED_TRACE(refused);
    fixtures::WriteFile(contexts, refused);
    EXPECT_EQ(1, WriteMap(file, contexts));
    EXPECT_EQ(before, fixtures::ReadFile(file));
  }
  EXPECT_EQ(fixtures::Texts({"Parcelo32.HLP", "contexts.txt"}), fixtures::Names(dir.path()));

  // Seven numbers need more room than the six of the build: the map moves.
  fixtures::WriteFile(contexts,
                      "# numbers of another program\n99 scheduling\n10 logs  # moved\n1 configuration\n"
                      "2 entering_urls\n3 drop_window\n4 editing_entries\n5 logs\n");
  ASSERT_EQ(0, WriteMap(file, contexts));
  HelpFile help;
  ASSERT_EQ("", help.Load(winhelp::ReadBytes(file)));
  EXPECT_EQ(7u, help.ContextMap().size());
  EXPECT_EQ("Editing an entry", help.TitleAt(help.TopicOfNumber(4).value_or(0)));
  EXPECT_EQ("The logs and Execute", help.TitleAt(help.TopicOfNumber(10).value_or(0)));
  EXPECT_EQ("Scheduling transfers", help.TitleAt(help.TopicOfNumber(99).value_or(0)));
  EXPECT_FALSE(help.TopicOfNumber(20).has_value());
  EXPECT_EQ("Contents", help.TitleAt(help.ContentsTopic().value_or(0xFFFFFFFF)));
}

}  // namespace
