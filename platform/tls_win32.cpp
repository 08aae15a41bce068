#include "platform/socket.h"
#include "platform/tls.h"

namespace net {

struct TlsSession {};

namespace tls {

int Start(std::intptr_t, const std::string&, int, TlsSession**, std::string* reason) {
  *reason = "HTTPS is not available in this build";
  return kTlsNotAvailable;
}

int SendAll(TlsSession*, const void*, std::size_t, int) { return kNotConnected; }

long Receive(TlsSession*, void*, std::size_t, int, int* error) {
  *error = kNotConnected;
  return -1;
}

bool HasPending(TlsSession*) { return false; }

void End(TlsSession* session) { delete session; }

}  // namespace tls
}  // namespace net
