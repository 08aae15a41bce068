// One transfer attempt of one entry, read top-down: the attempt's record
// (Context, AttemptParams, results), RunAttempt, which opens the connection
// (engine/connection.h), logs in to FTP and hands the entry to its protocol
// (engine/ftp.h, engine/http_exchange.h), whose pumps move the file
// (engine/local_file.h); and the two channels through which a transfer talks
// to the user: its row's status text and Stop.
//
// Everything here runs on the entry's worker thread. The only shared state it
// touches is reached through thread-safe seams: the task list port (by the
// row's id), the Stop marks (engine/running.h) and current task path
// (settings/places.h), the live settings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/pieces.h"
#include "platform/tasklist.h"

namespace session {

struct AttemptParams;

// Results of the connection layer and the protocols. Callers above the
// protocols test only the sign.
enum Result : int {
  kSuccess = 0,
  kFailure = -1,          // any failure not named below
  kNoSocket = -2,         // no socket could be created
  kConnectionLost = -16,  // the peer closed the control connection, or it failed
  kNotRetried = -17,      // another attempt would only repeat it: a refused
                          // certificate, no TLS in this build, or a local
                          // file that another transfer is writing
  kLoginRefused = -18,    // the FTP server refused the user name or password
                          // (530): the row says "Failed", the cause "Login
                          // incorrect"
};

// Status of a download whose local file another transfer holds.
extern const char kFileInUse[];

// A positive result that also counts as success: the receive pump followed an
// HTTP redirect.
constexpr int kRedirected = 2;

enum Mode : int { kReceive = 0, kSend = 1 };

// Bytes moved per block by both pumps, and written whole to the local file.
// Measured on loopback, 1 GiB from vsftpd into tmpfs: 1 KiB blocks ran at
// about 190 MB/s, 64 KiB blocks at 700-1000 MB/s (as fast as curl in the same
// run); 256 KiB and 1 MiB blocks were no faster beyond the noise and cost more
// memory in each of many workers.
constexpr std::size_t kBlockSize = 64 * 1024;

// Progress reports of one transfer are at least this far apart (the last one
// is always made), so a large transfer does not flood the user interface.
constexpr std::uint32_t kReportIntervalMs = 250;

// Context::body_end of a body that runs until the peer closes.
constexpr std::uint64_t kNoBodyEnd = UINT64_MAX;

// The per-attempt record of one transfer. The worker keeps one for all the
// attempts of its entry; what an attempt leaves (the resume flag) is seen by
// the next one.
struct Context {
  std::string task_path;  // task file of the entry; list updates only while it is current
  // The entry's row. Every list access goes by it: the row's index changes
  // when rows above it are deleted, and a row that is gone (deleted, or its
  // task reloaded) gets nothing.
  tasklist::RowId row_id = tasklist::kNoRow;
  int start_row = 0;        // index of the row when the worker started
  std::string start_line;   // the entry's task line as the worker started it
  int mode = kReceive;
  std::string host_name;  // host of the URL as parsed (the HTTP Host header)
  // The attempt talks to a proxy (Firewall was 1 when it began); every step
  // of the attempt goes by this one reading, whatever a commit changes meanwhile.
  bool via_proxy = false;
  // The entry as its worker started it: the log line names these, since the
  // row may show another task's entry by the time the transfer completes.
  std::string entry_local_file;
  std::string entry_url;  // display form (password masked), as the URL column shows it

  // Data buffer of both pumps (kBlockSize bytes once a pump has run). An HTTP
  // header reader leaves body bytes that came with the header at its start.
  std::vector<char> data;
  std::size_t header_leftover = 0;

  std::string reply_text;         // text of the last FTP reply
  std::uint32_t start_tick = 0;   // tick count when the data phase began
  std::uint64_t bytes_done = 0;   // bytes in the local file (receive) or sent (send)
  std::uint64_t total_size = 0;   // expected size; 0 when unknown
  std::uint64_t header_size = 0;  // size of the HTTP header scratch file
  std::uint64_t resume_start = 0; // bytes already in the local file when this attempt began
  bool resume = false;            // this attempt continues a partial local file
  // HTTP: the file offset at which the answer's declared body ends; bytes the
  // peer sends beyond it are not the file's. kNoBodyEnd: until the peer closes.
  std::uint64_t body_end = kNoBodyEnd;

  // Bytes of the control connection read ahead of the current reply.
  std::vector<char> control_input;
  std::size_t control_begin = 0;
  std::size_t control_end = 0;

  std::uint32_t last_report_tick = 0;
  bool reported = false;  // a progress report was made in this data phase
  // An upload whose bytes are all handed over but not yet confirmed by the
  // server: its progress stops short of 100 %.
  bool unconfirmed = false;

  // Why the attempt ended as it did, in the user's words ("404 Not Found",
  // "Login incorrect"), or a note on one that succeeded ("Kept local name: x
  // exists"). Cleared as each attempt begins. The status channel keeps it
  // (and the last telling status text, its fallback) through const contexts,
  // hence mutable: both record what the user was told, not transfer state.
  mutable std::string cause;
  mutable std::string last_status;

  // The local file a server named (Content-Disposition) in an attempt of this
  // worker: the entry names it from then on. Empty while none did.
  std::string server_local_file;
  // This attempt sent Proxy-Authorization: a 407 then refused the password.
  bool proxy_authorized = false;
  // A download split over several connections (engine/split_download.h).
  bool quiet = false;          // a helper connection of one: it shows nothing in the row
  bool proxy_chosen = false;   // Firewall was 1 as the attempt began (via_proxy
                               // is cleared once a tunnel is open)
  const AttemptParams* params = nullptr;  // of the running attempt
  std::string request_target;  // HTTP: the target of the attempt's GET
  std::string validator;       // HTTP: the identity of the copy in the answer
  bool accepts_ranges = false; // HTTP: the answer said "Accept-Ranges: bytes";
                               // FTP: SIZE told total_size (REST is tried)
  bool has_control = false;    // the local file's control file was read into control
  pieces::Control control;
};

// The file a download of the context writes: the one its server named, else local_file.
inline const std::string& DownloadTarget(const Context& context, const std::string& local_file) {
  return context.server_local_file.empty() ? local_file : context.server_local_file;
}

// What one attempt needs besides the context (the job's parameters).
struct AttemptParams {
  std::string user;  // of the URL; empty for anonymous FTP
  std::string password;
  std::string host;
  std::string http_proxy_host;  // FirewallAddressHTTP when the job started
  std::string ftp_proxy_host;   // FirewallAddressFTP
  std::uint32_t http_proxy_port = 0;
  std::uint32_t ftp_proxy_port = 0;
  // Credentials for the proxy of the URL's protocol (from its address, else
  // HttpProxyUser and HttpProxyPassword for the HTTP proxy); empty: none.
  std::string proxy_user;
  std::string proxy_password;
  // While Firewall is 0: the environment names the proxy of this link, and
  // the proxy hosts and ports above are the environment's.
  bool environment_proxy = false;
  std::string local_file;
  std::string remote_path;  // from the '/' after the host, percent-decoded
  int protocol = 0;         // url::kFtp or url::kHttp
  std::uint32_t port = 0;
};

// One transfer attempt: chooses the server (the proxy of the URL's protocol
// while Firewall is 1), resolves it ("Resolving address" unless the host is a
// dotted address), connects, logs in to FTP, then downloads (receive mode,
// after "Receiving") or uploads (send mode), and closes every connection.
// Returns >= 0 on success (kRedirected after a followed HTTP redirect),
// kNoSocket when no socket could be made, another negative value on failure.
// The status column of the context's row tells the user what happened, and
// context.cause why: set by the step that failed, else the last status text
// that says more than a bare "Failed".
int RunAttempt(Context& context, const AttemptParams& params);

// Writes text into the status column of the context's row, only while the
// context's task is the one shown; otherwise the text is dropped.
void ShowStatus(const Context& context, const std::string& text);
// Sets the cause of the attempt (see Context::cause).
void SetCause(const Context& context, const std::string& text);
// ShowStatus, then the cause.
void Fail(const Context& context, const std::string& status, const std::string& cause);
// The cause of a proxy's 407: "Proxy needs a password" when the attempt sent
// it none, else "Proxy refused the password".
std::string ProxyRefusal(const Context& context);

// ShowStatus with a printf format of one int argument ("status %d").
void ShowStatusNumber(const Context& context, const char* format, long number);

// True when a Stop was pressed while this transfer ran with its row selected
// (see jobs::StopSelectedTransfer), or its row was deleted. The mark stands
// until the worker ends: a stopped transfer makes no further attempt.
bool StopRequested(const Context& context);

}  // namespace session
