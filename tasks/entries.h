// Entry operations: the task file and the task list changed together, so that
// row i of the list always shows line i of the current task file.
//
// They use the task list port (tasklist::Current()), the current task path,
// the mode and the local directory (settings/places.h), and the live DOWNLOAD
// setting. Refusals are shown through the prompts port.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/tasklist.h"

namespace entries {

// The status word every new entry is saved with, and how a row shows it.
constexpr char kAwaitingWord[] = "Awaiting_command";

// "MM/DD/YY HH:MM"; the year is year - 1900 up to 1999, else year - 2000.
std::string FormatEntryDate(const clock_seam::LocalTime& time);

// The status word with every '_' shown as a blank.
std::string DisplayStatus(const std::string& status_word);

// Adds an entry for a parsed URL to the current task file, right after the
// last line that the list shows, and its row at the end of the list.
// display_url and url_path come from url::Parse, stored_url is its stored form
// (ending in CR LF). In receive mode the local directory is set from DOWNLOAD
// first; in send mode it is used as the caller set it. local_name: the name of
// the local file in that directory when the caller knows it (an upload's
// source, whose name the link carries percent-encoded); empty: the last
// segment of url_path. Returns 0, or -1 with a message box and nothing added
// when the local name from the URL is unsafe or, in receive mode, one of the
// program's own files (url::RefusedLocalNameReason), a field holds a TAB or a
// line break, the line would not read back whole, or the task file cannot be
// written.
int AddEntry(const std::string& display_url, const std::string& url_path,
             const std::string& stored_url, const std::string& local_name = std::string());

// Add a row showing an entry (columns 0, 1, 2 and 6); return its index or -1.
// The row gets id, or a fresh id when id is tasklist::kNoRow.
int AppendEntryRow(const std::string& date, const std::string& display_status,
                   const std::string& display_url, const std::string& local_file,
                   tasklist::RowId id = tasklist::kNoRow);
int InsertEntryRow(int index, const std::string& date, const std::string& display_status,
                   const std::string& display_url, const std::string& local_file,
                   tasklist::RowId id = tasklist::kNoRow);

// Shows an entry in the existing row (columns 0, 1, 2 and 6) and clears its
// bytes, time and rate.
void FillEntryRow(int row, const std::string& date, const std::string& display_status,
                  const std::string& display_url, const std::string& local_file);

// "Parcelo(32) Task <file name without directory and extension>".
std::string TaskTitle(const std::string& path);

// A transfer that still runs, as a task shown anew needs it to give the
// transfer its row back: the row it writes to, and the line it started from.
struct RunningTransfer {
  tasklist::RowId row = tasklist::kNoRow;
  int start_row = 0;
  std::string start_line;
  // What its row shows until the transfer writes it again ("Queued" while it
  // waits for a connection); empty: the status of its task line.
  std::string status;
};
// Where LoadTask finds the running transfers of a task: the jobs keep them
// (engine/running.h) and install this as their first transfer starts; none
// installed, none runs. Safe from any thread.
using RunningTransfersLookup = std::vector<RunningTransfer> (*)(const std::string& task_path);
void InstallRunningTransfers(RunningTransfersLookup lookup);

// Clears the list, sets the title and adds one row per task line up to the
// first empty line. A URL that does not parse is shown as stored. Returns the
// number of rows, or -1 when the file cannot be opened (the list stays empty
// and no file is created).
int LoadTask(const std::string& path);

// Makes path the current task and loads it (LoadTask's result).
int OpenTask(const std::string& path);

// Deletes the selected entries, lines and rows, in one step of the list and
// one rewrite of the task file, so that running transfers never find row i
// showing another line than line i. on_deleted, when given, is called with
// the id of each deleted row, within that step (the caller's per-row work,
// such as stopping the row's transfer). Returns the number deleted; when the
// task file cannot be rewritten it says so and deletes nothing.
int DeleteEntries(const std::function<void(tasklist::RowId deleted)>& on_deleted = nullptr);

// Makes program directory + separator + name + ".rcv" (receive mode) or
// ".snd" (send mode) the current task. An existing file of that name is
// loaded, so that rows and lines stay aligned; otherwise the list is emptied
// and the title set. Returns the new path.
std::string NewTask(const std::string& name);

}  // namespace entries
