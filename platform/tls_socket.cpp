#include "platform/socket.h"
#include "platform/tls.h"

namespace net {

int Socket::StartTls(const std::string& host, int timeout_ms, std::string* reason) {
  if (!IsOpen()) return kBadSocket;
  EndTls();
  return tls::Start(handle_, host, timeout_ms, &tls_, reason);
}

void Socket::EndTls() {
  if (!tls_) return;
  tls::End(tls_);
  tls_ = nullptr;
}

}  // namespace net
