// The parcelo front end: a table of commands over the portable engine. A
// command is a function of its invocation; the dispatcher has already set up
// the program directory, the settings and (when the command asks for it) the
// task: current task path, mode and its rows in the headless task list.
#pragma once

#include <string>
#include <vector>

namespace cli {

enum ExitCode : int {
  kExitOk = 0,
  kExitFailed = 1,   // the environment failed: a directory or file could not be written
  kExitRefused = 2,  // some input was refused (bad link, bad row, usage, a task file or
                     // program directory that cannot be read), the rest was done
  kExitInterrupted = 130,  // Ctrl-C ended the wait for a scheduled start
};

struct Invocation {
  std::string task_path;  // absolute
  bool task_given = false;  // --task named it; else the default download task
  std::vector<std::string> arguments;
};

// What a command needs of the task before it runs.
enum TaskUse {
  kNoTask,      // nothing
  kReadsTask,   // loaded; a missing default task is an empty one, a missing
                // task named by --task an error
  kAddsToTask,  // loaded; a missing task is an empty one, made by the first entry
};

struct Command {
  const char* name;
  const char* usage;    // arguments after the name, for the help
  const char* summary;  // help text; '\n' starts a further line
  TaskUse task_use;
  int (*run)(const Invocation& invocation);
};

int Main(int argc, char** argv);

// Program directory from $PARCELO_HOME, else $XDG_DATA_HOME/parcelo, else
// $HOME/.local/share/parcelo; absolute, without a trailing '/'. Empty when
// none of them is set.
std::string ProgramDirectoryFromEnvironment();

// Where downloads go while no DOWNLOAD is stored: the first existing
// directory of $XDG_DOWNLOAD_DIR, the XDG_DOWNLOAD_DIR line of
// user-dirs.dirs (in $XDG_CONFIG_HOME, else ~/.config) and ~/Downloads; else
// the current directory.
std::string DefaultDownloadDirectory();

// Why the file at path cannot be read (strerror's text); empty when it can,
// or when it is missing and missing_is_empty. The line reader takes a
// directory, or a file it cannot open, for an empty one.
std::string ReadProblem(const std::string& path, bool missing_is_empty);

// Makes path absolute against the current directory.
std::string Absolute(const std::string& path);

// Parses text and adds its entry to the current task, as a dropped link would.
// local_name as for entries::AddEntry. False after saying why ("Bad link: ..."
// or the entry's own refusal).
bool AddLink(const std::string& text, const std::string& local_name = std::string());

// Makes path the current task, in the mode its extension names (.snd: send
// mode, else receive mode), and loads it into the task list. A missing file
// is an empty task when missing_is_empty. False, after saying why ("parcelo:
// cannot read task file PATH: REASON"), when the file cannot be read.
bool OpenTask(const std::string& path, bool missing_is_empty);

// A row number as listed: decimal digits only, below row_count.
bool ReadRow(const std::string& text, int row_count, int* row);

// Task commands.
int RunAdd(const Invocation& invocation);
int RunList(const Invocation& invocation);
int RunDelete(const Invocation& invocation);
// Upload entries: add --send --to URL FILE...
int RunAddUploads(const Invocation& invocation);

// Transfer commands.
int RunReceive(const Invocation& invocation);
int RunSend(const Invocation& invocation);

// Settings and logs.
int RunConfig(const Invocation& invocation);
int RunLog(const Invocation& invocation);

}  // namespace cli
