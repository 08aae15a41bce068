#include "tasks/entries.h"

#include <atomic>
#include <cstdio>
#include <vector>

#include "tasks/url.h"
#include "platform/fs.h"
#include "platform/prompts.h"
#include "platform/tasklist.h"
#include "settings/places.h"
#include "settings/settings.h"
#include "tasks/taskfile.h"

namespace entries {
namespace {

std::atomic<RunningTransfersLookup> g_running_transfers{nullptr};

constexpr unsigned kErrorStyle = prompts::kIconStop | prompts::kTaskModal;

void Refuse(const std::string& text) { prompts::Message(text, "Error", kErrorStyle); }

std::string WithoutLineEnd(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// A TAB would shift the fields of the line; a CR or LF would split it in two
// and every later line would then belong to the wrong row.
bool BreaksTaskLine(const std::string& field) {
  return field.find_first_of("\t\r\n") != std::string::npos;
}

// Checks the fields of a new task line; shows why and returns false when the
// line cannot be written.
bool AcceptLine(const std::string& local_file, const std::string& url_field,
                const std::string& line_text) {
  if (BreaksTaskLine(local_file) || BreaksTaskLine(url_field)) {
    Refuse("Link holds a TAB or a line break");
    return false;
  }
  if (line_text.size() > taskfile::kMaxWholeLineText) {
    Refuse("Local file and link too long for the task file");
    return false;
  }
  return true;
}

// The running transfers that the rows of lines take, whose ids they get: a
// transfer of the task that still runs keeps writing to its entry's row when
// the task is shown again. Its line is
// looked for where it started, else at the first line that reads the same
// (lines above it were deleted); none (row kNoRow) for every other line.
std::vector<RunningTransfer> RunningTransfersByLine(const std::string& path,
                                                   const std::vector<std::string>& lines) {
  std::vector<RunningTransfer> ids(lines.size());
  const int count = static_cast<int>(lines.size());
  const auto unclaimed = [&](int row, const std::string& line) {
    return row >= 0 && row < count && ids[row].row == tasklist::kNoRow && lines[row] == line;
  };
  const RunningTransfersLookup lookup = g_running_transfers.load();
  if (!lookup) return ids;
  for (const RunningTransfer& running : lookup(path)) {
    int row = unclaimed(running.start_row, running.start_line) ? running.start_row : -1;
    for (int i = 0; row < 0 && i < count; ++i) {
      if (unclaimed(i, running.start_line)) row = i;
    }
    if (row >= 0) ids[row] = running;
  }
  return ids;
}

}  // namespace

std::string FormatEntryDate(const clock_seam::LocalTime& time) {
  const int year = time.year - 1900 <= 99 ? time.year - 1900 : time.year - 2000;
  char text[64];
  std::snprintf(text, sizeof text, "%2.2d/%2.2d/%2.2d %2.2d:%2.2d", time.month, time.day, year,
                time.hour, time.minute);
  return text;
}

std::string DisplayStatus(const std::string& status_word) {
  std::string shown = status_word;
  for (char& c : shown) {
    if (c == '_') c = ' ';
  }
  return shown;
}

int AddEntry(const std::string& display_url, const std::string& url_path,
             const std::string& stored_url, const std::string& local_name) {
  const std::string date = FormatEntryDate(clock_seam::Now());
  const bool receive = app::CurrentMode() == app::kReceiveMode;
  if (receive) app::SetLocalDirectory(settings::Live().download);

  // A name the caller took from an existing file needs no check; one from the
  // link names a file that a download will write.
  std::string refusal;
  if (local_name.empty()) {
    refusal = receive ? url::RefusedLocalNameReason(app::LocalDirectory(), app::ProgramDirectory(), url_path)
                      : url::UnsafeLocalNameReason(url_path);
  }
  if (!refusal.empty()) {
    Refuse(refusal);
    return -1;
  }
  const std::string local_file = local_name.empty() ? url::LocalNameForUrl(app::LocalDirectory(), url_path)
                                                   : url::InDirectory(app::LocalDirectory(), local_name);
  const std::string url_field = WithoutLineEnd(stored_url);
  const std::string line_text =
      date + "\t" + local_file + "\t" + kAwaitingWord + "\t" + url_field;
  if (!AcceptLine(local_file, url_field, line_text)) return -1;

  // Right after the last line the list shows, so that row and line match.
  const std::string path = app::CurrentTaskPath();
  if (taskfile::AddLine(path, line_text + "\r\n") != 0) {
    Refuse("Cannot write the task file " + path);
    return -1;
  }
  AppendEntryRow(date, DisplayStatus(kAwaitingWord), display_url, local_file);
  return 0;
}

int AppendEntryRow(const std::string& date, const std::string& display_status,
                   const std::string& display_url, const std::string& local_file,
                   tasklist::RowId id) {
  tasklist::Port& list = tasklist::Current();
  return InsertEntryRow(list.RowCount(), date, display_status, display_url, local_file, id);
}

int InsertEntryRow(int index, const std::string& date, const std::string& display_status,
                   const std::string& display_url, const std::string& local_file,
                   tasklist::RowId id) {
  tasklist::Port& list = tasklist::Current();
  const int row =
      list.InsertRowWithId(index, local_file, id == tasklist::kNoRow ? tasklist::NewRowId() : id);
  if (row < 0) return -1;
  list.SetCell(row, tasklist::kUrl, display_url);
  list.SetCell(row, tasklist::kStatus, display_status);
  list.SetCell(row, tasklist::kDate, date);
  return row;
}

void FillEntryRow(int row, const std::string& date, const std::string& display_status,
                  const std::string& display_url, const std::string& local_file) {
  tasklist::Port& list = tasklist::Current();
  list.SetCell(row, tasklist::kLocalFile, local_file);
  list.SetCell(row, tasklist::kUrl, display_url);
  list.SetCell(row, tasklist::kStatus, display_status);
  for (int column : {tasklist::kBytes, tasklist::kTime, tasklist::kRate}) list.SetCell(row, column, "");
  list.SetCell(row, tasklist::kDate, date);
}

std::string TaskTitle(const std::string& path) {
  std::string name = fs::BaseName(path);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  return "Parcelo(32) Task " + name;
}

void InstallRunningTransfers(RunningTransfersLookup lookup) { g_running_transfers.store(lookup); }

int LoadTask(const std::string& path) {
  tasklist::Port& list = tasklist::Current();
  list.DeleteAllRows();
  list.SetTitle(TaskTitle(path));
  // The lines are read first: the list port may wait for the user-interface
  // thread, which must never wait for the file lock in turn.
  std::vector<std::string> lines;
  if (taskfile::ReadLines(path, &lines) < 0) return -1;
  const std::vector<RunningTransfer> running = RunningTransfersByLine(path, lines);
  list.SetRedraw(false);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const taskfile::TaskLine fields = taskfile::SplitTaskLine(lines[i]);
    std::string shown_url;
    if (url::Parse(fields.url, nullptr, &shown_url, nullptr) != 0) shown_url = fields.url;
    const std::string& status = running[i].status;
    AppendEntryRow(fields.date + " " + fields.time, status.empty() ? DisplayStatus(fields.status_word) : status,
                   shown_url, fields.local_file, running[i].row);
  }
  list.SetRedraw(true);
  return static_cast<int>(lines.size());
}

int OpenTask(const std::string& path) {
  app::SetCurrentTaskPath(path);
  return LoadTask(path);
}

int DeleteEntries(const std::function<void(tasklist::RowId deleted)>& on_deleted) {
  tasklist::Port& list = tasklist::Current();
  const std::string path = app::CurrentTaskPath();
  const int count = list.RowCount();
  tasklist::RowId first = tasklist::kNoRow;
  for (int row = 0; row < count && first == tasklist::kNoRow; ++row) {
    if (list.IsSelected(row)) first = list.IdOf(row);
  }
  if (first == tasklist::kNoRow) return 0;
  // Lines and rows go together in one step of the list, so that running
  // transfers never find row i showing another line than line i; the file is
  // rewritten once however many rows go.
  int deleted = -1;
  list.WithRow(first, [&](int) {
    std::vector<int> rows;
    std::vector<tasklist::RowId> ids;
    const int now = list.RowCount();
    for (int row = 0; row < now; ++row) {
      if (!list.IsSelected(row)) continue;
      rows.push_back(row);
      ids.push_back(list.IdOf(row));
    }
    if (taskfile::DeleteEntryLines(path, rows) != 0) return;
    list.DeleteRows(rows);
    deleted = static_cast<int>(rows.size());
    if (on_deleted) {
      for (tasklist::RowId id : ids) on_deleted(id);
    }
  });
  if (deleted < 0) {
    Refuse("Cannot rewrite the task file " + path);
    return 0;
  }
  return deleted;
}

std::string NewTask(const std::string& name) {
  const char* extension = app::CurrentMode() == app::kSendMode ? ".snd" : ".rcv";
  const std::string path = app::ProgramDirectory() + fs::Separator() + name + extension;
  app::SetCurrentTaskPath(path);
  if (fs::FileExists(path)) {
    LoadTask(path);
  } else {
    tasklist::Port& list = tasklist::Current();
    list.DeleteAllRows();
    list.SetTitle(TaskTitle(path));
  }
  return path;
}

}  // namespace entries
