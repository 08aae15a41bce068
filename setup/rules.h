// The setup program's rules that need no window: directory texts, the levels
// to create, product versions, progress, the Program Manager commands, free
// space, and which lines of an install record may be deleted.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
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
// Removes the item of an item text (see AddItemCommand) from the current group.
std::string DeleteItemCommand(const std::string& item);
// item: "command-file item-name icon-file icon-index", blank-separated. The
// command runs from destination_directory (ending in '\'), quoted; the icon
// file is not used. Empty when the item text has fewer than four parts.
std::string AddItemCommand(const std::string& destination_directory, const std::string& item);
extern const char kProgramItem[];

// Free bytes from the counts the system reports, without wrapping at 4 GiB.
uint64_t FreeBytes(uint32_t clusters, uint32_t sectors_per_cluster, uint32_t bytes_per_sector);
constexpr uint64_t kRequiredFreeBytes = 1400000;

// An absolute path with '/' read as '\', "." and ".." resolved, trailing dots
// and blanks of each component dropped, and letters
// folded to lower case, for comparing. Empty when the text is not an
// absolute path with a drive, or ".." climbs above the root.
std::string NormalizedPath(const std::string& path);
// Whether two texts name the same file (see NormalizedPath).
bool SamePath(const std::string& a, const std::string& b);

// The longest record line the uninstaller acts on; longer ones are skipped.
constexpr std::size_t kMaxRecordLine = 511;

// The file a line of the main directory's install record names, with its
// line end removed, when the uninstaller may delete it: the main directory
// plus one of own_names, the names the installer puts there. Empty for
// every other line (blank, relative, elsewhere, another name, over-long).
std::string DeletableRecordPath(const std::string& line, const std::string& main_directory,
                                const std::vector<std::string>& own_names);
// Whether a record line holds nothing but its line end or blanks.
bool IsBlankRecordLine(const std::string& line);
// The uninstaller's last status: the record lines it left alone are counted.
std::string UninstallCompleteText(int kept_lines);

// The longest full path the ANSI file functions take, without its NUL.
constexpr std::size_t kMaxPathChars = 259;
// A file is expanded beside its destination under its name plus kNewSuffix;
// the copy it replaces waits under its name plus kOldSuffix until all are in.
extern const char kNewSuffix[];
extern const char kOldSuffix[];
// Whether every name, with either suffix, fits in directory (ending in '')
// within kMaxPathChars.
bool DirectoryHoldsNames(const std::string& directory, const std::vector<std::string>& names);

// The package's list of the expanded files: one line per file,
// "<sha256 hex> <size> <name>", written by make-dist.
extern const char kManifestName[];
struct ManifestEntry {
  uint64_t size = 0;
  std::string sha256;  // 64 lower-case hex digits
};
// Entries by name folded to lower case.
using Manifest = std::vector<std::pair<std::string, ManifestEntry>>;
// False when any line that is not blank is malformed.
bool ParseManifest(const std::string& text, Manifest* manifest);
// The entry for name (case ignored); nullptr when the package lists none.
const ManifestEntry* FindManifestEntry(const Manifest& manifest, const std::string& name);

// What the command line asks for: "-UNINSTALL" uninstalls; "/S" makes
// either mode silent; "/D=dir", last, takes the rest of the line (blanks
// included) as the main directory. Anything else means an ordinary install.
struct CommandLine {
  bool uninstall = false;
  bool silent = false;
  std::string directory;
};
CommandLine ParseCommandLine(const std::string& text);

// The directory of the program an uninstall command line starts, quoted
// ("\"C:\P Q\setup.exe\" -UNINSTALL") or not ("C:\P Q\setup -UNINSTALL");
// empty when there is none.
std::string UninstallCommandDirectory(const std::string& command);

}  // namespace setup
