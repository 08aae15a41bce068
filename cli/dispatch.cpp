#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/cli.h"
#include "settings/places.h"
#include "engine/jobs.h"
#include "engine/progress.h"
#include "engine/proxy.h"
#include "engine/translog.h"
#include "platform/fs.h"
#include "settings/settings.h"
#include "settings/store.h"
#include "tasks/entries.h"
#include "tasks/transfer_log.h"

namespace cli {
namespace {

// One line per command; a new command is a function and a row here.
const Command kCommands[] = {
    {"add", "URL...",
     "Add a download entry for each URL to the task, as dropping\n"
     "the link on the window would. The local file is the last\n"
     "part of the URL's path in the DOWNLOAD directory. A URL\n"
     "that does not parse is reported as \"Bad link: URL\"; the\n"
     "others are still added.",
     kAddsToTask, RunAdd},
    {"add", "--send --to URL FILE...",
     "Add an upload entry for each FILE to the upload task\n"
     "(Default.snd unless --task names one): the file goes to\n"
     "URL, with a '/' added when it lacks one, followed by the\n"
     "file's name.",
     kAddsToTask, RunAdd},
    {"list", "",
     "Print one line per entry: row, local file, URL (password\n"
     "masked), status and date, separated by TABs. Rows count\n"
     "from 0.",
     kReadsTask, RunList},
    {"delete", "ROW...",
     "Delete the entries at the given rows (as listed) from the\n"
     "task file and the list. When a row number is bad, nothing\n"
     "is deleted.",
     kReadsTask, RunDelete},
    {"receive", "[--no-follow] [--no-server-names] [--split N] [--max-per-server N] [--limit-rate RATE] [--at HH:MM [--every N]] [ROW...]",
     "Download the entries of the task, all of them or the given\n"
     "rows, each on its own connection at the same time, and wait\n"
     "until every transfer has ended. At most MaxPerServer (8)\n"
     "connections go to one host and port at once (0: no cap);\n"
     "the other entries wait \"Queued\" and start in row order.\n"
     "--max-per-server N stands for MaxPerServer in this run.\n"
     "--limit-rate RATE caps all transfers together at RATE\n"
     "bytes per second, as curl reads it: 500K, 2M, 1G are KiB,\n"
     "MiB and GiB per second, a bare number is bytes; it stands\n"
     "for SpeedLimit (KiB per second, 0: none) in this run.\n"
     "On a terminal a live line per entry shows its progress.\n"
     "Then print one line per started or refused row: row,\n"
     "status, bytes, time and rate, separated by TABs. A failed\n"
     "attempt is repeated CycleDownload times.\n"
     "An entry that ends in a redirect has its link rewritten and\n"
     "runs again at once, up to five times (then it fails with\n"
     "\"Too many redirects\"); --no-follow stops after the rewrite.\n"
     "A redirect's link and a Content-Disposition name the local\n"
     "file unless ServerNames is 0 or --no-server-names is given.\n"
     "With --at, wait in the foreground until the clock shows HH:MM\n"
     "(today, or tomorrow when that time has passed), saying when\n"
     "the start is, then run; with --every N, run again every N\n"
     "minutes until Ctrl-C. A start missed while the computer slept\n"
     "is made as soon as it wakes. With --split N, a download of at\n"
     "least SplitMin bytes runs over up to N connections (1-16).",
     kReadsTask, RunReceive},
    {"send", "[--no-follow] [--max-per-server N] [--limit-rate RATE] [--at HH:MM [--every N]] [ROW...]",
     "Upload the entries of the upload task (Default.snd unless\n"
     "--task names one) as receive downloads them, with the same\n"
     "cap per server and speed limit. A failed attempt is\n"
     "repeated CycleUpload times.",
     kReadsTask, RunSend},
    {"config", "[NAME [VALUE]]",
     "Print every setting as NAME=VALUE, print the value of one,\n"
     "or set one. A new DOWNLOAD directory must exist.",
     kNoTask, RunConfig},
    {"log", "[--send] [--clear]",
     "Print the download log (--send: the upload log), one line\n"
     "per completed transfer: date, local file and URL separated\n"
     "by TABs; with --clear, empty it instead.",
     kNoTask, RunLog},
};

void PrintHelp(std::FILE* out) {
  std::fprintf(out,
               "Usage: parcelo [--task FILE] COMMAND [ARGUMENT...]\n"
               "\n"
               "Command-line front end of the Parcelo(32) transfer manager.\n"
               "\n"
               "Commands:\n");
  for (const Command& command : kCommands) {
    const std::string head = std::string(command.name) + " " + command.usage;
    std::fprintf(out, "  %-16s", head.c_str());
    // A long head gets a line of its own.
    bool first = head.size() < 16;
    if (!first) std::fprintf(out, "\n");
    const char* line = command.summary;
    while (*line) {
      const char* end = std::strchr(line, '\n');
      const int length = static_cast<int>(end ? end - line : std::strlen(line));
      std::fprintf(out, "%*s%.*s\n", first ? 0 : 18, "", length, line);
      first = false;
      line += length + (end ? 1 : 0);
    }
  }
  std::fprintf(out,
               "\n"
               "Options:\n"
               "  --task FILE     Work on the task file FILE (.rcv: download task, .snd:\n"
               "                  upload task) instead of Default.rcv (send and add\n"
               "                  --send: Default.snd) in the program directory. Only\n"
               "                  add makes a task file that does not exist yet.\n"
               "  --help          Show this help.\n"
               "\n"
               "The program directory is $PARCELO_HOME, else $XDG_DATA_HOME/parcelo,\n"
               "else ~/.local/share/parcelo; it is created when missing and holds the\n"
               "task files, logs and settings.ini.\n"
               "\n"
               "Until 'config DOWNLOAD DIR' sets it, downloads go to the first existing\n"
               "directory of $XDG_DOWNLOAD_DIR, the XDG_DOWNLOAD_DIR of user-dirs.dirs\n"
               "(in $XDG_CONFIG_HOME, else ~/.config) and ~/Downloads, else to the\n"
               "current directory.\n"
               "\n"
               "Exit status: 0 done; 1 a file or directory could not be written, or a\n"
               "transfer failed or was refused as a bad link; 2 bad usage, an empty\n"
               "task, a task file or program directory that cannot be read, or some\n"
               "input was refused (the rest was done); 130 Ctrl-C ended the wait for\n"
               "a scheduled start.\n");
}

const Command* FindCommand(const std::string& name) {
  for (const Command& command : kCommands) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

bool EndsWith(const std::string& text, const std::string& ending) {
  return text.size() >= ending.size() &&
         text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "parcelo: %s\nTry 'parcelo --help'.\n", message.c_str());
  return kExitRefused;
}

// send and add --send work on the default upload task, the others on the
// default download task.
int DefaultTaskMode(const Command& command, const Invocation& invocation) {
  const bool uploads = command.run == RunSend || (command.run == RunAdd && !invocation.arguments.empty() &&
                                                  invocation.arguments[0] == "--send");
  return uploads ? app::kSendMode : app::kReceiveMode;
}

// Every running transfer holds a socket and a file, and a task may hold
// thousands of entries: the soft limit of descriptors (often 1024) goes up to
// the hard one.
void RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

// Program directory, settings store and live settings, as the program sets
// them up at start. Returns kExitOk, or the exit status after saying what is
// wrong.
int SetUpProgramDirectory() {
  const std::string directory = ProgramDirectoryFromEnvironment();
  if (directory.empty()) {
    std::fprintf(stderr, "parcelo: set PARCELO_HOME or HOME to find the program directory\n");
    return kExitFailed;
  }
  struct stat info {};
  if (stat(directory.c_str(), &info) == 0 && !S_ISDIR(info.st_mode)) {
    const char* home = std::getenv("PARCELO_HOME");
    std::fprintf(stderr, "parcelo: %s is not a directory: %s\n",
                 home && *home ? "PARCELO_HOME" : "the program directory", directory.c_str());
    return kExitRefused;
  }
  if (!fs::MakeDirectories(directory)) {
    std::fprintf(stderr, "parcelo: cannot create the program directory %s: %s\n", directory.c_str(),
                 std::strerror(errno));
    return kExitFailed;
  }
  app::SetProgramDirectory(directory);
  settings::SetStoreDirectory(directory);
  settings::Load(DefaultDownloadDirectory());
  // Proxies named in the environment serve while the settings name none.
  proxy::UseEnvironment(proxy::ReadEnvironment([](const char* name) -> const char* { return std::getenv(name); }));
  return kExitOk;
}

}  // namespace

std::string ReadProblem(const std::string& path, bool missing_is_empty) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT && missing_is_empty ? std::string() : std::strerror(errno);
  struct stat info {};
  const bool directory = fstat(fd, &info) == 0 && S_ISDIR(info.st_mode);
  close(fd);
  return directory ? std::strerror(EISDIR) : std::string();
}

// The task's extension gives the mode, as Open Task offers .rcv files in
// receive mode and .snd files in send mode.
bool OpenTask(const std::string& path, bool missing_is_empty) {
  const std::string problem = ReadProblem(path, missing_is_empty);
  if (!problem.empty()) {
    std::fprintf(stderr, "parcelo: cannot read task file %s: %s\n", path.c_str(), problem.c_str());
    return false;
  }
  app::SetCurrentMode(EndsWith(path, ".snd") ? app::kSendMode : app::kReceiveMode);
  entries::OpenTask(path);
  return true;
}

int Main(int argc, char** argv) {
  RaiseDescriptorLimit();
  std::string task_path;
  int next = 1;
  for (; next < argc && argv[next][0] == '-'; ++next) {
    const std::string option = argv[next];
    if (option == "--help" || option == "-h") {
      PrintHelp(stdout);
      return kExitOk;
    }
    if (option == "--task") {
      if (next + 1 == argc) return UsageError("--task needs a FILE");
      task_path = argv[++next];
    } else if (option.compare(0, 7, "--task=") == 0) {
      task_path = option.substr(7);
    } else {
      return UsageError("unknown option " + option);
    }
  }
  if (next == argc) {
    PrintHelp(stderr);
    return kExitRefused;
  }
  const Command* command = FindCommand(argv[next]);
  if (!command) return UsageError(std::string("unknown command ") + argv[next]);

  Invocation invocation;
  for (int i = next + 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      PrintHelp(stdout);
      return kExitOk;
    }
    invocation.arguments.push_back(argv[i]);
  }
  if (const int status = SetUpProgramDirectory()) return status;
  invocation.task_given = !task_path.empty();
  invocation.task_path = task_path.empty() ? app::DefaultTaskPath(DefaultTaskMode(*command, invocation))
                                            : Absolute(task_path);
  progress::InstallReporter(&jobs::ReportProgress);
  translog::InstallWriter(&transfer_log::WriteLogLine);
  if (command->task_use != kNoTask &&
      !OpenTask(invocation.task_path, !invocation.task_given || command->task_use == kAddsToTask)) {
    return kExitRefused;
  }
  return command->run(invocation);
}

}  // namespace cli
