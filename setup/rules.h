// The setup program's rules that need no window: directory texts, the levels
// to create, product versions, progress, the Program Manager commands, free
// space, and which lines of an install record may be deleted.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace setup {

// A path text split the way the C runtime's _splitpath does: drive ("C:"),
// directory (up to and with its last separator), name and extension (from
// the last dot of the rest).
struct PathParts {
  std::string drive, directory, name, extension;
};
PathParts SplitPath(const std::string& path);

// Validates a typed directory and appends '\' to it when it does not end in
// one. Invalid: no drive, a directory part that does not start at the root,
// or a name left after the last separator. A drive's root is valid only when
// root_exists says so for the root text ("C:\"); deeper directories are
// checked when they are created.
using RootExists = std::function<bool(const std::string& root)>;
bool ValidateDirectoryText(std::string* text, const RootExists& root_exists);

// The paths to make sure of, shallowest first, for a validated directory
// text: "C:\Apps\Tool\" gives "C:\Apps" and "C:\Apps\Tool". The drive alone
// is never among them.
std::vector<std::string> LevelsToCreate(const std::string& directory);

// The product version's most significant half (major in the high word, minor
// in the low word) of a file's version resource.
struct ProductVersion {
  bool present = false;
  uint32_t most_significant = 0;
};

enum class SystemFileAction {
  kCopy,          // the installed copy is older: replace it, not recorded
  kSkip,          // the installed copy is as new or newer: keep it
  kCopyRecorded,  // nothing to compare: copy and record in the source directory
};
SystemFileAction DecideSystemFile(const ProductVersion& source, const ProductVersion& installed);

// Percent of the total copied, 0 to 100; an empty total counts as done.
int Percent(uint64_t copied, uint64_t total);
// "42 %"
std::string PercentText(int percent);

// The Program Manager group and its one item.
extern const char kGroupName[];
std::string DeleteGroupCommand(const std::string& group);
std::string CreateGroupCommand(const std::string& group);
// item: "command-file item-name icon-file icon-index", blank-separated. The
// command runs from destination_directory (ending in '\'), quoted; the icon
// file is not used. Empty when the item text has fewer than four parts.
std::string AddItemCommand(const std::string& destination_directory, const std::string& item);
extern const char kProgramItem[];

// Free bytes from the counts the system reports, without wrapping at 4 GiB.
uint64_t FreeBytes(uint32_t clusters, uint32_t sectors_per_cluster, uint32_t bytes_per_sector);
constexpr uint64_t kRequiredFreeBytes = 1400000;

// An absolute path with '/' read as '\', "." and ".." resolved and letters
// folded to lower case, for comparing. Empty when the text is not an
// absolute path with a drive, or ".." climbs above the root.
std::string NormalizedPath(const std::string& path);
// Whether two texts name the same file (see NormalizedPath).
bool SamePath(const std::string& a, const std::string& b);

// The longest record line the uninstaller acts on; longer ones are skipped.
constexpr std::size_t kMaxRecordLine = 511;

// The file a line of the install record names, with its line end removed,
// when the uninstaller may delete it: a file inside the main directory or
// the system directory. Empty otherwise (blank lines, relative or escaping
// paths, the directories themselves, anything elsewhere, over-long lines).
std::string DeletableRecordPath(const std::string& line, const std::string& main_directory,
                                const std::string& system_directory);

}  // namespace setup
