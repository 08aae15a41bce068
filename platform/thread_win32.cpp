#include <windows.h>

#include <new>

#include "platform/thread.h"

#ifndef STACK_SIZE_PARAM_IS_A_RESERVATION
#define STACK_SIZE_PARAM_IS_A_RESERVATION 0x00010000
#endif

namespace threads {
namespace {

// Reserved, not only committed: without the flag Windows reserves the
// program's default (1 MiB) for every thread, and a thousand workers would
// exhaust a 32-bit address space. Windows rounds the reservation up to its
// allocation granularity (64 KiB).
constexpr std::size_t kWorkerStack = 32768;

struct Start {
  void (*entry)(void*);
  void* argument;
};

DWORD WINAPI ThreadMain(LPVOID raw) {
  Start start = *static_cast<Start*>(raw);
  delete static_cast<Start*>(raw);
  try {
    start.entry(start.argument);
  } catch (...) {
    // A worker's failure ends the worker, never the program.
  }
  return 0;
}

}  // namespace

std::size_t WorkerStackBytes() { return kWorkerStack; }

bool StartDetached(void (*entry)(void*), void* argument) {
  Start* start = new (std::nothrow) Start{entry, argument};
  if (!start) return false;
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, kWorkerStack, ThreadMain, start,
                               STACK_SIZE_PARAM_IS_A_RESERVATION, &id);
  if (!thread) {
    delete start;
    return false;
  }
  CloseHandle(thread);
  return true;
}

struct Event::State {
  HANDLE handle;
};

Event::Event(const char* name) : state_(new State{CreateEventA(nullptr, TRUE, FALSE, name)}) {}

Event::~Event() {
  if (state_->handle) CloseHandle(state_->handle);
  delete state_;
}

void Event::Set() { SetEvent(state_->handle); }

void Event::Reset() { ResetEvent(state_->handle); }

bool Event::Wait(int timeout_ms) {
  const DWORD limit = timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms);
  return WaitForSingleObject(state_->handle, limit) == WAIT_OBJECT_0;
}

}  // namespace threads
