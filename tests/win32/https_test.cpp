// https entries received from the main window, over the Schannel body of the
// socket seam. Peers that speak no TLS are served here on loopback; the
// HttpsServed cases need tests/servers/https_win32.sh, which starts nginx
// with a test authority and names them in the environment:
//   PARCELO_HTTPS_CA        the test authority's certificate (PEM), which the
//                           test trusts for its own run only
//   PARCELO_HTTPS_WWW       nginx's document root
//   PARCELO_HTTPS_GOOD      port whose certificate names localhost and 127.0.0.1
//   PARCELO_HTTPS_OTHER     port whose certificate names another host
//   PARCELO_HTTPS_OLD       port whose certificate expired
//   PARCELO_HTTPS_FUTURE    port whose certificate is not valid yet
//   PARCELO_HTTPS_STRANGER  port whose certificate comes from an unknown authority
//   PARCELO_HTTPS_LEGACY    port that speaks no TLS above 1.1
//   PARCELO_HTTPS_PEER      port of a peer that answers one request with
//                           files/small.bin and keeps the connection (the
//                           script checks that it was ended with close notify)
//   PARCELO_HTTPS_MUTE      port of a peer that never answers its request
#include <windows.h>
#include <wincrypt.h>
#include <winsock.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/jobs.h"
#include "engine/timeouts.h"
#include "harness.h"
#include "resources/parcelo32_ids.h"

using harness::ListCell;
using harness::ReadFile;

namespace {

class Https : public harness::WindowTest {
 protected:
  // Receives (or with send, sends) the one entry local <-> link from the
  // main window and gives the status its row ends with (waiting at most
  // about a minute).
  std::string Run(const std::string& local, const std::string& link, bool send = false) {
    LoadTask({{local, link}}, send);
    Command(send ? IDM_SEND : IDM_RECEIVE);
    WaitForJobs();
    return ListCell(Kids().task_list, 0, 2);
  }
};

// A peer that is no TLS server ends the attempt saying so, leaves the partial
// file as it was and logs nothing; one that says nothing holds it no longer
// than the data time-out.
TEST_F(Https, APeerThatSpeaksNoTlsFailsTheAttemptAndLeavesTheFile) {
  const struct { const char* label; std::string reply, status; } cases[] = {
      {"plain HTTP", "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello", "Secure connection failed: not a TLS answer"},
      {"closes at once", "", "Secure connection failed: connection closed"},
      {"silent", harness::kHoldMark, "Secure connection failed: timed out"},
  };
  timeouts::Set(5000, 5000, 1500);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Open();
    harness::LoopbackServer server(1, c.reply);
    harness::WriteFile(dir.File("part.bin"), "partial");
    EXPECT_EQ(c.status, Run("part.bin", server.Link("/part.bin", "https")));
    EXPECT_EQ("partial", ReadFile(dir.File("part.bin")));
    EXPECT_EQ("", ReadFile(dir.File("logr.txt")));
    Close();
  }
  timeouts::RestoreDefaults();
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// The test authority among the current user's trusted roots while alive.
class TrustedRoot {
 public:
  explicit TrustedRoot(const std::string& pem_path) {
    const std::string pem = ReadFile(pem_path);
    std::string der(pem.size(), '\0');  // the binary is shorter than its base64
    DWORD size = static_cast<DWORD>(der.size());
    if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                              reinterpret_cast<BYTE*>(&der[0]), &size, nullptr, nullptr)) {
      return;
    }
    store_ = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "Root");
    if (!store_) return;
    CertAddEncodedCertificateToStore(store_, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), size,
                                     CERT_STORE_ADD_REPLACE_EXISTING, &added_);
  }
  ~TrustedRoot() {
    if (added_) CertDeleteCertificateFromStore(added_);  // frees the context too
    if (store_) CertCloseStore(store_, 0);
  }
  bool ok() const { return added_ != nullptr; }

 private:
  HCERTSTORE store_ = nullptr;
  PCCERT_CONTEXT added_ = nullptr;
};

// The tests that need the servers of tests/servers/https_win32.sh, with their
// test authority trusted.
class HttpsServed : public Https {
 protected:
  void SetUp() override {
    if (www.empty()) GTEST_SKIP() << "needs nginx: tests/servers/https_win32.sh";
    ASSERT_TRUE(root.ok()) << "the test authority could not be trusted: " << GetLastError();
  }
  const std::string www = Env("PARCELO_HTTPS_WWW");
  TrustedRoot root{Env("PARCELO_HTTPS_CA")};
};

// Downloads, a resume and an upload as over plain HTTP (what the HTTP code
// does with them is the native tests'); refused certificates end with the reason and never touch the partial
// file or make one.
TEST_F(HttpsServed, NginxWithTheTestAuthority) {
  const std::string big = ReadFile(www + "\\files\\big.bin");
  ASSERT_GT(big.size(), 1000000u);
  // A resumed transfer keeps the 16 zero bytes the partial file starts with;
  // one that started over would not.
  const std::string zeros(16, '\0');
  const std::string partial = zeros + big.substr(16, 1234567 - 16);
  const std::string resumed = zeros + big.substr(16);
  // The port named PARCELO_HTTPS_<port>, as host, for path.
  const auto link = [](const char* port, const char* host = "localhost", const char* path = "/files/big.bin") {
    return std::string("https://") + host + ":" + Env((std::string("PARCELO_HTTPS_") + port).c_str()) + path;
  };

  // An upload of many records, each byte telling its place.
  std::string upload(1500000, '\0');
  for (std::size_t i = 0; i < upload.size(); ++i) upload[i] = static_cast<char>(i * 7 + i / 251);

  struct Case {
    const char* label;
    std::string link;
    std::string before;  // the local file beforehand; "-" for none
    std::string status;
    std::string after;   // the local file afterwards; "-" for none
    const char* sent_to = nullptr;  // for an upload, the server's copy under www
    int wait_ms = 0;  // when set, the reply and data time-outs
  };
  const std::string unknown = "Certificate error: unknown authority", wrong = "Certificate error: wrong host name";
  const Case cases[] = {
      {"download", link("GOOD"), "-", "Done", big},
      {"resume", link("GOOD"), partial, "Done", resumed},
      {"PUT", link("GOOD", "localhost", "/upload/tls/up.bin"), upload, "Done", upload, "\\upload\\tls\\up.bin"},
      {"unknown authority", link("STRANGER"), partial, unknown, partial},
      {"unknown authority, no file", link("STRANGER"), "-", unknown, "-"},
      {"wrong host name", link("OTHER"), partial, wrong, partial},
      {"wrong address", link("OTHER", "127.0.0.1"), partial, wrong, partial},
      {"TLS 1.1 at most", link("LEGACY"), partial, "Secure connection failed: handshake failed", partial},
      {"silent after the handshake", link("MUTE"), partial, "Failed", partial, nullptr, 1500},
      {"expired", link("OLD"), partial, "Certificate error: certificate expired", partial},
      {"not yet valid", link("FUTURE"), partial, "Certificate error: certificate not yet valid", partial},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Open();
    const std::string local = dir.File("got.bin");
    if (c.before != "-") harness::WriteFile(local, c.before);
    if (c.wait_ms) timeouts::Set(timeouts::kDefaultConnectMs, c.wait_ms, c.wait_ms);
    EXPECT_EQ(c.status, Run("got.bin", c.link, c.sent_to != nullptr));
    timeouts::RestoreDefaults();
    const std::string after = harness::Exists(local) ? ReadFile(local) : "-";
    EXPECT_TRUE(after == c.after) << after.size() << " bytes, not " << c.after.size();
    const std::string copy = c.sent_to ? ReadFile(www + c.sent_to) : c.before;
    EXPECT_TRUE(copy == c.before) << copy.size() << " bytes on the server";
    Close();
    DeleteFileA(local.c_str());
  }
}

// The stream below the HTTP code: a record read in small pieces keeps the
// rest for the next read, and the socket says it can be read while decrypted
// bytes wait even when nothing more is on the wire (the peer keeps the
// connection open after its answer).
TEST_F(HttpsServed, StreamHandsOutARecordInPiecesAndEndsWithCloseNotify) {
  const std::string small = ReadFile(www + "\\files\\small.bin");
  ASSERT_FALSE(small.empty());
  ASSERT_TRUE(net::Startup());
  {
    net::Address loopback;
    net::ParseNumeric("127.0.0.1", &loopback);
    net::Socket stream;
    ASSERT_FALSE(stream.Open() || stream.Connect(loopback, std::atoi(Env("PARCELO_HTTPS_PEER").c_str()), 5000));
    std::string reason;
    ASSERT_EQ(0, stream.StartTls("localhost", 5000, &reason)) << reason;
    const std::string request = "GET /files/small.bin HTTP/1.1\r\nHost: localhost\r\n\r\n";
    ASSERT_EQ(0, stream.SendAll(request.data(), request.size(), 5000));
    std::string answer;
    char piece[100];
    int error = 0;
    long got = stream.Receive(piece, sizeof piece, 5000, &error);
    ASSERT_EQ(static_cast<long>(sizeof piece), got) << error;
    answer.append(piece, sizeof piece);
    // The answer's header alone is longer than one piece.
    EXPECT_EQ(1, stream.WaitReadable(0));
    std::size_t body = std::string::npos;
    for (int i = 0; i < 1000; ++i) {
      body = answer.find("\r\n\r\n");
      if (body != std::string::npos && answer.size() - body - 4 >= small.size()) break;
      got = stream.Receive(piece, sizeof piece, 5000, &error);
      if (got <= 0) break;
      answer.append(piece, static_cast<std::size_t>(got));
    }
    ASSERT_NE(std::string::npos, body) << answer.substr(0, 200);
    EXPECT_TRUE(answer.substr(body + 4) == small) << answer.size() - body - 4 << " bytes of the body";
    stream.Close();
  }
  net::Cleanup();
}

}  // namespace
