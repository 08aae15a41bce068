// Connections open to one server ("host:port"), capped by the MaxPerServer
// setting (0 = no cap). Every connection a transfer opens to a server takes a
// slot first and gives it back when it closes, the extra connections of a
// download split into pieces included. Safe from any thread.
#pragma once

#include <string>

namespace server_slots {

// True, and the connection counted, when one more connection to server may
// open now.
bool TryTake(const std::string& server);
// Gives back a slot taken by TryTake.
void Give(const std::string& server);

}  // namespace server_slots
