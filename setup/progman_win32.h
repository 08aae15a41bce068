// The DDE conversation with Program Manager ("progman"), as a client window's
// part: initiate by broadcast, post execute commands one at a time, free each
// command block on its acknowledgement, terminate.
#pragma once

#include <windows.h>

#include <string>

namespace setup {

enum class DdeStep {
  kNone,
  kInitiate,
  kDeleteGroup,
  kCreateGroup,
  kDeleteItem,
  kAddItem,
  kAwaitTerminate,  // our terminate is out; the server's answer ends the conversation
};

struct Conversation {
  HWND client = nullptr;
  HWND server = nullptr;
  DdeStep step = DdeStep::kNone;
};
Conversation& Progman();

// Broadcasts WM_DDE_INITIATE for "progman" from client; true when a server
// answered (its acknowledgement arrives while the broadcast is sent).
bool InitiateProgman(HWND client);
// Posts command to the server and moves to step; false when it could not go out.
bool ExecuteProgman(const std::string& command, DdeStep step);
// For WM_DDE_ACK at the client: during initiation it names the server; later
// it frees the acknowledged command block. Returns the step it acknowledges.
DdeStep OnProgmanAck(WPARAM wparam, LPARAM lparam);
// Posts WM_DDE_TERMINATE to the server.
void TerminateProgman(DdeStep next);

}  // namespace setup
