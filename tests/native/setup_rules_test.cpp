// The setup program's rules that need no window: typed directories, the
// levels created for them, product versions, progress, the Program Manager
// commands, free space and which install-record lines may be deleted.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "setup/rules.h"

namespace {

using setup::ProductVersion;
using setup::SystemFileAction;

TEST(SetupDirectoryText, SplitsLikeTheRuntimeSplitter) {
  struct Case {
    const char* path;
    setup::PathParts parts;
  };
  const Case cases[] = {
      {"C:\\Program Files\\Parcelo(32)\\", {"C:", "\\Program Files\\Parcelo(32)\\", "", ""}},
      {"C:\\Apps\\tool.exe", {"C:", "\\Apps\\", "tool", ".exe"}},
      {"C:\\Apps\\v1.2\\notes", {"C:", "\\Apps\\v1.2\\", "notes", ""}},
      {"Apps\\", {"", "Apps\\", "", ""}},
      {"d:/mixed\\seps/", {"d:", "/mixed\\seps/", "", ""}},
      {"C:", {"C:", "", "", ""}},
      {"", {"", "", "", ""}},
  };
  for (const Case& c : cases) {
    const setup::PathParts parts = setup::SplitPath(c.path);
    EXPECT_EQ(parts.drive, c.parts.drive) << c.path;
    EXPECT_EQ(parts.directory, c.parts.directory) << c.path;
    EXPECT_EQ(parts.name, c.parts.name) << c.path;
    EXPECT_EQ(parts.extension, c.parts.extension) << c.path;
  }
}

TEST(SetupDirectoryText, ValidatesAndEndsInABackslash) {
  const std::set<std::string> existing_roots = {"C:\\", "z:\\"};
  struct Case {
    const char* typed;
    bool valid;
    const char* after;
  };
  const Case cases[] = {
      {"C:\\Program Files\\Parcelo(32)", true, "C:\\Program Files\\Parcelo(32)\\"},
      {"C:\\Program Files\\Parcelo(32)\\", true, "C:\\Program Files\\Parcelo(32)\\"},
      {"Q:\\never\\checked\\here", true, "Q:\\never\\checked\\here\\"},
      {"C:\\", true, "C:\\"},
      {"C:", true, "C:\\"},
      {"z:", true, "z:\\"},
      {"D:\\", false, "D:\\"},
      {"\\Program Files\\Parcelo(32)", false, "\\Program Files\\Parcelo(32)\\"},
      {"Parcelo(32)", false, "Parcelo(32)\\"},
      {"C:Parcelo(32)", false, "C:Parcelo(32)\\"},
      {"\\\\server\\share", false, "\\\\server\\share\\"},
      {"", false, "\\"},
  };
  std::vector<std::string> asked;
  const auto root_exists = [&](const std::string& root) {
    asked.push_back(root);
    return existing_roots.count(root) > 0;
  };
  for (const Case& c : cases) {
    std::string text = c.typed;
    EXPECT_EQ(setup::ValidateDirectoryText(&text, root_exists), c.valid) << c.typed;
    EXPECT_EQ(text, c.after) << c.typed;
  }
  // Only the bare roots were looked up.
  EXPECT_EQ(asked, (std::vector<std::string>{"C:\\", "C:\\", "z:\\", "D:\\"}));
}

TEST(SetupDirectoryText, LevelsToCreateGoFromTheDriveDownwards) {
  struct Case {
    const char* directory;
    std::vector<std::string> levels;
  };
  const Case cases[] = {
      {"D:\\Apps\\Tool\\", {"D:\\Apps", "D:\\Apps\\Tool"}},
      {"C:\\Program Files\\Parcelo(32)\\DOWN\\",
       {"C:\\Program Files", "C:\\Program Files\\Parcelo(32)", "C:\\Program Files\\Parcelo(32)\\DOWN"}},
      {"C:\\", {}},
      {"C:\\Apps\\\\Tool\\", {"C:\\Apps", "C:\\Apps\\Tool"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(setup::LevelsToCreate(c.directory), c.levels) << c.directory;
  }
}

ProductVersion Version(uint16_t major, uint16_t minor) {
  ProductVersion version;
  version.present = true;
  version.most_significant = (static_cast<uint32_t>(major) << 16) | minor;
  return version;
}

TEST(SetupSystemFiles, InstalledCopyIsReplacedOnlyWhenItsProductVersionIsOlder) {
  const ProductVersion none;
  struct Case {
    const char* what;
    ProductVersion source, installed;
    SystemFileAction action;
  };
  const Case cases[] = {
      {"same version", Version(5, 2), Version(5, 2), SystemFileAction::kSkip},
      {"installed newer minor", Version(5, 2), Version(5, 3), SystemFileAction::kSkip},
      {"installed newer major, lower minor", Version(5, 9), Version(6, 0), SystemFileAction::kSkip},
      {"installed older minor", Version(5, 3), Version(5, 2), SystemFileAction::kCopy},
      {"installed older major, higher minor", Version(6, 0), Version(5, 9), SystemFileAction::kCopy},
      // The words compare unsigned: 0x8000 is above 0x7fff, not negative.
      {"high words compare unsigned", Version(0x8000, 0), Version(0x7fff, 0), SystemFileAction::kCopy},
      {"low words compare unsigned", Version(1, 0x8000), Version(1, 0x7fff), SystemFileAction::kCopy},
      {"no installed copy or version", Version(5, 2), none, SystemFileAction::kCopyRecorded},
      {"no version in the source", none, Version(5, 2), SystemFileAction::kCopyRecorded},
      {"neither has one", none, none, SystemFileAction::kCopyRecorded},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(setup::DecideSystemFile(c.source, c.installed), c.action) << c.what;
  }
}

TEST(SetupProgress, PercentOfTheTotalAndItsText) {
  struct Case {
    uint64_t copied, total;
    int percent;
    const char* text;
  };
  const Case cases[] = {
      {0, 1000, 0, "0 %"},
      {429, 1000, 42, "42 %"},
      {999, 1000, 99, "99 %"},
      {1000, 1000, 100, "100 %"},
      // Beyond 4 GiB the product copied × 100 needs 64 bits.
      {3ULL << 32, 4ULL << 32, 75, "75 %"},
      {0, 0, 100, "100 %"},
      {1200, 1000, 100, "100 %"},
  };
  for (const Case& c : cases) {
    const int percent = setup::Percent(c.copied, c.total);
    EXPECT_EQ(percent, c.percent) << c.copied << "/" << c.total;
    EXPECT_EQ(setup::PercentText(percent), c.text) << c.copied << "/" << c.total;
  }
}

TEST(SetupProgramGroup, CommandsForTheGroupAndItsItem) {
  EXPECT_EQ(setup::DeleteGroupCommand(setup::kGroupName), "[DeleteGroup(Parcelo32)]");
  EXPECT_EQ(setup::CreateGroupCommand(setup::kGroupName), "[CreateGroup(Parcelo32)]");
  struct Case {
    const char* directory;
    const char* item;
    const char* command;
  };
  const Case cases[] = {
      {"C:\\Program Files\\Parcelo(32)\\", setup::kProgramItem,
       "[AddItem(\"C:\\Program Files\\Parcelo(32)\\parcelo32.exe\",Parcelo32,,0)]"},
      {"D:\\", "tool.exe Tool other.ico 3", "[AddItem(\"D:\\tool.exe\",Tool,,3)]"},
      {"D:\\", "tool.exe Tool other.ico", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(setup::AddItemCommand(c.directory, c.item), c.command) << c.item;
  }
}

TEST(SetupFreeSpace, ProductOfTheCountsDoesNotWrapAbove4GiB) {
  struct Case {
    uint32_t clusters, sectors, bytes;
    uint64_t free;
    bool enough;
  };
  const Case cases[] = {
      {341, 8, 512, 1396736, false},
      {342, 8, 512, 1400832, true},
      // 4 GiB + 1 MiB free: 32 bits would leave 1 MiB, too little.
      {1048832, 8, 512, 4296015872ULL, true},
      // Exactly 4 GiB: 32 bits would leave nothing.
      {1048576, 8, 512, 4294967296ULL, true},
      {0xFFFFFFFFu, 128, 4096, 0xFFFFFFFFULL * 128 * 4096, true},
  };
  for (const Case& c : cases) {
    const uint64_t free = setup::FreeBytes(c.clusters, c.sectors, c.bytes);
    EXPECT_EQ(free, c.free) << c.clusters;
    EXPECT_EQ(free >= setup::kRequiredFreeBytes, c.enough) << c.clusters;
  }
}

TEST(SetupPaths, NormalizedForComparison) {
  struct Case {
    const char* path;
    const char* normalized;
  };
  const Case cases[] = {
      {"C:\\Program Files\\Parcelo(32)\\parcelo32.exe", "c:\\program files\\parcelo(32)\\parcelo32.exe"},
      {"c:/program files/./parcelo(32)//Setup.EXE", "c:\\program files\\parcelo(32)\\setup.exe"},
      {"C:\\a\\b\\..\\c\\", "c:\\a\\c"},
      {"C:\\a\\setup.exe. ", "c:\\a\\setup.exe"},
      {"C:\\", "c:\\"},
      {"C:\\..\\windows", ""},
      {"C:\\a\\..\\..\\windows", ""},
      {"C:\\a\\...\\b", ""},
      {"C:\\a\\file:stream", ""},
      {"C:relative", ""},
      {"\\\\server\\share\\x", ""},
      {"parcelo32.exe", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(setup::NormalizedPath(c.path), c.normalized) << c.path;
  }
  EXPECT_TRUE(setup::SamePath("C:\\Setup\\SETUP.EXE", "c:/setup/./setup.exe"));
  EXPECT_FALSE(setup::SamePath("C:\\Setup\\setup.exe", "D:\\Setup\\setup.exe"));
  EXPECT_FALSE(setup::SamePath("relative", "relative"));
}

TEST(SetupUninstallRecord, DeletesOnlyFilesInsideTheMainOrSystemDirectory) {
  const std::string main_directory = "C:\\Program Files\\Parcelo(32)\\";
  const std::string system_directory = "C:\\windows\\system32";
  struct Case {
    std::string line;
    std::string deleted;
  };
  const Case cases[] = {
      {"C:\\Program Files\\Parcelo(32)\\parcelo32.exe\n", "C:\\Program Files\\Parcelo(32)\\parcelo32.exe"},
      {"C:\\Program Files\\Parcelo(32)\\parcelo32.hlp\r\n", "C:\\Program Files\\Parcelo(32)\\parcelo32.hlp"},
      {"c:\\PROGRAM FILES\\parcelo(32)\\SETUP.EXE\n", "c:\\PROGRAM FILES\\parcelo(32)\\SETUP.EXE"},
      // The last line of a record may lack its line end: its last
      // character is part of the name.
      {"C:\\Program Files\\Parcelo(32)\\parcelo32.hlp", "C:\\Program Files\\Parcelo(32)\\parcelo32.hlp"},
      {"C:\\windows\\system32\\ptabsent.dll\n", "C:\\windows\\system32\\ptabsent.dll"},
      {"C:\\Program Files\\Parcelo(32)\\DOWN\\file.zip\n", "C:\\Program Files\\Parcelo(32)\\DOWN\\file.zip"},
      // Climbing out, elsewhere, or not a file at all: kept.
      {"C:\\Program Files\\Parcelo(32)\\..\\Other\\tool.exe\n", ""},
      {"C:\\Program Files\\Parcelo(32)\\..\\..\\autoexec.bat\n", ""},
      {"C:\\Program Files\\Parcelo(32)x\\tool.exe\n", ""},
      {"C:\\Program Files\\Parcelo(32)\n", ""},
      {"C:\\Program Files\\Parcelo(32)\\\n", ""},
      {"C:\\windows\\win.ini\n", ""},
      {"D:\\Program Files\\Parcelo(32)\\parcelo32.exe\n", ""},
      {"parcelo32.exe\n", ""},
      {"\n", ""},
      {"", ""},
      {"C:\\Program Files\\Parcelo(32)\\" + std::string(setup::kMaxRecordLine, 'x') + "\n", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(setup::DeletableRecordPath(c.line, main_directory, system_directory), c.deleted) << c.line;
  }
}

TEST(SetupUninstallRecord, AMainDirectoryAtADriveRootCoversThatDriveOnly) {
  EXPECT_EQ(setup::DeletableRecordPath("C:\\parcelo32.exe\n", "C:\\", "C:\\windows\\system32"),
            "C:\\parcelo32.exe");
  EXPECT_EQ(setup::DeletableRecordPath("D:\\parcelo32.exe\n", "C:\\", "C:\\windows\\system32"), "");
  EXPECT_EQ(setup::DeletableRecordPath("C:\\x.dll\n", "relative\\", "relative"), "");
}

}  // namespace
