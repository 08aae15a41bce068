// The help file the build writes beside the programs: every help context the
// program asks for opens the topic about that window, the contents open the
// contents topic, and other numbers open nothing. Read by a reader of our own,
// so a file whose context map is empty or points elsewhere fails here.

#include <gtest/gtest.h>

#include <filesystem>

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

TEST_F(HelpFileTest, EachContextNumberOpensTheTopicAboutItsWindow) {
  const struct { std::uint32_t number; const char* title; } contexts[] = {
      {10, "Configuration"},     {20, "Entering URLs"},    {30, "The drop window"},
      {40, "Scheduling transfers"}, {50, "The logs and Execute"}, {60, "Editing an entry"},
  };
  for (const auto& c : contexts) {
    SCOPED_TRACE(c.number);
    std::optional<std::uint32_t> topic = help.TopicOfNumber(c.number);
    ASSERT_TRUE(topic.has_value());
    EXPECT_EQ(c.title, help.TitleAt(*topic));
  }
  EXPECT_EQ(6u, help.ContextMap().size());
}

TEST_F(HelpFileTest, ContentsOpenTheContentsTopicAndOtherNumbersNothing) {
  std::optional<std::uint32_t> contents = help.ContentsTopic();
  ASSERT_TRUE(contents.has_value());
  EXPECT_EQ("Contents", help.TitleAt(*contents));
  for (std::uint32_t number : {0u, 1u, 11u, 35u, 70u, 5006u, 0xFFFFFFFFu}) {
    EXPECT_FALSE(help.TopicOfNumber(number).has_value()) << number;
  }
}

// The map and the context names agree: a number leads to the same topic as
// the name a link inside the file would use.
TEST_F(HelpFileTest, ContextNumbersAndNamesLeadToTheSameTopics) {
  const struct { std::uint32_t number; const char* name; } names[] = {
      {10, "configuration"}, {20, "entering_urls"}, {30, "drop_window"},
      {40, "scheduling"},    {50, "logs"},          {60, "editing_entries"},
  };
  for (const auto& n : names) {
    SCOPED_TRACE(n.name);
    ASSERT_TRUE(help.TopicOfName(n.name).has_value());
    EXPECT_EQ(help.TopicOfName(n.name), help.TopicOfNumber(n.number));
  }
  EXPECT_FALSE(help.TopicOfName("no_such_topic").has_value());
}

TEST(HelpFileReader, RefusesFilesThatAreNotWholeHelpFiles) {
  std::vector<std::uint8_t> good = winhelp::ReadBytes(BuiltHelpFile());
  ASSERT_GT(good.size(), 64u);
  std::vector<std::uint8_t> wrong_magic = good;
  wrong_magic[0] ^= 0xFF;
  std::vector<std::uint8_t> cut(good.begin(), good.begin() + good.size() / 2);
  std::vector<std::uint8_t> directory_out_of_range = good;
  directory_out_of_range[7] = 0x7F;  // directory offset beyond the end
  for (const auto& bytes : {std::vector<std::uint8_t>{}, wrong_magic, cut, directory_out_of_range}) {
    HelpFile help;
    EXPECT_NE("", help.Load(bytes));
    EXPECT_FALSE(help.TopicOfNumber(10).has_value());
  }
}

TEST(HelpFileReader, ContextHashesAreTheOnesWinHelpKeysOn) {
  // Letters ignore case; '.' and '_' count; known values checked by hand
  // against files written by halibut.
  EXPECT_EQ(0xB2BE88C2u, winhelp::ContextHash("configuration"));
  EXPECT_EQ(winhelp::ContextHash("configuration"), winhelp::ContextHash("CONFIGURATION"));
  EXPECT_NE(winhelp::ContextHash("a.b"), winhelp::ContextHash("a_b"));
  EXPECT_EQ(0u, winhelp::ContextHash(""));
}

}  // namespace
