// The setup program's rules that need no window: typed directories, the
// levels created for them, product versions, progress, the Program Manager
// commands, free space, install-record lines, the package list and its
// digests, and the command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "setup/rules.h"
#include "setup/sha256.h"

namespace {

using setup::ProductVersion;
using setup::SystemFileAction;

TEST(SetupDirectoryText, SplitsLikeTheRuntimeSplitter) {
  const struct { const char* path; setup::PathParts parts; } cases[] = {
      {"C:\\Program Files\\Parcelo(32)\\", {"C:", "\\Program Files\\Parcelo(32)\\", "", ""}},
      {"C:\\Apps\\tool.exe", {"C:", "\\Apps\\", "tool", ".exe"}},
      {"C:\\Apps\\v1.2\\notes", {"C:", "\\Apps\\v1.2\\", "notes", ""}},
      {"d:/mixed\\seps/", {"d:", "/mixed\\seps/", "", ""}},
      {"C:", {"C:", "", "", ""}},
      {"", {"", "", "", ""}},
  };
  for (const auto& c : cases) {
    const setup::PathParts p = setup::SplitPath(c.path);
    EXPECT_EQ(std::tie(p.drive, p.directory, p.name, p.extension),
              std::tie(c.parts.drive, c.parts.directory, c.parts.name, c.parts.extension)) << c.path;
  }
}

TEST(SetupDirectoryText, ValidatesAndEndsInABackslash) {
  const std::set<std::string> existing_roots = {"C:\\"};
  const struct { const char* typed; bool valid; const char* after; } cases[] = {
      {"C:\\Program Files\\Parcelo(32)", true, "C:\\Program Files\\Parcelo(32)\\"},
      {"C:\\Program Files\\Parcelo(32)\\", true, "C:\\Program Files\\Parcelo(32)\\"},
      {"Q:\\never\\checked\\here", true, "Q:\\never\\checked\\here\\"},
      {"C:\\", true, "C:\\"},
      {"C:", true, "C:\\"},
      {"D:\\", false, "D:\\"},
      {"\\Program Files\\Parcelo(32)", false, "\\Program Files\\Parcelo(32)\\"},
      {"C:Parcelo(32)", false, "C:Parcelo(32)\\"},
      {"\\\\server\\share", false, "\\\\server\\share\\"},
      {"", false, "\\"},
  };
  std::vector<std::string> asked;
  const auto root_exists = [&](const std::string& root) {
    asked.push_back(root);
    return existing_roots.count(root) > 0;
  };
  for (const auto& c : cases) {
    std::string text = c.typed;
    EXPECT_EQ(setup::ValidateDirectoryText(&text, root_exists), c.valid) << c.typed;
    EXPECT_EQ(text, c.after) << c.typed;
  }
  // Only the bare roots were looked up.
  EXPECT_EQ(asked, (std::vector<std::string>{"C:\\", "C:\\", "D:\\"}));
}

TEST(SetupDirectoryText, LevelsToCreateGoFromTheDriveDownwards) {
  const struct { const char* directory; std::vector<std::string> levels; } cases[] = {
      {"D:\\Apps\\Tool\\", {"D:\\Apps", "D:\\Apps\\Tool"}},
      {"C:\\", {}},
      {"C:\\Apps\\\\Tool\\", {"C:\\Apps", "C:\\Apps\\Tool"}},
  };
  for (const auto& c : cases) {
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
  const struct { const char* what; ProductVersion source, installed; SystemFileAction action; } cases[] = {
      {"same version", Version(5, 2), Version(5, 2), SystemFileAction::kSkip},
      {"installed newer major, lower minor", Version(5, 9), Version(6, 0), SystemFileAction::kSkip},
      {"installed older minor", Version(5, 3), Version(5, 2), SystemFileAction::kCopy},
      {"installed older major, higher minor", Version(6, 0), Version(5, 9), SystemFileAction::kCopy},
      // The words compare unsigned: 0x8000 is above 0x7fff, not negative.
      {"high words compare unsigned", Version(0x8000, 0), Version(0x7fff, 0), SystemFileAction::kCopy},
      {"low words compare unsigned", Version(1, 0x8000), Version(1, 0x7fff), SystemFileAction::kCopy},
      {"no installed copy or version", Version(5, 2), none, SystemFileAction::kCopyRecorded},
      {"no version in the source", none, Version(5, 2), SystemFileAction::kCopyRecorded},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(setup::DecideSystemFile(c.source, c.installed), c.action) << c.what;
  }
}

TEST(SetupProgress, PercentOfTheTotalAndItsText) {
  const struct { uint64_t copied, total; int percent; const char* text; } cases[] = {
      {0, 1000, 0, "0 %"},
      {429, 1000, 42, "42 %"},
      {1000, 1000, 100, "100 %"},
      // Beyond 4 GiB the product copied × 100 needs 64 bits.
      {3ULL << 32, 4ULL << 32, 75, "75 %"},
      {0, 0, 100, "100 %"},
      {1200, 1000, 100, "100 %"},
  };
  for (const auto& c : cases) {
    const int percent = setup::Percent(c.copied, c.total);
    EXPECT_EQ(percent, c.percent) << c.copied << "/" << c.total;
    EXPECT_EQ(setup::PercentText(percent), c.text) << c.copied << "/" << c.total;
  }
}

TEST(SetupProgramGroup, CommandsForTheGroupAndItsItem) {
  EXPECT_EQ(setup::DeleteItemCommand(setup::kProgramItem), "[DeleteItem(Parcelo32)]");
  const struct { const char* directory; const char* item; const char* command; } cases[] = {
      {"C:\\Program Files\\Parcelo(32)\\", setup::kProgramItem,
       "[AddItem(\"C:\\Program Files\\Parcelo(32)\\parcelo32.exe\",Parcelo32,,0)]"},
      {"D:\\", "tool.exe Tool other.ico 3", "[AddItem(\"D:\\tool.exe\",Tool,,3)]"},
      {"D:\\", "tool.exe Tool other.ico", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(setup::AddItemCommand(c.directory, c.item), c.command) << c.item;
  }
}

TEST(SetupFreeSpace, ProductOfTheCountsDoesNotWrapAbove4GiB) {
  const struct { uint32_t clusters, sectors, bytes; uint64_t free; bool enough; } cases[] = {
      {341, 8, 512, 1396736, false},
      {342, 8, 512, 1400832, true},
      // Exactly 4 GiB: 32 bits would leave nothing.
      {1048576, 8, 512, 4294967296ULL, true},
  };
  for (const auto& c : cases) {
    const uint64_t free = setup::FreeBytes(c.clusters, c.sectors, c.bytes);
    EXPECT_EQ(free, c.free) << c.clusters;
    EXPECT_EQ(free >= setup::kRequiredFreeBytes, c.enough) << c.clusters;
  }
}

TEST(SetupPaths, NormalizedForComparison) {
  const struct { const char* path; const char* normalized; } cases[] = {
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
      // Drive letters: A to Z either case, nothing next to them.
      {"a:\\x", "a:\\x"}, {"z:\\x", "z:\\x"}, {"A:\\x", "a:\\x"}, {"Z:\\x", "z:\\x"},
      {"`:\\x", ""}, {"{:\\x", ""}, {"@:\\x", ""}, {"[:\\x", ""}, {"1:\\x", ""},
      {"\\\\server\\share\\x", ""},
      {"parcelo32.exe", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(setup::NormalizedPath(c.path), c.normalized) << c.path;
  }
  EXPECT_TRUE(setup::SamePath("C:\\Setup\\SETUP.EXE", "c:/setup/./setup.exe"));
  EXPECT_FALSE(setup::SamePath("C:\\Setup\\setup.exe", "D:\\Setup\\setup.exe"));
  EXPECT_FALSE(setup::SamePath("relative", "relative"));
}

TEST(SetupUninstallRecord, DeletesOnlyOwnNamesInTheMainDirectory) {
  const std::string main_directory = "C:\\Program Files\\Parcelo(32)\\";
  const std::vector<std::string> own = {"parcelo32.exe", "setup.exe", "parcelo32.hlp"};
  const struct { std::string line; std::string deleted; } cases[] = {
      {"C:\\Program Files\\Parcelo(32)\\parcelo32.exe\n", "C:\\Program Files\\Parcelo(32)\\parcelo32.exe"},
      {"C:\\Program Files\\Parcelo(32)\\parcelo32.hlp\r\n", "C:\\Program Files\\Parcelo(32)\\parcelo32.hlp"},
      {"c:/PROGRAM FILES/parcelo(32)/./SETUP.EXE\n", "c:\\PROGRAM FILES\\parcelo(32)\\SETUP.EXE"},
      {"C:\\Program Files\\Other\\..\\Parcelo(32)\\setup.exe. . \n", "C:\\Program Files\\Parcelo(32)\\setup.exe"},
      // The last line of a record may lack its line end: its last
      // character is part of the name.
      {"C:\\Program Files\\Parcelo(32)\\parcelo32.hlp", "C:\\Program Files\\Parcelo(32)\\parcelo32.hlp"},
      // Another name, another directory, or no file at all: kept.
      {"C:\\windows\\system32\\kernel32.dll\n", ""},
      {"C:\\windows/system32/drivers\\etc\\hosts\n", ""},
      {"C:\\Program Files\\Parcelo(32)\\DOWN\\parcelo32.exe\n", ""},
      {"C:\\Program Files\\Parcelo(32)\\thesis.doc\n", ""},
      {"C:\\Program Files\\Parcelo(32)\\..\\setup.exe\n", ""},
      {"C:\\Program Files\\Parcelo(32)x\\setup.exe\n", ""},
      {"C:\\Program Files\\Parcelo(32)\\\n", ""},
      {"D:\\Program Files\\Parcelo(32)\\parcelo32.exe\n", ""},
      {"parcelo32.exe\n", ""},
      {"\n", ""},
      {"C:\\Program Files\\Parcelo(32)\\" + std::string(setup::kMaxRecordLine, 'x') + "\n", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(setup::DeletableRecordPath(c.line, main_directory, own), c.deleted) << c.line;
  }
  // After an install into a drive root, only the root's own names go.
  EXPECT_EQ(setup::DeletableRecordPath("c:\\SETUP.EXE\n", "C:\\", own), "c:\\SETUP.EXE");
  EXPECT_EQ(setup::DeletableRecordPath("C:\\users\\me\\thesis.doc\n", "C:\\", own), "");
  EXPECT_EQ(setup::DeletableRecordPath("C:\\x\\setup.exe\n", "relative\\", own), "");
  EXPECT_TRUE(setup::IsBlankRecordLine(" \r\n"));
  EXPECT_FALSE(setup::IsBlankRecordLine("C:\\x\n"));
  EXPECT_EQ(setup::UninstallCompleteText(0), "Uninstall complete");
  EXPECT_EQ(setup::UninstallCompleteText(2),
            "Uninstall complete; 2 lines of install.txt naming other files left alone");
}

TEST(SetupPaths, DirectoryMustHoldTheLongestNameWithItsSuffix) {
  const std::vector<std::string> names = {"setup.exe", "parcelo32.exe"};
  // "parcelo32.exe" and ".pst-new" take 21 of the 259 characters.
  const std::string fits = "C:\\" + std::string(234, 'd') + "\\";
  EXPECT_EQ(fits.size() + 21, setup::kMaxPathChars);
  EXPECT_TRUE(setup::DirectoryHoldsNames(fits, names));
  EXPECT_FALSE(setup::DirectoryHoldsNames("C:\\" + std::string(235, 'd') + "\\", names));
  EXPECT_TRUE(setup::DirectoryHoldsNames("C:\\" + std::string(235, 'd') + "\\", {"setup.exe"}));
}

TEST(SetupManifest, ParsesDigestSizeAndNameAndRefusesAnythingElse) {
  const std::string digest(64, 'a');
  const struct { std::string text; bool valid; std::size_t entries; } cases[] = {
      {digest + " 12 parcelo32.exe\n" + digest + " 0 Setup.EXE\r\n\n", true, 2},
      {"", true, 0},
      {std::string(64, 'A') + " 1 x\n", true, 1},
      {digest + " 12\n", false, 0},
      {digest + " 12 a b\n", false, 0},
      {digest.substr(1) + " 12 a\n", false, 0},
      {std::string(63, 'a') + "g 12 a\n", false, 0},
      {digest + " -1 a\n", false, 0},
      {digest + " 1234567890123456789 a\n", false, 0},
  };
  for (const auto& c : cases) {
    setup::Manifest manifest;
    EXPECT_EQ(setup::ParseManifest(c.text, &manifest), c.valid) << c.text;
    EXPECT_EQ(manifest.size(), c.entries) << c.text;
  }
  setup::Manifest manifest;
  ASSERT_TRUE(setup::ParseManifest(digest + " 12 parcelo32.exe\n" + std::string(64, 'B') + " 7 Setup.EXE\n", &manifest));
  const setup::ManifestEntry* found = setup::FindManifestEntry(manifest, "SETUP.exe");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->size, 7u);
  EXPECT_EQ(found->sha256, std::string(64, 'b'));
  EXPECT_EQ(setup::FindManifestEntry(manifest, "parcelo32.hlp"), nullptr);
}

TEST(SetupManifest, Sha256OfKnownVectors) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& v : vectors) EXPECT_EQ(setup::Sha256Hex(v.first), v.second) << v.first.size();
  // Fed in pieces that straddle the 64-byte blocks, the digest is the same.
  const std::string text(200, 'q');
  setup::Sha256 pieces;
  for (std::size_t at = 0; at < text.size(); at += 7) pieces.Update(text.data() + at, std::min<std::size_t>(7, text.size() - at));
  EXPECT_EQ(pieces.HexDigest(), setup::Sha256Hex(text));
}

TEST(SetupCommandLine, ModesSilenceAndDirectory) {
  const struct { const char* text; bool uninstall, silent; const char* directory; } cases[] = {
      {"", false, false, ""},
      {"-UNINSTALL", true, false, ""},
      {"-UNINSTALL /S", true, true, ""},
      {"/S", false, true, ""},
      {"/S /D=C:\\Program Files\\P Q ", false, true, "C:\\Program Files\\P Q"},
      {"/S /D=\"C:\\P Q\"", false, true, "C:\\P Q"},
      {"-uninstall", false, false, ""},
      {"/S /X", false, false, ""},
      {"/S /D=", false, false, ""},
  };
  for (const auto& c : cases) {
    const setup::CommandLine line = setup::ParseCommandLine(c.text);
    EXPECT_EQ(std::tie(line.uninstall, line.silent, line.directory), std::tie(c.uninstall, c.silent, c.directory))
        << c.text;
  }
}

TEST(SetupUninstallRecord, DirectoryOfTheUninstallCommand) {
  const std::pair<const char*, const char*> cases[] = {
      {"\"C:\\Program Files\\Parcelo(32)\\setup.exe\" -UNINSTALL", "C:\\Program Files\\Parcelo(32)\\"},
      {"C:\\Program Files\\Parcelo(32)\\setup -UNINSTALL", "C:\\Program Files\\Parcelo(32)\\"},
      {"\"C:\\unclosed -UNINSTALL", ""},
      {"setup -UNINSTALL", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(setup::UninstallCommandDirectory(c.first), c.second) << c.first;
}

}  // namespace
