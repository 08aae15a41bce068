#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <climits>

#include "platform/clock.h"
#include "platform/socket.h"
#include "platform/tls.h"

namespace net {

struct TlsSession {
  SSL* ssl = nullptr;
  int fd = -1;
  // False once the stream failed or the peer ended it: no close notify then.
  bool intact = true;
};

namespace tls {
namespace {

// The library's socket BIO writes with write(), which raises SIGPIPE on a
// connection the peer has reset; this one sends as the plain stream does.
int BioWrite(BIO* bio, const char* data, int length) {
  BIO_clear_retry_flags(bio);
  ssize_t sent = send(static_cast<int>(BIO_get_fd(bio, nullptr)), data, static_cast<size_t>(length),
                      MSG_NOSIGNAL | MSG_DONTWAIT);
  if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
    BIO_set_retry_write(bio);
  }
  return static_cast<int>(sent);
}

int BioRead(BIO* bio, char* buffer, int capacity) {
  BIO_clear_retry_flags(bio);
  ssize_t got = recv(static_cast<int>(BIO_get_fd(bio, nullptr)), buffer, static_cast<size_t>(capacity),
                     MSG_DONTWAIT);
  if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
    BIO_set_retry_read(bio);
  }
  return static_cast<int>(got);
}

BIO_METHOD* MakeBioMethod() {
  BIO_METHOD* method = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR,
                                    "parcelo socket");
  if (!method) return nullptr;
  // Everything but reading and writing (the descriptor, flush) as the
  // library's own socket BIO does it.
  const BIO_METHOD* base = BIO_s_socket();
  BIO_meth_set_write(method, BioWrite);
  BIO_meth_set_read(method, BioRead);
  BIO_meth_set_ctrl(method, BIO_meth_get_ctrl(base));
  BIO_meth_set_create(method, BIO_meth_get_create(base));
  BIO_meth_set_destroy(method, BIO_meth_get_destroy(base));
  return method;
}

SSL_CTX* MakeContext() {
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  if (!context) return nullptr;
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
  // The system's roots, or those SSL_CERT_FILE / SSL_CERT_DIR name.
  if (SSL_CTX_set_default_verify_paths(context) != 1) {
    SSL_CTX_free(context);
    return nullptr;
  }
  return context;
}

// Made once per process, shared by every worker (the library locks it).
SSL_CTX* SharedContext() {
  static SSL_CTX* const context = MakeContext();
  return context;
}

BIO_METHOD* SharedBioMethod() {
  static BIO_METHOD* const method = MakeBioMethod();
  return method;
}

// Waits until the session can go on after it asked for want. 1 ready, 0 at
// the time-out, minus an error number otherwise.
int WaitFor(int fd, int want, std::uint32_t start, int timeout_ms) {
  const short events = want == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN;
  for (;;) {
    pollfd entry{fd, events, 0};
    int n = poll(&entry, 1, clock_seam::MillisecondsLeft(start, timeout_ms));
    if (n > 0) return 1;
    if (n == 0) return 0;
    if (errno != EINTR) return -kConnectionAborted;
  }
}

std::string CertificateReason(long result) {
  switch (result) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return "certificate expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return "certificate not yet valid";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return "wrong host name";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
      return "unknown authority";
    case X509_V_ERR_CERT_REVOKED:
      return "certificate revoked";
    default:
      return X509_verify_cert_error_string(result);
  }
}

// Workers are detached threads that may still be ending when the process
// exits, so the library's per-thread state (its error queue) is given back
// as soon as a session is over rather than at thread exit.
void ReleaseThreadState() { OPENSSL_thread_stop(); }

// An error of the stream below the session, as an error number.
int StreamError(TlsSession* session, int ssl_error) {
  session->intact = false;
  ERR_clear_error();
  if (ssl_error == SSL_ERROR_SYSCALL && errno == ECONNRESET) return kConnectionReset;
  return kConnectionAborted;
}

// The peer closed the TCP connection under the session without close
// notify: OpenSSL 3 reports an unexpected EOF, older versions a system error
// without a cause.
bool ClosedWithoutNotify(int ssl_error) {
#ifdef SSL_R_UNEXPECTED_EOF_WHILE_READING
  if (ssl_error == SSL_ERROR_SSL && ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
    return true;
  }
#endif
  return ssl_error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0 && errno == 0;
}

}  // namespace

int Start(std::intptr_t handle, const std::string& host, int timeout_ms, TlsSession** out,
          std::string* reason) {
  SSL_CTX* context = SharedContext();
  BIO_METHOD* method = SharedBioMethod();
  if (!context || !method) {
    *reason = "TLS library failed";
    return kTlsFailed;
  }
  const int fd = static_cast<int>(handle);
  TlsSession* session = new TlsSession;
  session->fd = fd;
  session->ssl = SSL_new(context);
  BIO* bio = BIO_new(method);
  if (!session->ssl || !bio) {
    BIO_free(bio);
    SSL_free(session->ssl);
    delete session;
    ReleaseThreadState();
    *reason = "TLS library failed";
    return kTlsFailed;
  }
  BIO_set_fd(bio, fd, BIO_NOCLOSE);
  SSL_set_bio(session->ssl, bio, bio);
  Address numeric;
  bool named = false;
  if (ParseNumeric(host, &numeric)) {
    named = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(session->ssl), host.c_str()) == 1;
  } else {
    named = SSL_set_tlsext_host_name(session->ssl, host.c_str()) == 1 &&
            SSL_set1_host(session->ssl, host.c_str()) == 1;
  }
  if (!named) {
    SSL_free(session->ssl);
    delete session;
    ReleaseThreadState();
    *reason = "wrong host name";
    return kTlsCertificate;
  }
  const std::uint32_t start = clock_seam::TickCount();
  for (;;) {
    ERR_clear_error();
    int r = SSL_connect(session->ssl);
    if (r == 1) break;
    int error = SSL_get_error(session->ssl, r);
    int result = 0;
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
      int ready = WaitFor(fd, error, start, timeout_ms);
      if (ready > 0) continue;
      result = ready == 0 ? kTimedOut : -ready;
    } else {
      long verified = SSL_get_verify_result(session->ssl);
      if (verified != X509_V_OK) {
        *reason = CertificateReason(verified);
        result = kTlsCertificate;
      } else {
        unsigned long detail = ERR_peek_error();
        const char* text = detail ? ERR_reason_error_string(detail) : nullptr;
        *reason = text ? text : "connection closed";
        result = kTlsFailed;
      }
    }
    ERR_clear_error();
    SSL_free(session->ssl);
    delete session;
    ReleaseThreadState();
    return result;
  }
  *out = session;
  return 0;
}

int SendAll(TlsSession* session, const void* data, std::size_t length, int timeout_ms) {
  const char* next = static_cast<const char*>(data);
  while (length > 0) {
    const int chunk = length > INT_MAX ? INT_MAX : static_cast<int>(length);
    ERR_clear_error();
    int sent = SSL_write(session->ssl, next, chunk);
    if (sent > 0) {
      next += sent;
      length -= static_cast<std::size_t>(sent);
      continue;
    }
    int error = SSL_get_error(session->ssl, sent);
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
      return StreamError(session, error);
    }
    // Each wait restarts the clock: the time-out bounds a stall.
    int ready = WaitFor(session->fd, error, clock_seam::TickCount(), timeout_ms);
    if (ready == 0) return kTimedOut;
    if (ready < 0) return -ready;
  }
  return 0;
}

long Receive(TlsSession* session, void* buffer, std::size_t capacity, int timeout_ms, int* error) {
  *error = 0;
  const int size = capacity > INT_MAX ? INT_MAX : static_cast<int>(capacity);
  const std::uint32_t start = clock_seam::TickCount();
  for (;;) {
    ERR_clear_error();
    errno = 0;  // read by ClosedWithoutNotify
    int got = SSL_read(session->ssl, buffer, size);
    if (got > 0) return got;
    int ssl_error = SSL_get_error(session->ssl, got);
    if (ssl_error == SSL_ERROR_ZERO_RETURN) {
      return 0;
    }
    if (ClosedWithoutNotify(ssl_error)) {
      // Only close notify ends a TLS stream cleanly; a bare close of the
      // connection may have cut the body anywhere.
      session->intact = false;
      ERR_clear_error();
      *error = kTlsCutShort;
      return -1;
    }
    if (ssl_error != SSL_ERROR_WANT_READ && ssl_error != SSL_ERROR_WANT_WRITE) {
      *error = StreamError(session, ssl_error);
      return -1;
    }
    int ready = WaitFor(session->fd, ssl_error, start, timeout_ms);
    if (ready == 0) {
      *error = kTimedOut;
      return -1;
    }
    if (ready < 0) {
      *error = -ready;
      return -1;
    }
  }
}

bool HasPending(TlsSession* session) { return SSL_pending(session->ssl) > 0; }

void End(TlsSession* session) {
  // One close notify, without waiting for the peer's answer.
  if (session->intact) SSL_shutdown(session->ssl);
  ERR_clear_error();
  SSL_free(session->ssl);
  delete session;
  ReleaseThreadState();
}

}  // namespace tls
}  // namespace net
