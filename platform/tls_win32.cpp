// Schannel through SSPI. The handshake, record protection and close notify
// are the system's; the certificate is checked here after the handshake
// (manual validation) so that every refusal can say why in the same words as
// the OpenSSL body.
#include <winsock.h>
#include <windows.h>
#include <wincrypt.h>
#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>
#include <sspi.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/clock.h"
#include "platform/socket.h"
#include "platform/tls.h"

namespace net {

struct TlsSession {
  SOCKET socket = INVALID_SOCKET;
  CredHandle credentials{};
  CtxtHandle context{};
  bool has_context = false;
  SecPkgContext_StreamSizes sizes{};
  // Bytes received from the socket and not yet decrypted: the start of the
  // next record (or more than one).
  std::vector<char> incoming;
  std::size_t incoming_used = 0;
  // Decrypted bytes not yet handed to the reader.
  std::vector<char> plain;
  std::size_t plain_read = 0;
  // False once the stream failed or the peer ended it: no close notify then.
  bool intact = true;
};

namespace tls {
namespace {

// A TLS record is at most 2^14 plaintext bytes plus 2048 of expansion and its
// 5-byte header; a handshake that needs more buffered bytes than a few
// records is refused rather than grown without bound.
constexpr std::size_t kRecordLimit = 5 + 16384 + 2048;
constexpr std::size_t kIncomingLimit = 4 * kRecordLimit;
constexpr int kIdleRounds = 16;

const DWORD kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                            ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_MANUAL_CRED_VALIDATION;

// select on the socket for reading or writing. 1 ready, 0 at the time-out,
// minus an error number otherwise.
int WaitFor(SOCKET s, bool write, int timeout_ms) {
  fd_set ready;
  FD_ZERO(&ready);
  FD_SET(s, &ready);
  timeval limit;
  limit.tv_sec = timeout_ms / 1000;
  limit.tv_usec = (timeout_ms % 1000) * 1000;
  int n = select(0, write ? nullptr : &ready, write ? &ready : nullptr, nullptr, &limit);
  if (n == SOCKET_ERROR) return -WSAGetLastError();
  return n;
}

// A blocking send may wait for buffer space in the middle of a record; the
// send time-out bounds that wait as the select bounds the one before it.
void LimitSends(SOCKET s, int timeout_ms) {
  DWORD limit = static_cast<DWORD>(timeout_ms);
  setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
}

// Sends every byte; each stall may last timeout_ms. 0 or an error number.
int SendRaw(SOCKET s, const char* data, std::size_t length, int timeout_ms) {
  while (length > 0) {
    int ready = WaitFor(s, true, timeout_ms);
    if (ready == 0) return kTimedOut;
    if (ready < 0) return -ready;
    int chunk = length > 0x40000000u ? 0x40000000 : static_cast<int>(length);
    int sent = send(s, data, chunk, 0);
    if (sent == SOCKET_ERROR) {
      int error = WSAGetLastError();
      if (error == WSAEWOULDBLOCK || error == WSAEINTR) continue;
      return error;
    }
    data += sent;
    length -= static_cast<std::size_t>(sent);
  }
  return 0;
}

// Appends what has arrived to the session's incoming bytes, waiting until
// timeout_ms after start. Returns the count (> 0), 0 when the peer closed the
// stream, or minus an error number (kTimedOut included).
long ReceiveRaw(TlsSession* session, std::uint32_t start, int timeout_ms) {
  if (session->incoming_used == session->incoming.size()) {
    if (session->incoming.size() >= kIncomingLimit) return -kNoBufferSpace;
    session->incoming.resize(session->incoming.size() + kRecordLimit);
  }
  for (;;) {
    u_long waiting = 0;
    int ready = ioctlsocket(session->socket, FIONREAD, &waiting) == 0 && waiting > 0
                    ? 1
                    : WaitFor(session->socket, false, clock_seam::MillisecondsLeft(start, timeout_ms));
    if (ready == 0) return -kTimedOut;
    if (ready < 0) return ready;
    const std::size_t room = session->incoming.size() - session->incoming_used;
    int n = recv(session->socket, session->incoming.data() + session->incoming_used, static_cast<int>(room), 0);
    if (n != SOCKET_ERROR) {
      session->incoming_used += static_cast<std::size_t>(n);
      return n;
    }
    int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK || error == WSAEINTR) continue;
    return -error;
  }
}

// Keeps the last `extra` incoming bytes (those the last call did not use) at
// the front of the buffer.
void KeepExtra(TlsSession* session, unsigned long extra) {
  if (extra > session->incoming_used) extra = static_cast<unsigned long>(session->incoming_used);
  std::memmove(session->incoming.data(), session->incoming.data() + session->incoming_used - extra, extra);
  session->incoming_used = extra;
}

std::string HexCode(const char* text, SECURITY_STATUS status) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%s 0x%08lX", text, static_cast<unsigned long>(status));
  return buffer;
}

std::string HandshakeReason(SECURITY_STATUS status) {
  switch (status) {
    case SEC_E_ALGORITHM_MISMATCH:
      return "no common protocol or cipher";
    case SEC_E_UNSUPPORTED_FUNCTION:
      return "unsupported protocol";
    case SEC_E_ILLEGAL_MESSAGE:
    case SEC_E_INVALID_TOKEN:
      return "not a TLS answer";
    case SEC_E_MESSAGE_ALTERED:
    case SEC_E_DECRYPT_FAILURE:
      return "damaged record";
    case SEC_E_INTERNAL_ERROR:
      // Wine's package gives this for any failure of its library, a server
      // that offers nothing above TLS 1.1 among them.
      return "handshake failed";
    default:
      return HexCode("error", status);
  }
}

// Sends a token the package made and frees it. 0 or an error number.
int SendToken(TlsSession* session, SecBuffer* token, int timeout_ms) {
  int result = 0;
  if (token->pvBuffer && token->cbBuffer > 0) {
    result = SendRaw(session->socket, static_cast<const char*>(token->pvBuffer), token->cbBuffer, timeout_ms);
  }
  if (token->pvBuffer) FreeContextBuffer(token->pvBuffer);
  token->pvBuffer = nullptr;
  token->cbBuffer = 0;
  return result;
}

// Credentials for a client that offers no certificate of its own and checks
// the server's itself. TLS 1.3 where the package takes it, else 1.2 alone.
SECURITY_STATUS AcquireCredentials(CredHandle* credentials) {
  const DWORD protocols[] = {SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT, SP_PROT_TLS1_2_CLIENT};
  SECURITY_STATUS status = SEC_E_INTERNAL_ERROR;
  for (DWORD enabled : protocols) {
    SCHANNEL_CRED settings;
    std::memset(&settings, 0, sizeof settings);
    settings.dwVersion = SCHANNEL_CRED_VERSION;
    settings.grbitEnabledProtocols = enabled;
    settings.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    TimeStamp expiry;
    status = AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND, nullptr,
                                       &settings, nullptr, nullptr, credentials, &expiry);
    if (status == SEC_E_OK) return status;
  }
  return status;
}

// False when the incoming bytes cannot start a TLS record (content type 20
// to 24, major version 3), as when a plain HTTP server answers: the package
// would take its first bytes for a record length and wait for the rest.
bool LooksLikeRecord(const TlsSession* session) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(session->incoming.data());
  if (session->incoming_used >= 1 && (bytes[0] < 20 || bytes[0] > 24)) return false;
  return session->incoming_used < 2 || bytes[1] == 3;
}

// Hands the bytes waiting in the session to the package. *token receives
// what goes to the peer; *extra the count of bytes after the message the
// package took, which belong to the next one.
SECURITY_STATUS ContinueContext(TlsSession* session, const char* target, SecBuffer* token,
                                unsigned long* extra) {
  SecBuffer in[2] = {{static_cast<unsigned long>(session->incoming_used), SECBUFFER_TOKEN, session->incoming.data()},
                     {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc in_desc{SECBUFFER_VERSION, 2, in};
  *token = SecBuffer{0, SECBUFFER_TOKEN, nullptr};
  SecBufferDesc out_desc{SECBUFFER_VERSION, 1, token};
  unsigned long attributes = 0;
  const SECURITY_STATUS status =
      InitializeSecurityContextA(&session->credentials, &session->context, const_cast<char*>(target), kContextFlags,
                                 0, 0, &in_desc, 0, nullptr, &out_desc, &attributes, nullptr);
  *extra = in[1].BufferType == SECBUFFER_EXTRA ? in[1].cbBuffer : 0;
  return status;
}

// The handshake after the first token went out. 0 or an error number,
// kTlsFailed with *reason.
int Handshake(TlsSession* session, const std::string& host, std::uint32_t start, int timeout_ms,
              std::string* reason) {
  bool need_more = true;
  // Rounds that read are bounded by the time-out; the others by a count, as
  // a sane peer needs few of them.
  for (int idle = 0; idle < kIdleRounds;) {
    if (!need_more) {
      ++idle;
    } else {
      long got = ReceiveRaw(session, start, timeout_ms);
      if (got == 0) {
        *reason = "connection closed";
        return kTlsFailed;
      }
      if (got < 0) return static_cast<int>(-got);
      if (!LooksLikeRecord(session)) {
        *reason = "not a TLS answer";
        return kTlsFailed;
      }
    }
    SecBuffer out;
    unsigned long extra = 0;
    const SECURITY_STATUS status = ContinueContext(session, host.c_str(), &out, &extra);
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
      need_more = true;
      continue;
    }
    // A failure may still carry an alert for the peer.
    int sent = SendToken(session, &out, clock_seam::MillisecondsLeft(start, timeout_ms));
    if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED && status != SEC_I_INCOMPLETE_CREDENTIALS) {
      *reason = HandshakeReason(status);
      return kTlsFailed;
    }
    if (sent != 0) return sent;
    if (extra != 0) {
      KeepExtra(session, extra);
    } else if (status != SEC_I_INCOMPLETE_CREDENTIALS) {
      session->incoming_used = 0;
    }
    if (status == SEC_E_OK) return 0;
    // Extra bytes go in before new ones are read. Asked for a client
    // certificate (incomplete credentials), the package takes the same bytes
    // again and goes on without one.
    need_more = status == SEC_I_CONTINUE_NEEDED && session->incoming_used == 0;
  }
  *reason = "handshake too long";
  return kTlsFailed;
}

std::wstring Wide(const std::string& text) {
  int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  std::wstring wide(n > 0 ? static_cast<std::size_t>(n) : 1u, L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], n);
  return wide;
}

// The chain policy gives one code for both ends of the validity period.
bool NotYetValid(PCCERT_CONTEXT certificate) {
  SYSTEMTIME now_parts;
  FILETIME now;
  GetSystemTime(&now_parts);
  SystemTimeToFileTime(&now_parts, &now);
  return CompareFileTime(&now, &certificate->pCertInfo->NotBefore) < 0;
}

std::string CertificateReason(DWORD error, PCCERT_CONTEXT certificate) {
  switch (error) {
    case static_cast<DWORD>(CERT_E_EXPIRED):
      return NotYetValid(certificate) ? "certificate not yet valid" : "certificate expired";
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
      return "wrong host name";
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    case static_cast<DWORD>(CERT_E_UNTRUSTEDTESTROOT):
    case static_cast<DWORD>(CERT_E_CHAINING):
    case static_cast<DWORD>(TRUST_E_CERT_SIGNATURE):
      return "unknown authority";
    case static_cast<DWORD>(CERT_E_REVOKED):
      return "certificate revoked";
    case static_cast<DWORD>(CERT_E_WRONG_USAGE):
      return "not a server certificate";
    default:
      return HexCode("not accepted,", static_cast<SECURITY_STATUS>(error));
  }
}

// True when the certificate names address among its alternative names.
bool NamesAddress(PCCERT_CONTEXT certificate, const Address& address) {
  const CERT_INFO* info = certificate->pCertInfo;
  PCERT_EXTENSION extension = CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
  if (!extension) return false;
  CERT_ALT_NAME_INFO* names = nullptr;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                           extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size)) {
    return false;
  }
  bool found = false;
  for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
    const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
    const DWORD length = address.v6 ? 16 : 4;
    found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == length &&
            std::memcmp(entry.IPAddress.pbData, address.bytes, length) == 0;
  }
  LocalFree(names);
  return found;
}

// Checks the server's chain against the trusted roots and its certificate
// against host. Returns 0, or kTlsCertificate with *reason.
int VerifyServer(TlsSession* session, const std::string& host, std::string* reason) {
  PCCERT_CONTEXT certificate = nullptr;
  if (QueryContextAttributesA(&session->context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) != SEC_E_OK ||
      !certificate) {
    *reason = "no certificate";
    return kTlsCertificate;
  }
  char server_auth[] = szOID_PKIX_KP_SERVER_AUTH;
  char* usages[] = {server_auth};
  CERT_CHAIN_PARA chain_para;
  std::memset(&chain_para, 0, sizeof chain_para);
  chain_para.cbSize = sizeof chain_para;
  chain_para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  chain_para.RequestedUsage.Usage.cUsageIdentifier = 1;
  chain_para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  int result = 0;
  if (!CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &chain_para, 0, nullptr,
                               &chain)) {
    *reason = HexCode("no chain,", static_cast<SECURITY_STATUS>(GetLastError()));
    result = kTlsCertificate;
  } else {
    // Not every chain policy matches a dotted address with the addresses a
    // certificate names, so the policy checks the chain alone for one and
    // the address is matched here.
    Address address;
    const bool dotted = ParseNumeric(host, &address);
    std::wstring name = Wide(host);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl;
    std::memset(&ssl, 0, sizeof ssl);
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = dotted ? nullptr : &name[0];
    CERT_CHAIN_POLICY_PARA policy;
    std::memset(&policy, 0, sizeof policy);
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status;
    std::memset(&status, 0, sizeof status);
    status.cbSize = sizeof status;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)) {
      *reason = HexCode("no policy,", static_cast<SECURITY_STATUS>(GetLastError()));
      result = kTlsCertificate;
    } else if (status.dwError != 0) {
      *reason = CertificateReason(status.dwError, certificate);
      result = kTlsCertificate;
    } else if (dotted && !NamesAddress(certificate, address)) {
      *reason = "wrong host name";
      result = kTlsCertificate;
    }
    CertFreeCertificateChain(chain);
  }
  CertFreeCertificateContext(certificate);
  return result;
}

// Refuses a session below TLS 1.2 even where the package ignored the
// protocols the credentials asked for.
int CheckProtocol(TlsSession* session, std::string* reason) {
  SecPkgContext_ConnectionInfo info;
  std::memset(&info, 0, sizeof info);
  if (QueryContextAttributesA(&session->context, SECPKG_ATTR_CONNECTION_INFO, &info) != SEC_E_OK) {
    *reason = "no connection information";
    return kTlsFailed;
  }
  if ((info.dwProtocol & (SP_PROT_TLS1_2 | SP_PROT_TLS1_3)) == 0) {
    *reason = "unsupported protocol";
    return kTlsFailed;
  }
  return 0;
}

void Free(TlsSession* session) {
  if (session->has_context) DeleteSecurityContext(&session->context);
  FreeCredentialsHandle(&session->credentials);
  delete session;
}

// True when the incoming bytes hold at least one whole record.
bool HasWholeRecord(const TlsSession* session) {
  if (session->incoming_used < 5) return false;
  const unsigned char* header = reinterpret_cast<const unsigned char*>(session->incoming.data());
  const std::size_t length = (static_cast<std::size_t>(header[3]) << 8) | header[4];
  return session->incoming_used >= 5 + length;
}

// Hands out decrypted bytes that wait; 0 when none do.
long TakePlain(TlsSession* session, void* buffer, std::size_t capacity) {
  const std::size_t left = session->plain.size() - session->plain_read;
  const std::size_t n = left < capacity ? left : capacity;
  if (n == 0) return 0;
  std::memcpy(buffer, session->plain.data() + session->plain_read, n);
  session->plain_read += n;
  if (session->plain_read == session->plain.size()) {
    session->plain.clear();
    session->plain_read = 0;
  }
  return static_cast<long>(n);
}

// Answers a message of the peer after the handshake (a new session ticket or
// a renegotiation) with the bytes that came after it. 0 or an error number.
int Renegotiate(TlsSession* session, int timeout_ms) {
  SecBuffer out;
  unsigned long extra = 0;
  const SECURITY_STATUS status = ContinueContext(session, nullptr, &out, &extra);
  int sent = SendToken(session, &out, timeout_ms);
  if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) return kConnectionAborted;
  KeepExtra(session, extra);
  return sent;
}

}  // namespace

int Start(std::intptr_t handle, const std::string& host, int timeout_ms, TlsSession** out, std::string* reason) {
  TlsSession* session = new TlsSession;
  session->socket = static_cast<SOCKET>(handle);
  SECURITY_STATUS status = AcquireCredentials(&session->credentials);
  if (status != SEC_E_OK) {
    delete session;
    *reason = HandshakeReason(status);
    return kTlsFailed;
  }
  const std::uint32_t start = clock_seam::TickCount();
  // The target name is sent as the server name (SNI).
  SecBuffer first{0, SECBUFFER_TOKEN, nullptr};
  SecBufferDesc first_desc{SECBUFFER_VERSION, 1, &first};
  unsigned long attributes = 0;
  status = InitializeSecurityContextA(&session->credentials, nullptr, const_cast<char*>(host.c_str()),
                                      kContextFlags, 0, 0, nullptr, 0, &session->context, &first_desc,
                                      &attributes, nullptr);
  if (status != SEC_I_CONTINUE_NEEDED) {
    if (first.pvBuffer) FreeContextBuffer(first.pvBuffer);
    FreeCredentialsHandle(&session->credentials);
    delete session;
    *reason = HandshakeReason(status);
    return kTlsFailed;
  }
  session->has_context = true;
  LimitSends(session->socket, timeout_ms);
  int result = SendToken(session, &first, timeout_ms);
  if (result == 0) result = Handshake(session, host, start, timeout_ms, reason);
  if (result == 0) result = CheckProtocol(session, reason);
  if (result == 0) result = VerifyServer(session, host, reason);
  if (result == 0 &&
      QueryContextAttributesA(&session->context, SECPKG_ATTR_STREAM_SIZES, &session->sizes) != SEC_E_OK) {
    *reason = "no record sizes";
    result = kTlsFailed;
  }
  if (result != 0) {
    Free(session);
    return result;
  }
  *out = session;
  return 0;
}

int SendAll(TlsSession* session, const void* data, std::size_t length, int timeout_ms) {
  const SecPkgContext_StreamSizes& sizes = session->sizes;
  std::vector<char> record(sizes.cbHeader + sizes.cbMaximumMessage + sizes.cbTrailer);
  LimitSends(session->socket, timeout_ms);
  const char* next = static_cast<const char*>(data);
  while (length > 0) {
    const std::size_t chunk = length < sizes.cbMaximumMessage ? length : sizes.cbMaximumMessage;
    std::memcpy(record.data() + sizes.cbHeader, next, chunk);
    SecBuffer parts[4];
    parts[0] = {sizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()};
    parts[1] = {static_cast<unsigned long>(chunk), SECBUFFER_DATA, record.data() + sizes.cbHeader};
    parts[2] = {sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes.cbHeader + chunk};
    parts[3] = {0, SECBUFFER_EMPTY, nullptr};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, parts};
    if (EncryptMessage(&session->context, 0, &desc, 0) != SEC_E_OK) {
      session->intact = false;
      return kConnectionAborted;
    }
    // The trailer may come out shorter than the room left for it.
    const std::size_t total = parts[0].cbBuffer + parts[1].cbBuffer + parts[2].cbBuffer;
    int result = SendRaw(session->socket, record.data(), total, timeout_ms);
    if (result != 0) {
      session->intact = false;
      return result;
    }
    next += chunk;
    length -= chunk;
  }
  return 0;
}

long Receive(TlsSession* session, void* buffer, std::size_t capacity, int timeout_ms, int* error) {
  *error = 0;
  if (capacity == 0) return 0;
  long taken = TakePlain(session, buffer, capacity);
  if (taken > 0) return taken;
  const std::uint32_t start = clock_seam::TickCount();
  for (;;) {
    if (session->incoming_used > 0) {
      SecBuffer parts[4];
      parts[0] = {static_cast<unsigned long>(session->incoming_used), SECBUFFER_DATA, session->incoming.data()};
      for (int i = 1; i < 4; ++i) parts[i] = {0, SECBUFFER_EMPTY, nullptr};
      SecBufferDesc desc{SECBUFFER_VERSION, 4, parts};
      SECURITY_STATUS status = DecryptMessage(&session->context, &desc, 0, nullptr);
      if (status == SEC_E_OK || status == SEC_I_RENEGOTIATE || status == SEC_I_CONTEXT_EXPIRED) {
        const SecBuffer* data = nullptr;
        const SecBuffer* extra = nullptr;
        for (const SecBuffer& part : parts) {
          if (part.BufferType == SECBUFFER_DATA && !data) data = &part;
          if (part.BufferType == SECBUFFER_EXTRA && !extra) extra = &part;
        }
        // The plaintext lies inside the incoming buffer, which the extra
        // bytes are about to overwrite.
        if (data && data->cbBuffer > 0) {
          const char* bytes = static_cast<const char*>(data->pvBuffer);
          session->plain.assign(bytes, bytes + data->cbBuffer);
          session->plain_read = 0;
        }
        if (extra) {
          KeepExtra(session, extra->cbBuffer);
        } else {
          session->incoming_used = 0;
        }
        if (status == SEC_I_CONTEXT_EXPIRED) {
          // Close notify: the end of the stream.
          return 0;
        }
        if (status == SEC_I_RENEGOTIATE) {
          int result = Renegotiate(session, timeout_ms);
          if (result != 0) {
            session->intact = false;
            *error = result;
            return -1;
          }
        }
        taken = TakePlain(session, buffer, capacity);
        if (taken > 0) return taken;
        if (session->incoming_used > 0) continue;
      } else if (status != SEC_E_INCOMPLETE_MESSAGE) {
        session->intact = false;
        *error = kConnectionAborted;
        return -1;
      }
    }
    long got = ReceiveRaw(session, start, timeout_ms);
    if (got == 0) {
      // Only close notify ends a TLS stream cleanly; a bare close of the
      // connection may have cut the body anywhere.
      session->intact = false;
      *error = kTlsCutShort;
      return -1;
    }
    if (got < 0) {
      if (got != -kTimedOut) session->intact = false;
      *error = static_cast<int>(-got);
      return -1;
    }
  }
}

bool HasPending(TlsSession* session) {
  return session->plain.size() > session->plain_read || HasWholeRecord(session);
}

void End(TlsSession* session) {
  if (session->intact) {
    // One close notify, without waiting for the peer's answer.
    DWORD kind = SCHANNEL_SHUTDOWN;
    SecBuffer control{sizeof kind, SECBUFFER_TOKEN, &kind};
    SecBufferDesc control_desc{SECBUFFER_VERSION, 1, &control};
    if (ApplyControlToken(&session->context, &control_desc) == SEC_E_OK) {
      SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
      SecBufferDesc out_desc{SECBUFFER_VERSION, 1, &out};
      unsigned long attributes = 0;
      SECURITY_STATUS status =
          InitializeSecurityContextA(&session->credentials, &session->context, nullptr, kContextFlags, 0, 0,
                                     nullptr, 0, nullptr, &out_desc, &attributes, nullptr);
      if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED) {
        SendToken(session, &out, 0);
      } else if (out.pvBuffer) {
        FreeContextBuffer(out.pvBuffer);
      }
    }
  }
  Free(session);
}

}  // namespace tls
}  // namespace net
