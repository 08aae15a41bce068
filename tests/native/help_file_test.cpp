// The help map writer that fills the built help file's context map: a list it
// cannot apply whole leaves the file as it was. Which topic each context
// number opens is checked where it matters, by the platform's help viewer in
// tests/win32/help_test.cpp.

#include <gtest/gtest.h>

#include <filesystem>

#include "native/fixtures.h"

namespace {

std::string BuiltHelpFile() {
  return std::filesystem::read_symlink("/proc/self/exe").replace_filename("Parcelo32.HLP").string();
}

// Runs the map writer on file with the context list at contexts; returns its
// exit status.
int WriteMap(const std::string& file, const std::string& contexts) {
  const std::string command = std::string("'") + PARCELO_PYTHON + "' '" + PARCELO_HELP_SOURCE + "/ctxomap.py' '" +
                              file + "' '" + contexts + "' 2>/dev/null";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(HelpMapWriter, RefusedListLeavesTheFileAlone) {
  fixtures::ScratchDir dir;
  const std::string file = dir.Join("Parcelo32.HLP"), contexts = dir.Join("contexts.txt");
  std::filesystem::copy_file(BuiltHelpFile(), file);
  const std::string before = fixtures::ReadFile(file);
  ASSERT_FALSE(before.empty()) << BuiltHelpFile();
  // A name no topic has, a number given twice, a line without a number.
  for (const char* refused : {"10 configuration\n20 no_such_topic\n", "10 logs\n10 scheduling\n", "logs\n"}) {
    SCOPED_TRACE(refused);
    fixtures::WriteFile(contexts, refused);
    EXPECT_EQ(1, WriteMap(file, contexts));
    EXPECT_EQ(before, fixtures::ReadFile(file));
  }
  EXPECT_EQ(fixtures::Texts({"Parcelo32.HLP", "contexts.txt"}), fixtures::Names(dir.path()));
  // A list it can apply rewrites the file.
  fixtures::WriteFile(contexts, "10 logs\n");
  EXPECT_EQ(0, WriteMap(file, contexts));
  EXPECT_NE(before, fixtures::ReadFile(file));
}

}  // namespace
