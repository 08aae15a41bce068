// Process-wide state shared by the user-interface thread and the workers:
// the program directory, the mode, the current task path and the running
// transfers with their Stop marks. Every accessor is safe to call from any thread.
#pragma once

#include <string>
#include <vector>

#include "platform/tasklist.h"

namespace app {

enum Mode : int { kReceiveMode = 0, kSendMode = 1 };

// Directory of the program, its task files and logs; no trailing separator.
std::string ProgramDirectory();
void SetProgramDirectory(const std::string& directory);

int CurrentMode();
void SetCurrentMode(int mode);

// Full path of the task file shown in the task list.
std::string CurrentTaskPath();
void SetCurrentTaskPath(const std::string& path);
bool IsCurrentTaskPath(const std::string& path);

// Default task of a mode: program directory + "Default.rcv" / "Default.snd".
std::string DefaultTaskPath(int mode);

// Running transfers, by the row they write to, and their Stop marks. A mark
// is made only for a transfer that runs, and it stays until that transfer
// ends (every step of it sees the mark: the pumps, the pause between
// attempts), so no Stop outlives the transfers it was meant for.
// A transfer is known by its task file and the line it started from, so
// that its row can be found again when the task is shown anew.
void TransferStarted(tasklist::RowId row, const std::string& task_path, int start_row,
                     const std::string& start_line);
void TransferEnded(tasklist::RowId row);

struct RunningTransfer {
  tasklist::RowId row = tasklist::kNoRow;
  int start_row = 0;
  std::string start_line;
};
// The running transfers of the task at task_path, in no particular order.
std::vector<RunningTransfer> RunningTransfersOf(const std::string& task_path);
// Marks the running transfer of row; false when none runs there or it is
// marked already.
bool MarkStop(tasklist::RowId row);
// True while a Stop mark of row stands.
bool StopMarked(tasklist::RowId row);

// Directory that the next added entry's local file is built from.
std::string LocalDirectory();
void SetLocalDirectory(const std::string& directory);

}  // namespace app
