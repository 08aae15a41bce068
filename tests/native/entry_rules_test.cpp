#include "tasks/entry_rules.h"

#include "settings/places.h"
#include "native/fixtures.h"
#include "tasks/entries.h"
#include "tasks/taskfile.h"

namespace {

using namespace fixtures;
using entry_rules::kEffectCopy;
using entry_rules::kEffectLink;
using entry_rules::kEffectMove;
using entry_rules::kEffectNone;
using entry_rules::kKeyControl;
using entry_rules::kKeyShift;

// Every key state (none, Shift, Control, both) against every set of allowed
// effects (the eight subsets of copy, move and link).
TEST(QueryDrop, ChoosesTheWantedEffectOrTheFirstAllowed) {
  const std::uint32_t keys[] = {0, kKeyShift, kKeyControl, kKeyControl | kKeyShift};
  // expected[key][allowed]; allowed is the bit set copy=1, move=2, link=4.
  const std::uint32_t expected[4][8] = {
      // no key: move, else copy, else link
      {kEffectNone, kEffectCopy, kEffectMove, kEffectMove, kEffectLink, kEffectCopy, kEffectMove, kEffectMove},
      // Shift: move only
      {kEffectNone, kEffectNone, kEffectMove, kEffectMove, kEffectNone, kEffectNone, kEffectMove, kEffectMove},
      // Control: copy only
      {kEffectNone, kEffectCopy, kEffectNone, kEffectCopy, kEffectNone, kEffectCopy, kEffectNone, kEffectCopy},
      // Control+Shift: link only
      {kEffectNone, kEffectNone, kEffectNone, kEffectNone, kEffectLink, kEffectLink, kEffectLink, kEffectLink},
  };
  for (int k = 0; k < 4; ++k) {
    for (std::uint32_t allowed = 0; allowed < 8; ++allowed) {
      SCOPED_TRACE("keys " + std::to_string(keys[k]) + " allowed " + std::to_string(allowed));
      std::uint32_t effect = allowed;
      EXPECT_EQ(expected[k][allowed] != kEffectNone, entry_rules::QueryDrop(true, keys[k], &effect));
      EXPECT_EQ(expected[k][allowed], effect);
      // Data without text is never dropped, whatever the keys and the source allow.
      effect = allowed;
      EXPECT_FALSE(entry_rules::QueryDrop(false, keys[k], &effect));
      EXPECT_EQ(kEffectNone, effect);
    }
  }
}

struct UploadEntries : ::testing::Test {
  UploadEntries() {
    app::SetCurrentMode(app::kSendMode);
    app::SetCurrentTaskPath(env.dir.Join("Default.snd"));
  }
  TaskEnvironment env;
};

TEST_F(UploadEntries, OneEntryPerFileUnderTheDestination) {
  const std::string data = env.dir.Join("Data");
  ASSERT_EQ(2, entry_rules::AddUploadEntries("ftp://h/in/", {data + "/a.txt", data + "/50%off b.bin"}));
  std::vector<std::string> lines;
  ASSERT_EQ(2, taskfile::ReadLines(env.dir.Join("Default.snd"), &lines));
  const taskfile::TaskLine first = taskfile::SplitTaskLine(lines[0]);
  const taskfile::TaskLine second = taskfile::SplitTaskLine(lines[1]);
  EXPECT_EQ(data + "/a.txt", first.local_file);
  EXPECT_EQ("ftp://h/in/a.txt", first.url);
  EXPECT_EQ(entries::kAwaitingWord, first.status_word);
  EXPECT_EQ(data + "/50%off b.bin", second.local_file);
  EXPECT_EQ("ftp://h/in/50%25off%20b.bin", second.url);
  ASSERT_EQ(2, tasklist::Current().RowCount());
  EXPECT_EQ("ftp://h/in/a.txt", tasklist::Current().GetCell(0, tasklist::kUrl));
  EXPECT_EQ(data + "/a.txt", tasklist::Current().GetCell(0, tasklist::kLocalFile));
  EXPECT_TRUE(env.sink.Shown().empty());
}

TEST_F(UploadEntries, ADestinationThatDoesNotParseStopsTheRestSilently) {
  const std::string data = env.dir.Join("Data");
  // An unknown scheme stops at the first file.
  EXPECT_EQ(0, entry_rules::AddUploadEntries("gopher://h/in/", {data + "/a.txt", data + "/b.txt"}));
  // A name too long for the link's width stops it and the file after it.
  const std::string long_name(1100, 'x');
  EXPECT_EQ(1, entry_rules::AddUploadEntries("ftp://h/in/", {data + "/a.txt", data + "/" + long_name,
                                                             data + "/b.txt"}));
  std::vector<std::string> lines;
  ASSERT_EQ(1, taskfile::ReadLines(env.dir.Join("Default.snd"), &lines));
  EXPECT_EQ("ftp://h/in/a.txt", taskfile::SplitTaskLine(lines[0]).url);
  EXPECT_EQ(1, tasklist::Current().RowCount());
  EXPECT_TRUE(env.sink.Shown().empty());
}

struct History : ::testing::Test { TaskEnvironment env; };

TEST_F(History, TrailingSlashCaseInsensitiveMatchAndOneAppend) {
  EXPECT_EQ("ftp://h/up/", entry_rules::AsDirectoryUrl("ftp://h/up"));
  EXPECT_EQ("ftp://h/up/", entry_rules::AsDirectoryUrl("ftp://h/up/"));
  EXPECT_EQ("", entry_rules::AsDirectoryUrl(""));

  const std::string path = env.dir.Join("url.txt");
  std::vector<std::string> history{"stale"};
  // A missing file is created empty.
  EXPECT_EQ(-1, entry_rules::ReadHistory(path, &history));
  EXPECT_TRUE(history.empty());
  EXPECT_EQ("", ReadFile(path));

  WriteFile(path, "ftp://old/\r\n");
  ASSERT_EQ(1, entry_rules::ReadHistory(path, &history));
  EXPECT_EQ(1, entry_rules::RememberUrl(path, &history, "ftp://h/up/"));
  EXPECT_EQ(0, entry_rules::RememberUrl(path, &history, "FTP://H/Up/"));
  EXPECT_EQ(0, entry_rules::RememberUrl(path, &history, "ftp://h/up/"));
  EXPECT_FALSE(entry_rules::HistoryHolds(history, "ftp://h/up"));
  EXPECT_EQ("ftp://old/\r\nftp://h/up/\r\n", ReadFile(path));
  ASSERT_EQ(2, entry_rules::ReadHistory(path, &history));
  EXPECT_EQ("ftp://h/up/", history[1]);
}

}  // namespace
