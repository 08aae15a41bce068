// Parts of the setup program below what the end-to-end run in tests/setup
// sees: expanding a file without harming the installed copy, and the removal
// of an installation (which recorded files it may delete, a missing record,
// the directories and the registry keys).
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "harness.h"
#include "setup/setup_win32.h"
#include "setup/sha256.h"

using harness::DialogWatcher;
using harness::Exists;
using harness::SeenDialog;

namespace {

// A file in the Windows compression format (SZDD) that holds text as
// literals only: a header with the expanded length, then blocks of a flag
// byte (all bits set: eight literals) and up to eight bytes.
std::string Compressed(const std::string& text) {
  std::string file("SZDD\x88\xF0\x27\x33\x41\x00", 10);
  const uint32_t length = static_cast<uint32_t>(text.size());
  for (int shift = 0; shift < 32; shift += 8) file += static_cast<char>((length >> shift) & 0xFF);
  for (std::size_t i = 0; i < text.size(); i += 8) {
    file += '\xFF';
    file += text.substr(i, 8);
  }
  return file;
}

TEST(SetupCopy, ExpandsOrCopiesWithTheDigestAndLeavesNothingBehindOnFailure) {
  harness::TempProgramDir dir;
  std::string text;
  for (int i = 0; text.size() < 100000; ++i) text += "line " + std::to_string(i) + "\r\n";
  // intact: the size and digest are those of text.
  const struct { const char* what; bool source_exists; std::string source; setup::CopyResult result; bool intact; } cases[] = {
      {"plain file", true, text, setup::CopyResult::kDone, true},
      {"compressed file", true, Compressed(text), setup::CopyResult::kDone, true},
      {"compressed file cut short", true, Compressed(text).substr(0, 1000), setup::CopyResult::kDone, false},
      {"empty file", true, "", setup::CopyResult::kDone, false},
      {"missing file", false, "", setup::CopyResult::kReadFailed, false},
  };
  const std::string source = dir.File("source.bin");
  const std::string target = dir.File("installed.bin");
  for (const auto& c : cases) {
    DeleteFileA(source.c_str());
    DeleteFileA(target.c_str());
    if (c.source_exists) harness::WriteFile(source, c.source);
    setup::ExpandedFile written;
    EXPECT_EQ(setup::ExpandFile(source, target, [] { return true; }, &written), c.result) << c.what;
    EXPECT_EQ(written.size == text.size() && written.sha256 == setup::Sha256Hex(text), c.intact) << c.what;
    if (c.result == setup::CopyResult::kDone) {
      EXPECT_EQ(harness::ReadFile(target).size(), written.size) << c.what;
    }
  }
  // Without a target only the digest is taken; stopped between chunks, or
  // unable to write, the target goes again.
  harness::WriteFile(source, Compressed(text));
  setup::ExpandedFile written;
  EXPECT_EQ(setup::ExpandFile(source, "", [] { return true; }, &written), setup::CopyResult::kDone);
  EXPECT_EQ(written.sha256, setup::Sha256Hex(text));
  EXPECT_EQ(setup::ExpandFile(source, target, [] { return false; }, &written), setup::CopyResult::kCancelled);
  EXPECT_FALSE(Exists(target));
  EXPECT_EQ(setup::ExpandFile(source, dir.File("missing\\installed.bin"), [] { return true; }, &written),
            setup::CopyResult::kWriteFailed);
}

// An installation without its record (install.txt): the removal names the
// record, deletes no file and no directory, and still removes the keys.
TEST(SetupRemoval, WithoutARecordNamesItAndKeepsFilesButNotTheKeys) {
  harness::TempProgramDir dir;
  const std::string main = dir.File("main"), down = main + "\\DOWN";  // where it goes unless DOWN says
  CreateDirectoryA(main.c_str(), nullptr);
  CreateDirectoryA(down.c_str(), nullptr);
  harness::WriteFile(main + "\\parcelo32.exe", "installed");
  setup::WriteRegistryEntries(main + "\\", down, 0);
  std::vector<SeenDialog> seen;
  {
    DialogWatcher watcher(DialogWatcher::Press(IDOK));
    setup::RemoveInstallation(nullptr);
    seen = watcher.seen();
  }
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, main + "\\install.txt");
  EXPECT_EQ(seen[0].caption, "");
  EXPECT_TRUE(Exists(main + "\\parcelo32.exe"));
  EXPECT_TRUE(Exists(down));
  for (const char* key : {setup::kAppPathsKey, setup::kUninstallKey, setup::kSettingsKey}) {
    EXPECT_FALSE(harness::KeyExists(key)) << key;
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
  }
}

}  // namespace
