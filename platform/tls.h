// The TLS bodies behind net::Socket: each build brings its own (OpenSSL
// natively, Schannel on Windows). The socket calls them only while it holds a
// session.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace net {

struct TlsSession;

namespace tls {

// Handshake over the connected socket handle, as Socket::StartTls.
int Start(std::intptr_t handle, const std::string& host, int timeout_ms, TlsSession** session,
          std::string* reason);
// As Socket::SendAll and Socket::Receive, through the session.
int SendAll(TlsSession* session, const void* data, std::size_t length, int timeout_ms);
long Receive(TlsSession* session, void* buffer, std::size_t capacity, int timeout_ms, int* error);
// True when decrypted bytes wait in the session, so a read would not block.
bool HasPending(TlsSession* session);
// Sends close notify when the session is intact, then frees it. The socket
// handle stays open.
void End(TlsSession* session);

}  // namespace tls
}  // namespace net
