// The directory chooser's rules that need no window: what the visible list
// offers from the raw listing, and the text of the accepted directory.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "settings/dirlist.h"

namespace {

using Texts = std::vector<std::string>;

TEST(DirectoryChooser, OffersDrivesAndDirectoriesByLongNameButNoFiles) {
  const std::map<std::string, std::string> long_names = {
      {"PROGRA~1", "Program Files"}, {"TOOLS", "tools"}, {"..", "parent must not be looked up"}};
  const auto long_name = [&](const std::string& name) {
    const auto found = long_names.find(name);
    return found == long_names.end() ? std::string() : found->second;
  };
  const struct { const char* what; Texts raw, visible; } cases[] = {
      {"mixed listing, order kept",
       {"[..]", "[PROGRA~1]", "[TOOLS]", "[-c-]", "[-z-]", "readme.txt", "SETUP.EXE"},
       {"[..]", "[Program Files]", "[tools]", "[-c-]", "[-z-]"}},
      {"a directory without a long name stays", {"[GONE]", "[-d-]"}, {"[GONE]", "[-d-]"}},
      {"bracketed on one side only is a file", {"[half", "half]"}, {}},
      {"files only", {"a.txt", "b"}, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(dirlist::VisibleEntries(c.raw, long_name), c.visible) << c.what;
  }
}

TEST(DirectoryChooser, AcceptedTextIsTheUpperCaseDriveAndTheDirectoryBelowItsRoot) {
  const std::pair<const char*, const char*> cases[] = {
      {"c:\\", "C:"},
      {"C:\\", "C:"},
      {"c:", "C:"},
      {"d:\\Program Files\\Tools", "D:\\Program Files\\Tools"},
      {"z:\\tmp\\", "Z:\\tmp"},
      {"\\\\server\\share", "\\\\server\\share"},
  };
  for (const auto& [current, accepted] : cases) {
    EXPECT_EQ(dirlist::AcceptedText(current), accepted) << current;
  }
}

TEST(DirectoryChooser, OnlyALetterAndAColonIsABareDrive) {
  EXPECT_TRUE(dirlist::IsBareDrive("c:"));
  for (const char* selection : {"c:\\", "tools\\", "..\\", "c", ""}) {
    EXPECT_FALSE(dirlist::IsBareDrive(selection)) << selection;
  }
}

}  // namespace
