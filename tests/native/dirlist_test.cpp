// The directory chooser's rule that needs no window: the text of the
// accepted directory.
#include <gtest/gtest.h>

#include <string>

#include "settings/dirlist.h"

namespace {

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

}  // namespace
