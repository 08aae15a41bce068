// The log viewer's portable half: where Execute copies a downloaded file
// before it runs it. The dialog itself is in log_dialog_win32.h.
#pragma once

#include <string>

namespace log_viewer {

// The local file is copied into a folder beside it named after its base
// name, and run from there: C:\Down\setup1.exe gives the folder
// C:\Down\setup1 and the copy C:\Down\setup1\setup1.exe.
struct ExecutePaths {
  std::string drive;   // "C:"
  std::string folder;  // drive, directory and base name
  std::string copy;    // folder, '\', base name and extension
};

// Windows path rules, as the local file names a file of the Win32 program.
// Returns false, leaving *paths alone, when the log's local file is not an
// absolute path with a drive letter, or when the folder would not be a new
// name inside the file's own directory: a base name of only dots and blanks
// (Windows drops trailing ones, so "..", "." and ". " name the directory
// itself or its parent) or one holding ':' (a stream of another file). A file
// without an extension passes: its folder is the file itself, so the copy and
// the run fail as they should.
bool PlanExecute(const std::string& local_file, ExecutePaths* paths);

}  // namespace log_viewer
