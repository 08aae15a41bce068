#include "engine/session.h"

#include <cstdio>
#include <cstring>

#include "engine/running.h"
#include "settings/places.h"
#include "engine/ftp.h"
#include "engine/http.h"
#include "engine/http_link.h"
#include "engine/progress.h"
#include "engine/text_format.h"
#include "engine/timeouts.h"
#include "engine/translog.h"
#include "tasks/url.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "platform/prompts.h"
#include "platform/tasklist.h"
#include "settings/settings.h"

namespace session {

const char kFileInUse[] = "File in use by another transfer";

namespace {

// Host names longer than this are refused rather than cut.
constexpr std::size_t kHostLimit = 511;
// Bytes of the control connection read in one receive.
constexpr std::size_t kControlReadAhead = 4096;
// A silent data connection is looked at this often, so that Stop is honoured
// while the peer sends nothing.
constexpr int kStopSliceMs = 100;

void EnsureDataBuffer(Context& context) {
  if (context.data.size() < kBlockSize) context.data.resize(kBlockSize);
}

// The server of the attempt: the URL's, or the proxy of its protocol.
void ChooseServer(const AttemptParams& params, bool firewall, std::string* host,
                  std::uint32_t* port) {
  if (!firewall) {
    *host = params.host;
    *port = params.port;
  } else if (params.protocol == url::kHttp || params.protocol == url::kHttps) {
    *host = params.http_proxy_host;
    *port = params.http_proxy_port;
  } else {
    *host = params.ftp_proxy_host;
    *port = params.ftp_proxy_port;
  }
}

// Resolves the server unless it is written as a dotted address. Returns
// kSuccess or kFailure after "Host not found".
int FindServer(const Context& context, const std::string& host, net::Ipv4* address) {
  if (host.size() <= kHostLimit && net::ParseDotted(host, address)) return kSuccess;
  ShowStatus(context, "Resolving address");
  if (host.size() > kHostLimit || net::Resolve(host, address) != 0) {
    ShowStatus(context, "Host not found");
    return kFailure;
  }
  return kSuccess;
}

// Longest CONNECT answer taken from a proxy.
constexpr std::size_t kTunnelAnswerLimit = 8192;

// Asks the HTTP proxy on connection for a tunnel to the entry's server and
// reads its answer up to the blank line, byte by byte so that nothing of the
// server's stream is taken. Returns kSuccess for a 2xx answer, else kFailure
// after telling why.
int OpenTunnel(const Context& context, net::Socket& connection, const AttemptParams& params) {
  const std::string authority = params.host + ":" + std::to_string(params.port);
  const std::string request =
      "CONNECT " + authority + " HTTP/1.0\r\nHost: " + authority + "\r\n\r\n";
  if (connection.SendAll(request.data(), request.size(), timeouts::DataMs()) != 0) {
    ShowStatus(context, "Failed");
    return kFailure;
  }
  std::string answer;
  const std::uint32_t start = clock_seam::TickCount();
  while (answer.size() < 4 || answer.compare(answer.size() - 4, 4, "\r\n\r\n") != 0) {
    char byte = 0;
    int error = 0;
    const int left = clock_seam::MillisecondsLeft(start, timeouts::DataMs());
    if (answer.size() >= kTunnelAnswerLimit || left == 0 ||
        connection.Receive(&byte, 1, left, &error) != 1) {
      ShowStatus(context, "Proxy refused the tunnel");
      return kFailure;
    }
    answer += byte;
  }
  // "HTTP/1.x 200 ..."
  const std::size_t blank = answer.find(' ');
  if (blank == std::string::npos || answer.compare(0, 5, "HTTP/") != 0 || blank + 1 >= answer.size() ||
      answer[blank + 1] != '2') {
    ShowStatus(context, "Proxy refused the tunnel");
    return kFailure;
  }
  return kSuccess;
}

// Makes connection a TLS stream to the entry's host. Returns kSuccess, or a
// failure after telling why; a refused certificate is never tried again.
int SecureConnection(const Context& context, net::Socket& connection, const AttemptParams& params) {
  ShowStatus(context, "Securing connection");
  std::string reason;
  const int result = connection.StartTls(params.host, timeouts::DataMs(), &reason);
  if (result == 0) return kSuccess;
  if (result == net::kTlsCertificate) {
    ShowStatus(context, "Certificate error: " + reason);
    return kNotRetried;
  }
  if (result == net::kTlsNotAvailable) {
    ShowStatus(context, reason);
    return kNotRetried;
  }
  if (result == net::kTlsFailed) {
    ShowStatus(context, "Secure connection failed: " + reason);
  } else if (result == net::kTimedOut) {
    ShowStatus(context, "Secure connection failed: timed out");
  } else {
    ShowStatusNumber(context, "Secure connection failed: error %d", result);
  }
  return kFailure;
}

int Download(Context& context, net::Socket& control, const AttemptParams& params, bool via_http) {
  if (via_http) return http_link::Download(context, control, params);
  return ftp::Download(context, control, params.local_file, params.remote_path);
}

int Upload(Context& context, net::Socket& control, const AttemptParams& params, bool via_http) {
  if (via_http) return http_link::Upload(context, control, params);
  return ftp::Upload(context, control, params.local_file, params.remote_path);
}

// The box explains; the row must not go on saying "Receiving" for an attempt
// that has ended.
void ShowCreateFailed(const Context& context, const fileio::File& file) {
  // The box's advice would mislead: neither directory nor name is at fault.
  if (file.OutOfHandles()) {
    ShowStatus(context, kTooManyOpenFiles);
    return;
  }
  prompts::Message("Failed to create file. Check download directory and file name", "Error",
                   prompts::kOk | prompts::kTaskModal);
  ShowStatus(context, "Failed");
}

// The total size that an FTP server announces in its transfer reply, as in
// "150 Opening BINARY mode data connection for f (1000 bytes)": the number
// between the last '(' and the word BYTES after it.
void TakeSizeFromReply(Context& context) {
  std::string text = context.reply_text;
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  std::size_t open = text.rfind('(');
  if (open == std::string::npos) return;
  if (text.find("BYTES", open) == std::string::npos) return;
  std::size_t i = open + 1;
  while (i < text.size() && text[i] == ' ') ++i;
  std::uint64_t size = 0;
  // Nineteen digits always fit in 64 bits; a longer number is no size.
  for (int digits = 0; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
    if (digits == 19) return;
    size = size * 10 + static_cast<std::uint64_t>(text[i] - '0');
  }
  context.total_size = size;
}

// A ranged request found the local file already whole: nothing is received,
// and the transfer ends as a complete one.
int FinishAlreadyComplete(Context& context, net::Socket& connection) {
  context.resume = false;
  context.bytes_done = context.total_size;
  connection.Close();
  ReportProgressThrottled(context, true);
  translog::LogTransfer(context);
  ShowStatus(context, "Done");
  return kSuccess;
}

// Judges the HTTP response header at the start of a download. Returns 1 when
// the body follows, else the pump's result. A failure leaves the local file
// as it is: only a body that the pump is about to receive may change it.
int JudgeHttpResponse(Context& context, net::Socket& connection, const std::string& local_file) {
  int judged = http_link::ReadResponseHeader(context, connection, local_file);
  if (judged == kRedirected) {
    connection.Close();
    return kRedirected;
  }
  if (judged == http::kAlreadyComplete) return FinishAlreadyComplete(context, connection);
  if (judged < 0) {
    if (!http::StatusTellsWhy(judged)) ShowStatus(context, "Failed");
    connection.Close();
    return kFailure;
  }
  context.bytes_done = fs::FileSize(local_file);
  return 1;
}

// Bytes of the data buffer that belong to the body: the header leftover, less
// what lies beyond the declared end.
std::size_t LeftoverInBody(const Context& context, std::uint64_t at) {
  if (at >= context.body_end) return 0;
  const std::uint64_t room = context.body_end - at;
  return room < context.header_leftover ? static_cast<std::size_t>(room) : context.header_leftover;
}

// PrepareLocalFile's result when another transfer holds the local file.
constexpr long kHeldElsewhere = -2;

// Opens the local file for the body: anew (with the header leftover written)
// or, when resuming, at its end. The open holds the file against other
// writers until the attempt ends. Returns the count of bytes waiting in the
// data buffer, or after telling the user kHeldElsewhere when another transfer
// holds the file, -1 for any other failure.
long PrepareLocalFile(Context& context, fileio::File& file, const std::string& local_file) {
  std::size_t waiting = 0;
  if (!context.resume) {
    if (!file.Open(local_file, fileio::File::kCreate)) {
      if (file.InUse()) {
        ShowStatus(context, kFileInUse);
        return kHeldElsewhere;
      }
      ShowCreateFailed(context, file);
      return -1;
    }
    const std::size_t leftover = LeftoverInBody(context, 0);
    if (leftover > 0 && !file.WriteAll(context.data.data(), leftover)) {
      ShowStatus(context, "File write error");
      return -1;
    }
    context.bytes_done = leftover;
    context.resume_start = 0;
  } else {
    context.resume_start = context.bytes_done;
    waiting = LeftoverInBody(context, context.bytes_done);
  }
  ShowStatus(context, "receiving file");
  if (!file.IsOpen() && !file.Open(local_file, fileio::File::kReadWrite)) {
    if (file.InUse()) {
      ShowStatus(context, kFileInUse);
      return kHeldElsewhere;
    }
    ShowStatus(context, OpenErrorText(file));
    return -1;
  }
  if (!file.Seek(context.bytes_done)) {
    ShowStatus(context, "File open error");
    return -1;
  }
  return static_cast<long>(waiting);
}

// Writes the first count bytes of the data buffer. False after telling the user.
bool WriteBlock(Context& context, fileio::File& file, std::size_t count) {
  if (count == 0) return true;
  if (!file.WriteAll(context.data.data(), count)) {
    ShowStatus(context, "File write error");
    return false;
  }
  context.bytes_done += count;
  return true;
}

enum BodyEnd { kEndOfStream, kReceiveError, kAbandoned };

// Moves the body from the data socket into the file in large blocks, starting
// with filled bytes already in the data buffer, until the peer closes or the
// body reaches context.body_end. What has arrived is always written; what
// would lie beyond body_end is never asked for. Returns kEndOfStream, kReceiveError with *error
// (also after a stall of the data time-out), or kAbandoned after a Stop or a
// failed write, the user told.
BodyEnd PumpToFile(Context& context, net::Socket& data, fileio::File& file, std::size_t filled,
                   int* error) {
  std::uint32_t quiet_since = clock_seam::TickCount();
  for (;;) {
    if (StopRequested(context)) {
      // What arrived is kept: the next attempt continues after it.
      WriteBlock(context, file, filled);
      ShowStatus(context, "Cancelled");
      return kAbandoned;
    }
    // Blocks end at file offsets that are multiples of the block size, also
    // after an HTTP header left a few body bytes: aligned writes cost the file
    // system a fraction of misaligned ones.
    const std::size_t block_end = kBlockSize - static_cast<std::size_t>(context.bytes_done % kBlockSize);
    if (filled >= block_end) {
      if (!WriteBlock(context, file, filled)) return kAbandoned;
      filled = 0;
      continue;
    }
    const std::uint64_t at = context.bytes_done + filled;
    std::size_t want = block_end - filled;
    if (context.body_end <= at) {
      return WriteBlock(context, file, filled) ? kEndOfStream : kAbandoned;
    }
    if (context.body_end - at < want) want = static_cast<std::size_t>(context.body_end - at);
    long got = data.Receive(context.data.data() + filled, want, kStopSliceMs, error);
    bool quiet = got < 0 && *error == net::kTimedOut;
    if (quiet && clock_seam::TickCount() - quiet_since >= static_cast<std::uint32_t>(timeouts::DataMs())) {
      quiet = false;  // stalled: a receive error
    }
    if (!quiet && got < 1) {
      if (!WriteBlock(context, file, filled)) return kAbandoned;
      return got == 0 ? kEndOfStream : kReceiveError;
    }
    if (got > 0) {
      quiet_since = clock_seam::TickCount();
      filled += static_cast<std::size_t>(got);
    }
    // Full blocks on a fast link; on a slow one what has arrived is written
    // once a report is due, so its progress still moves.
    bool report_due = clock_seam::TickCount() - context.last_report_tick >= kReportIntervalMs;
    if (filled == block_end || (filled > 0 && report_due)) {
      if (!WriteBlock(context, file, filled)) return kAbandoned;
      filled = 0;
      ReportProgressThrottled(context, false);
    }
  }
}

// Sends a block of the upload. Returns length, or -1 when the send failed.
long SendData(net::Socket& socket, const void* bytes, std::size_t length) {
  if (socket.SendAll(bytes, length, timeouts::DataMs()) != 0) return -1;
  return static_cast<long>(length);
}

// Waits until the server's answer to an upload begins to arrive, at most the
// reply time-out, refreshing the row meanwhile: the bytes handed to the
// socket may still be on their way, and the rate and time go on moving.
void AwaitConfirmation(Context& context, net::Socket& socket) {
  const std::uint32_t start = clock_seam::TickCount();
  while (clock_seam::MillisecondsLeft(start, timeouts::ReplyMs()) > 0 &&
         socket.WaitReadable(static_cast<int>(kReportIntervalMs)) == 0) {
    ReportProgressThrottled(context, false);
  }
}

// Ends the protocol after the last byte of an upload: the server's answer
// decides. Returns kSuccess, kRedirected (HTTP: the entry now names the new
// link), or a negative value after telling the user.
int FinishUpload(Context& context, net::Socket& data, net::Socket& control,
                 const std::string& local_file, bool is_http) {
  if (is_http) {
    AwaitConfirmation(context, data);
    int judged = http_link::ReadResponseHeader(context, data, local_file);
    if (judged == kRedirected) return kRedirected;
    if (judged < 0) {
      if (!http::StatusTellsWhy(judged)) ShowStatus(context, "Failed");
      return kFailure;
    }
    return kSuccess;
  }
  // The end of the data connection is the end of the file for the server;
  // its reply on the control connection says whether it was stored.
  data.Close();
  if (context.control_begin == context.control_end) AwaitConfirmation(context, control);
  return ftp::ReadFinalReply(context, control);
}

// RunAttempt without the bookkeeping of its cause.
int AttemptSteps(Context& context, const AttemptParams& params) {
  // A download into a file that another transfer writes would mix both.
  if (context.mode == kReceive && LocalFileInUse(params.local_file)) {
    ShowStatus(context, kFileInUse);
    return kNotRetried;
  }
  // One reading of Firewall decides the server, the protocol spoken and the
  // form of the HTTP request target.
  context.via_proxy = settings::Live().firewall == 1;
  const bool secure = params.protocol == url::kHttps;
  bool via_http = params.protocol == url::kHttp || secure || context.via_proxy;
  std::string host;
  std::uint32_t port = 0;
  ChooseServer(params, context.via_proxy, &host, &port);

  net::Ipv4 address = 0;
  if (FindServer(context, host, &address) != kSuccess) return kFailure;
  net::Socket control;
  if (control.Open() != 0) return kNoSocket;
  const int refused = port == 0 || port > 65535
                          ? net::kAddressNotAvailable
                          : control.Connect(address, static_cast<std::uint16_t>(port), timeouts::ConnectMs());
  if (refused != 0) {
    Fail(context, "Failed to connect", SocketErrorText(refused));
    return kFailure;
  }
  ResetControlInput(context);
  if (secure) {
    // Through the proxy the request travels inside the tunnel, in the form
    // the server itself takes.
    if (context.via_proxy && OpenTunnel(context, control, params) != kSuccess) return kFailure;
    context.via_proxy = false;
    const int secured = SecureConnection(context, control, params);
    if (secured != kSuccess) return secured;
  }

  if (!via_http) {
    int login = ftp::Login(context, control, params.user, params.password);
    // A refused login is told in the row; a box is for a dialogue that broke.
    if (login == kLoginRefused) return kFailure;
    if (login < 0) {
      ShowStatus(context, "Failed");
      if (login == kConnectionLost) SetCause(context, "Lost connection");
      prompts::Message("Failed to send username", "", prompts::kOk);
      return login;
    }
  }
  if (context.mode == kSend) return Upload(context, control, params, via_http);
  ShowStatus(context, "Receiving");
  return Download(context, control, params, via_http);
}

}  // namespace

int RunAttempt(Context& context, const AttemptParams& params) {
  context.cause.clear();
  context.last_status.clear();
  const int result = AttemptSteps(context, params);
  if (result < 0 && context.cause.empty()) context.cause = context.last_status;
  return result;
}

void ShowStatus(const Context& context, const std::string& text) {
  // The bare words say only that something failed; the text before them said what.
  if (text != "Failed" && text != "FTP failed") context.last_status = text;
  if (!app::IsCurrentTaskPath(context.task_path)) return;
  tasklist::Current().SetCellOf(context.row_id, tasklist::kStatus, text);
}

void SetCause(const Context& context, const std::string& text) { context.cause = text; }

void Fail(const Context& context, const std::string& status, const std::string& cause) {
  ShowStatus(context, status);
  SetCause(context, cause);
}

std::string SocketErrorText(int error_number) {
  switch (error_number) {
    case net::kConnectionRefused: return "Connection refused";
    case net::kTimedOut: return "Timed out";
    case net::kHostUnreachable: return "Host unreachable";
    case net::kNetworkUnreachable: return "Network unreachable";
    case net::kNetworkDown: return "Network down";
    case net::kConnectionReset: return "Connection reset by the server";
    case net::kConnectionAborted: return "Connection aborted";
    case net::kAddressNotAvailable: return "Address not available";
    case net::kTlsCutShort: return "Secure stream ended without close notify";
    default: return text::Format("Network error %d", error_number);
  }
}

void ShowStatusNumber(const Context& context, const char* format, long number) {
  ShowStatus(context, text::Format(format, number));
}

bool StopRequested(const Context& context) { return app::StopMarked(context.row_id); }

int ReadReplyByte(Context& context, net::Socket& control, std::uint32_t reply_start,
                  int timeout_ms, char* byte) {
  if (context.control_begin == context.control_end) {
    if (context.control_input.size() < kControlReadAhead) {
      context.control_input.resize(kControlReadAhead);
    }
    int left = clock_seam::MillisecondsLeft(reply_start, timeout_ms);
    if (left == 0) return kConnectionLost;
    int error = 0;
    long n = control.Receive(context.control_input.data(), context.control_input.size(), left,
                             &error);
    if (n <= 0) return kConnectionLost;
    context.control_begin = 0;
    context.control_end = static_cast<std::size_t>(n);
  }
  *byte = context.control_input[context.control_begin++];
  return 1;
}

void ResetControlInput(Context& context) {
  context.control_begin = 0;
  context.control_end = 0;
}

bool IsConnectionLoss(int error_number) {
  switch (error_number) {
    case net::kNetworkDown:
    case net::kNetworkReset:
    case net::kConnectionAborted:
    case net::kConnectionReset:
    case net::kNotConnected:
    case net::kShutDown:
      return true;
    default:
      return false;
  }
}

int SendBlock(const Context& context, net::Socket& socket, const void* bytes, std::size_t length) {
  int error = socket.SendAll(bytes, length, timeouts::DataMs());
  if (error == 0) return kSuccess;
  ShowStatusNumber(context, "write buffer %d", error);
  return IsConnectionLoss(error) ? kConnectionLost : kFailure;
}

namespace {

// One field of a passive reply: at most seven characters, blanks around a
// number of 0 to 255 allowed (some servers write "( 10, 0, 0, 1, 4, 1)").
bool ParsePassiveField(const std::string& field, int* value) {
  std::size_t begin = field.find_first_not_of(' ');
  if (begin == std::string::npos) return false;
  std::size_t end = field.find_last_not_of(' ') + 1;
  int number = 0;  // at most seven digits: no overflow
  for (std::size_t i = begin; i < end; ++i) {
    if (field[i] < '0' || field[i] > '9') return false;
    number = number * 10 + (field[i] - '0');
  }
  if (number > 255) return false;
  *value = number;
  return true;
}

}  // namespace

bool ParsePassiveReply(const std::string& reply_text, net::Ipv4* address, std::uint16_t* port) {
  constexpr std::size_t kFieldLimit = 7;
  std::size_t open = reply_text.find('(');
  if (open == std::string::npos) return false;
  int values[6] = {};
  int count = 0;
  std::string field;
  for (std::size_t i = open + 1; i < reply_text.size(); ++i) {
    char c = reply_text[i];
    if (c != ',' && c != ')') {
      if (field.size() == kFieldLimit) return false;
      field.push_back(c);
      continue;
    }
    if (count == 6 || !ParsePassiveField(field, &values[count])) return false;
    ++count;
    field.clear();
    if (c == ')') {
      if (count != 6) return false;
      unsigned char bytes[4] = {static_cast<unsigned char>(values[0]),
                                static_cast<unsigned char>(values[1]),
                                static_cast<unsigned char>(values[2]),
                                static_cast<unsigned char>(values[3])};
      std::memcpy(address, bytes, sizeof bytes);
      *port = static_cast<std::uint16_t>(values[4] * 256 + values[5]);
      return true;
    }
  }
  return false;
}

int OpenDataConnection(const Context& context, net::Ipv4 address, std::uint16_t port,
                       net::Socket* data) {
  if (data->Open() != 0) return kNoSocket;
  if (data->Connect(address, port, timeouts::ConnectMs()) != 0) {
    data->Close();
    ShowStatus(context, "Failed connection");
    return kFailure;
  }
  return kSuccess;
}

int ReceiveFile(Context& context, net::Socket& data, net::Socket& control,
                const std::string& local_file, bool is_http) {
  EnsureDataBuffer(context);
  if (!is_http) {
    context.header_leftover = 0;
    context.body_end = kNoBodyEnd;
    TakeSizeFromReply(context);
  }
  context.start_tick = clock_seam::TickCount();
  context.reported = false;
  if (is_http) {
    int judged = JudgeHttpResponse(context, data, local_file);
    if (judged != 1) return judged;
  }

  fileio::File file;
  long waiting = PrepareLocalFile(context, file, local_file);
  if (waiting < 0) return waiting == kHeldElsewhere ? kNotRetried : kFailure;
  int error = 0;
  BodyEnd end = PumpToFile(context, data, file, static_cast<std::size_t>(waiting), &error);
  if (end == kAbandoned) return kFailure;
  ReportProgressThrottled(context, true);
  if (end == kReceiveError && error == net::kTlsCutShort) {
    // What came stays for a resume, and the transfer is not logged as complete.
    Fail(context, "Transfer incomplete", SocketErrorText(error));
    return kFailure;
  }
  if (end == kReceiveError) {
    Fail(context, text::Format("error:%ld %d", data.Number(), error), SocketErrorText(error));
    return kFailure;
  }
  if (is_http && context.total_size > 0 && context.bytes_done < context.total_size) {
    // The server closed before the length it announced: what came stays for
    // a resume, and the transfer is not logged as complete.
    ShowStatus(context, "Transfer incomplete");
    return kFailure;
  }
  if (!is_http && ftp::ReadFinalReply(context, control) < 0) return kFailure;
  translog::LogTransfer(context);
  ShowStatus(context, "Done");
  control.Close();
  if (&data != &control) data.Close();
  return kSuccess;
}

bool LocalFileInUse(const std::string& local_file) {
  // Opening an existing file for writing neither creates nor changes it.
  fileio::File probe;
  return !probe.Open(local_file, fileio::File::kReadWrite) && probe.InUse();
}

int OpenUpload(Context& context, const std::string& local_file, fileio::File* file) {
  // Uploads are never resumed; the answer to a PUT is judged as one to a
  // request without a range.
  context.resume = false;
  if (!file->Open(local_file, fileio::File::kRead) || !file->Size(&context.total_size)) {
    file->Close();
    ShowStatus(context, OpenErrorText(*file));
    return kFailure;
  }
  return kSuccess;
}

int SendFile(Context& context, net::Socket& data, net::Socket& control, fileio::File& file,
             const std::string& local_file, bool is_http) {
  EnsureDataBuffer(context);
  context.start_tick = clock_seam::TickCount();
  context.reported = false;
  context.bytes_done = 0;
  context.resume_start = 0;
  context.unconfirmed = true;
  for (;;) {
    if (StopRequested(context)) {
      ShowStatus(context, "Cancelled");
      return kFailure;
    }
    std::size_t want = kBlockSize;
    if (is_http) {
      // The request announced the size: a file that grew meanwhile sends no
      // more than that, or the server would take the rest for a new request.
      const std::uint64_t left = context.total_size - context.bytes_done;
      if (left < want) want = static_cast<std::size_t>(left);
      if (want == 0) break;
    }
    long got = file.Read(context.data.data(), want);
    if (got < 0) {
      ShowStatus(context, "File read error");
      return kFailure;
    }
    if (got == 0) break;
    if (SendData(data, context.data.data(), static_cast<std::size_t>(got)) < 0) {
      ShowStatus(context, "Transfer failed");
      return kFailure;
    }
    context.bytes_done += static_cast<std::uint64_t>(got);
    ReportProgressThrottled(context, false);
  }
  ReportProgressThrottled(context, false);
  file.Close();
  const int finished = FinishUpload(context, data, control, local_file, is_http);
  if (finished != kSuccess) return finished < 0 ? kFailure : finished;
  data.Close();
  // 100 % only now that the server has confirmed what it got.
  context.unconfirmed = false;
  ReportProgressThrottled(context, true);
  ShowStatus(context, "Done");
  translog::LogTransfer(context);
  return kSuccess;
}

const char* OpenErrorText(const fileio::File& file) {
  return file.OutOfHandles() ? kTooManyOpenFiles : "File open error";
}

void ReportProgressThrottled(Context& context, bool final) {
  std::uint32_t now = clock_seam::TickCount();
  if (!final && context.reported && now - context.last_report_tick < kReportIntervalMs) return;
  context.reported = true;
  context.last_report_tick = now;
  progress::ReportProgress(context);
}

}  // namespace session
