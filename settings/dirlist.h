// The rules of the directory chooser (DIRLIST) that do not need a window:
// which entries of the raw directory listing are offered, and the text of an
// accepted directory.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace dirlist {

// The long name of a directory in the current directory, or empty when it
// cannot be found.
using LongNameOf = std::function<std::string(const std::string& name)>;

// The visible list built from the raw listing, in its order: drive entries
// ("[-c-]") unchanged, directory entries ("[name]") with the long name of the
// directory inside the brackets (".." and names without a long name as they
// are), file entries left out.
std::vector<std::string> VisibleEntries(const std::vector<std::string>& raw, const LongNameOf& long_name);

// The accepted directory for a current directory such as "c:\tools": the
// drive letter in upper case, ':', then '\' and the directory unless it is
// the drive's root ("c:\" gives "C:"). A path without a drive comes back
// unchanged.
std::string AcceptedText(const std::string& current_directory);

// Whether a selection taken from the visible list is a bare drive ("c:"),
// which is listed at its root.
bool IsBareDrive(const std::string& selection);

}  // namespace dirlist
