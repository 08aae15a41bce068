// Connections open to one server ("host:port"), capped by the MaxPerServer
// setting (0 = no cap). Every connection a transfer opens to a server takes a
// slot first and gives it back when it closes, the extra connections of a
// download split into pieces included. Safe from any thread.
//
// An entry that finds its server full waits in that server's queue, holding
// no thread and no socket; each slot given back starts the first waiting
// entry, so entries start in the order they were queued. While entries wait,
// no other connection to that server may take a slot before them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace server_slots {

// The server key of host and port: the host in lower case, ":", the port.
std::string ServerOf(const std::string& host, std::uint32_t port);

// The cap on connections per server; 0 = none. Raising it starts waiting
// entries at once.
void SetCap(int cap);
int Cap();

// True, and the connection counted, when one more connection to server may
// open now: below the cap and no entry waits for that server.
bool TryTake(const std::string& server);
// Gives back a slot taken by TryTake (or given to a waiting entry), then
// starts the first entries waiting for that server that now fit.
void Give(const std::string& server);

// An entry queued for a slot.
class Waiter {
 public:
  virtual ~Waiter() = default;
  // Runs the entry, its slot taken; called on the thread that gave the slot
  // back, outside every lock of this module. False when it could not start:
  // then its slot goes to the next waiting entry.
  virtual bool Start() = 0;
};
using WaiterHandle = std::shared_ptr<Waiter>;

// Takes a slot of server for waiter (true: the caller runs it now) or queues
// it behind those already waiting (false: Start comes later, unless
// Unqueue takes it back first). key names the entry for Unqueue.
bool TakeOrQueue(const std::string& server, std::uint64_t key, const WaiterHandle& waiter);
// Takes every entry queued under key out of its queue, never started.
std::vector<WaiterHandle> Unqueue(std::uint64_t key);

// Slots in use and entries waiting for server, for tests and diagnostics.
int InUse(const std::string& server);
int Waiting(const std::string& server);

}  // namespace server_slots
