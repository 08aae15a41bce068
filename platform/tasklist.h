// Task list port: the on-screen list of a task's entries, one row per task
// line, seven text cells per row. Win32 body: the main window's SysListView32.
// Headless body: an in-memory table behind a mutex (parcelo, native tests).
//
// Workers call it from their own threads; the Win32 body forwards each call as
// a synchronous message to the user-interface thread, so the user-interface
// thread must never wait for a worker.
//
// Indexes shift whenever a row above is inserted or deleted, so a worker
// addresses its row by the row's id, which the row keeps for its whole life.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tasklist {

// Given to each row at insertion and never reused in the process; 0 names no row.
using RowId = std::uint32_t;
constexpr RowId kNoRow = 0;

// A fresh id for a row being inserted. Safe from any thread.
RowId NewRowId();

enum Column : int {
  kLocalFile = 0,
  kUrl = 1,
  kStatus = 2,
  kBytes = 3,
  kTime = 4,
  kRate = 5,
  kDate = 6,
  kColumnCount = 7,
};

class Port {
 public:
  virtual ~Port() = default;
  virtual int RowCount() = 0;
  // Inserts an empty row at index (at the end when index >= RowCount()) whose
  // first cell is text, with a fresh id; returns the new row's index or -1.
  int InsertRow(int index, const std::string& text) { return InsertRowWithId(index, text, NewRowId()); }
  // InsertRow with a given id: a task shown again gives the row of a running
  // transfer the id that its worker still writes to.
  virtual int InsertRowWithId(int index, const std::string& text, RowId id) = 0;
  // The id of the row at index; kNoRow when there is none.
  virtual RowId IdOf(int row) = 0;
  // Runs action with the current index of the row with id, or with -1 when
  // that row is gone, as one step of the list: no other caller inserts,
  // deletes or changes a row between the lookup and the end of action. The
  // Win32 body runs action on the user-interface thread, so action may use
  // the port but must never wait for a worker (or hold a lock that a worker
  // holds while it uses the port).
  virtual void WithRow(RowId id, const std::function<void(int row)>& action) = 0;
  // Sets a cell of the row with id; nothing when that row is gone.
  void SetCellOf(RowId id, int column, const std::string& text);
  virtual bool DeleteRow(int row) = 0;
  virtual void DeleteAllRows() = 0;
  // Deletes the rows at the indexes in ascending (rising order) as one
  // change of the view: a list of thousands is not redrawn row by row.
  virtual void DeleteRows(const std::vector<int>& ascending) {
    for (auto row = ascending.rbegin(); row != ascending.rend(); ++row) DeleteRow(*row);
  }
  // Stops (false) and resumes (true) redrawing the view around a run of
  // changes, such as filling it with a whole task; the headless body has
  // nothing to draw.
  virtual void SetRedraw(bool) {}
  virtual void SetCell(int row, int column, const std::string& text) = 0;
  virtual std::string GetCell(int row, int column) = 0;
  virtual bool IsSelected(int row) = 0;
  virtual void SetSelected(int row, bool selected) = 0;
  virtual int SelectedCount() = 0;
  // The caption of the view that shows the task ("Parcelo(32) Task Default").
  virtual void SetTitle(const std::string& title) = 0;
};

// The body in use: the Win32 shell installs its list view body at start-up;
// until then (and always in the native build) the headless body is used.
Port& Current();
void Install(Port* port);  // nullptr restores the headless body

// The headless body's own instance, for parcelo and the tests.
class Headless;
Headless& HeadlessBody();

}  // namespace tasklist
