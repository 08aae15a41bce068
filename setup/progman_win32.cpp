#include "setup/progman_win32.h"

#include <dde.h>

#include <cstring>

namespace setup {
namespace {

// How long one top-level window may take to answer the initiation broadcast
// before it counts as hung.
constexpr UINT kInitiateTimeoutMs = 5000;

HGLOBAL CommandBlock(const std::string& command) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, command.size() + 10);
  if (block == nullptr) return nullptr;
  char* text = static_cast<char*>(GlobalLock(block));
  std::memcpy(text, command.c_str(), command.size() + 1);
  GlobalUnlock(block);
  return block;
}

}  // namespace

Conversation& Progman() {
  static Conversation conversation;
  return conversation;
}

bool InitiateProgman(HWND client) {
  Conversation& c = Progman();
  c.client = client;
  c.server = nullptr;
  c.step = DdeStep::kInitiate;
  const ATOM application = GlobalAddAtomA("progman");
  const ATOM topic = GlobalAddAtomA("progman");
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(HWND_BROADCAST, WM_DDE_INITIATE, reinterpret_cast<WPARAM>(client),
                      MAKELPARAM(application, topic), SMTO_ABORTIFHUNG, kInitiateTimeoutMs, &ignored);
  GlobalDeleteAtom(application);
  GlobalDeleteAtom(topic);
  if (c.server == nullptr) c.step = DdeStep::kNone;
  return c.server != nullptr;
}

bool ExecuteProgman(const std::string& command, DdeStep step) {
  Conversation& c = Progman();
  HGLOBAL block = CommandBlock(command);
  if (block == nullptr) return false;
  c.step = step;
  if (!PostMessageA(c.server, WM_DDE_EXECUTE, reinterpret_cast<WPARAM>(c.client),
                    reinterpret_cast<LPARAM>(block))) {
    GlobalFree(block);
    return false;
  }
  return true;
}

DdeStep OnProgmanAck(WPARAM wparam, LPARAM lparam) {
  Conversation& c = Progman();
  HWND sender = reinterpret_cast<HWND>(wparam);
  if (c.step == DdeStep::kInitiate) {
    // The atoms of an answer to the initiation are the server's, ours to delete.
    GlobalDeleteAtom(LOWORD(lparam));
    GlobalDeleteAtom(HIWORD(lparam));
    if (c.server == nullptr) {
      c.server = sender;
    } else if (sender != c.server) {
      // One server is all we talk to; release any further one.
      PostMessageA(sender, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(c.client), 0);
    }
    return DdeStep::kInitiate;
  }
  if (sender != c.server || c.step == DdeStep::kNone || c.step == DdeStep::kAwaitTerminate) {
    return DdeStep::kNone;
  }
  UINT_PTR status = 0;
  UINT_PTR block = 0;
  UnpackDDElParam(WM_DDE_ACK, lparam, &status, &block);
  FreeDDElParam(WM_DDE_ACK, lparam);
  if (block != 0) GlobalFree(reinterpret_cast<HGLOBAL>(block));
  return c.step;
}

void TerminateProgman(DdeStep next) {
  Conversation& c = Progman();
  if (c.server != nullptr) {
    PostMessageA(c.server, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(c.client), 0);
  }
  c.step = next;
}

}  // namespace setup
