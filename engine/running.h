// The running transfers of the jobs, by the row they write to, and their
// Stop marks. A mark is made only for a transfer that runs, and it stays
// until that transfer ends (every step of it sees the mark: the pumps, the
// pause between attempts), so no Stop outlives the transfers it was meant for.
// A transfer is known by its task file and the line it started from, so
// that its row can be found again when the task is shown anew (the task list
// asks through entries::InstallRunningTransfers). Safe from any thread.
#pragma once

#include <string>
#include <vector>

#include "platform/tasklist.h"
#include "tasks/entries.h"

namespace app {

void TransferStarted(tasklist::RowId row, const std::string& task_path, int start_row,
                     const std::string& start_line);
void TransferEnded(tasklist::RowId row);
// The transfer of row waits for a connection (true) or has started (false);
// a task shown anew shows such a row "Queued".
void SetQueued(tasklist::RowId row, bool queued);

using RunningTransfer = entries::RunningTransfer;
// The running transfers of the task at task_path, in no particular order.
std::vector<RunningTransfer> RunningTransfersOf(const std::string& task_path);
// Marks the running transfer of row; false when none runs there or it is
// marked already.
bool MarkStop(tasklist::RowId row);
// True while a Stop mark of row stands.
bool StopMarked(tasklist::RowId row);

}  // namespace app
