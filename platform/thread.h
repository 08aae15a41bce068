// Thread seam: worker threads with small fixed stacks, and manual-reset
// events. Win32 body: CreateThread and kernel events. POSIX body: pthreads
// and a condition variable.
#pragma once

#include <cstddef>

namespace threads {

// Reserved stack of every worker thread. Workers keep their large buffers on
// the heap, so a task of a thousand entries can run a thousand workers.
std::size_t WorkerStackBytes();

// Runs entry(argument) on a new detached thread with the worker stack. An
// exception that leaves entry ends the thread quietly instead of the process.
// Returns false, without calling entry, when no thread could be created.
bool StartDetached(void (*entry)(void* argument), void* argument);

// A manual-reset event, created non-signalled: once set it stays set until
// reset, and every wait returns at once. On Win32 a named event is the kernel
// object of that name, shared with whoever created it first; elsewhere, and
// with no name, it is private to its owner.
class Event {
 public:
  explicit Event(const char* name = nullptr);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  // Waits until the event is set; timeout_ms < 0 waits without limit.
  // Returns true when it is set.
  bool Wait(int timeout_ms = -1);

 private:
  struct State;
  State* state_;
};

}  // namespace threads
