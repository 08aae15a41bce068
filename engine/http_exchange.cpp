#include "engine/http_exchange.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "settings/places.h"
#include "engine/connection.h"
#include "engine/local_file.h"
#include "engine/http.h"
#include "engine/proxy.h"
#include "engine/split_download.h"
#include "engine/timeouts.h"
#include "engine/translog.h"
#include "tasks/url.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "platform/prompts.h"
#include "platform/tasklist.h"
#include "settings/settings.h"
#include "tasks/entries.h"
#include "tasks/taskfile.h"

namespace http_exchange {
namespace {

// The request target: the remote path, or through a proxy the whole link.
// False when the link of a proxied entry cannot be found.
bool RequestTarget(const session::Context& context, const session::AttemptParams& params,
                   std::string* target) {
  if (!context.via_proxy) {
    *target = http::DirectTarget(params.remote_path);
    return true;
  }
  // The link as the URL column showed it when the worker started: the row
  // may by now show another entry, or no longer be there.
  if (context.entry_url.empty()) return false;
  *target = http::ProxyTarget(context.entry_url, !params.password.empty());
  return true;
}

// Sends the request; false after "Failed" (and what SendBlock showed).
bool SendRequest(session::Context& context, net::Socket& connection, const std::string& request) {
  if (session::SendBlock(context, connection, request.data(), request.size()) == 0) return true;
  session::ShowStatus(context, "Failed");
  return false;
}

// A ranged request found the local file already whole: nothing is received,
// and the transfer ends as a complete one.
int FinishAlreadyComplete(session::Context& context, net::Socket& connection) {
  context.resume = false;
  context.bytes_done = context.total_size;
  connection.Close();
  session::ReportProgressThrottled(context, true);
  translog::LogTransfer(context);
  session::ShowStatus(context, "Done");
  return session::kSuccess;
}

}  // namespace

void AuthorizeAtProxy(session::Context& context, const session::AttemptParams& params, std::string* request) {
  const std::string line = proxy::AuthorizationLine(params.proxy_user, params.proxy_password);
  if (!context.via_proxy || line.empty()) return;
  request->insert(request->size() - 2, line);
  context.proxy_authorized = true;
}

int Download(session::Context& context, net::Socket& connection,
             const session::AttemptParams& params) {
  std::string target;
  if (!RequestTarget(context, params, &target)) {
    session::ShowStatus(context, "Failed");
    return session::kFailure;
  }
  context.request_target = target;
  std::string request = DownloadRequestFor(context, target, params.user, params.password,
                                           params.local_file);
  AuthorizeAtProxy(context, params, &request);
  if (!SendRequest(context, connection, request)) return session::kFailure;
  return session::ReceiveFile(context, connection, connection, params.local_file, true);
}

int Upload(session::Context& context, net::Socket& connection,
           const session::AttemptParams& params) {
  std::string target;
  if (!RequestTarget(context, params, &target)) {
    session::ShowStatus(context, "Failed");
    return session::kFailure;
  }
  fileio::File file;
  if (session::OpenUpload(context, params.local_file, &file) != session::kSuccess) {
    return session::kFailure;
  }
  std::string request = http::UploadRequest(target, context.host_name, params.user,
                                            params.password, context.total_size);
  AuthorizeAtProxy(context, params, &request);
  if (!SendRequest(context, connection, request)) return session::kFailure;
  return session::SendFile(context, connection, connection, file, params.local_file, true);
}

int JudgeHttpResponse(session::Context& context, net::Socket& connection,
                      const std::string& local_file) {
  int judged = ReadResponseHeader(context, connection, local_file);
  if (judged == session::kRedirected) {
    connection.Close();
    return session::kRedirected;
  }
  if (judged == http::kAlreadyComplete) {
    if (context.has_control) pieces::Remove(local_file);
    return FinishAlreadyComplete(context, connection);
  }
  if (judged < 0) {
    if (!http::StatusTellsWhy(judged)) session::ShowStatus(context, "Failed");
    connection.Close();
    return session::kFailure;
  }
  if (!split::SameCopy(context)) {
    connection.Close();
    return session::kFailure;
  }
  // After a crash the file may hold pieces beyond its first hole: its size
  // says nothing of where the answer's bytes go.
  context.bytes_done = context.has_control && context.resume
                           ? context.resume_start
                           : fs::FileSize(session::DownloadTarget(context, local_file));
  return 1;
}

namespace {

void ShowInfo(const char* text) { prompts::Message(text, "Info", prompts::kOk); }

// The scratch file of one response: created empty, grown by appends, removed
// when the reading ends whichever way it ends.
class ScratchFile {
 public:
  explicit ScratchFile(std::string path) : path_(std::move(path)) {
    fileio::File file;
    usable_ = file.Open(path_, fileio::File::kCreate);
    out_of_handles_ = file.OutOfHandles();
  }
  ~ScratchFile() { fs::RemoveFile(path_); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  bool usable() const { return usable_; }

  // Appends bytes at offset at (the size so far). False when the file could
  // not be opened or written, from then on for good.
  bool Append(std::uint64_t at, const char* bytes, std::size_t count) {
    fileio::File file;
    const bool opened = usable_ && file.Open(path_, fileio::File::kReadWrite);
    out_of_handles_ = out_of_handles_ || file.OutOfHandles();
    usable_ = opened && file.Seek(at) && file.WriteAll(bytes, count);
    return usable_;
  }
  // It failed because no more files could be open.
  bool out_of_handles() const { return out_of_handles_; }

 private:
  std::string path_;
  bool usable_ = false;
  bool out_of_handles_ = false;
};

// Longest piece of an answer quoted in a status or cause.
constexpr std::size_t kQuoteLimit = 100;

// The first line of an answer as it may stand in a status text: cut short,
// control bytes shown as '?'.
std::string FirstLine(const std::string& received) {
  std::string line = received.substr(0, received.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.size() > kQuoteLimit) line.resize(kQuoteLimit);
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return line;
}

// "404 Not Found" of "HTTP/1.0 404 Not Found": the status line without its
// version word.
std::string StatusText(const std::string& received) {
  const std::string line = FirstLine(received);
  const std::size_t blank = line.find(' ');
  if (blank == std::string::npos) return line;
  const std::size_t text = line.find_first_not_of(' ', blank);
  return text == std::string::npos ? line : line.substr(text);
}

// An upload is stored only when the server says so: 200, 201 or 204.
bool ConfirmsUpload(const http::HeaderVerdict& verdict) {
  return verdict.has_status && (verdict.status == 200 || verdict.status == 201 || verdict.status == 204);
}

// Any other answer to an upload (a 100 Continue, a 3xx without a Location,
// a line that is no HTTP at all, nothing) fails it, quoting what came.
int RefuseUpload(const session::Context& context, const std::string& received) {
  if (received.empty()) {
    session::ShowStatus(context, "Failed: no answer");
    if (context.cause.empty()) session::SetCause(context, "No answer to the upload");
  } else {
    const std::string quoted = "\"" + FirstLine(received) + "\"";
    session::Fail(context, "Failed: " + quoted, "Server answered " + quoted);
  }
  return http::kUploadRefused;
}

// A TLS stream cut without close notify ends a header as a close does: what
// came is judged the same way either way.
bool Closed(long got, int error) { return got == 0 || (got < 0 && error == net::kTlsCutShort); }

// Reads and drops what a 3xx without a Location sends after its header, until
// the peer closes. Returns false on a receive error or a silent peer.
bool DrainUntilClosed(session::Context& context, net::Socket& connection) {
  for (;;) {
    int error = 0;
    long got = connection.Receive(context.data.data(), context.data.size(), timeouts::DataMs(),
                                  &error);
    if (Closed(got, error)) return true;
    if (got < 0 && error != net::kWouldBlock && error != 0) return false;
  }
}

// The entry's link as the task file held it when the worker started
// (password in clear), the base of a relative redirect.
std::string EntryUrl(const session::Context& context) {
  return taskfile::SplitTaskLine(context.start_line).url;
}

bool HoldsControlBytes(const std::string& text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

int ScratchFailed(const session::Context& context, const ScratchFile& scratch) {
  const char* text = scratch.out_of_handles() ? session::kTooManyOpenFiles : "Bad file";
  ShowInfo(text);
  session::ShowStatus(context, text);
  return http::kScratchFailed;
}

int Refuse(const session::Context& context, const std::string& why) {
  session::Fail(context, why, why);
  return http::kRedirectRefused;
}

// What became of the entry's task line and row in a redirect.
enum class Rewrite { kDone, kFileFailed, kEntryGone };

// The entry's row and its task line take the redirected entry in one step of
// the list, so that no delete comes between them and no other line is
// rewritten: row i shows line i, and the row keeps its place and its id.
// While the row is not in the list (its task not shown), the line the worker
// started from is replaced only if it is still where it was.
Rewrite RewriteEntry(const session::Context& context, const std::string& line,
                     const std::string& date, const std::string& display_url,
                     const std::string& local_file) {
  Rewrite outcome = Rewrite::kEntryGone;
  tasklist::Current().WithRow(context.row_id, [&](int row) {
    const bool shown = app::IsCurrentTaskPath(context.task_path);
    if (row >= 0 && shown) {
      if (taskfile::ReplaceEntryLine(context.task_path, row, line) != 0) {
        outcome = Rewrite::kFileFailed;
        return;
      }
      entries::FillEntryRow(row, date, entries::DisplayStatus(entries::kAwaitingWord),
                            display_url, local_file);
      outcome = Rewrite::kDone;
      return;
    }
    // Shown but without the row: deleted, or the task was loaded again.
    if (shown) return;
    const int replaced = taskfile::ReplaceEntryLineIf(context.task_path, context.start_row,
                                                      context.start_line, line);
    if (replaced == 0) outcome = Rewrite::kDone;
    if (replaced < 0) outcome = Rewrite::kFileFailed;
  });
  return outcome;
}

int RefuseRange(const session::Context& context, const std::string& why) {
  session::ShowStatus(context, why);
  return http::kWrongRange;
}

// A 206 to a ranged request continues the local file only from the byte that
// was asked for: a part from elsewhere appended to it would corrupt it.
int TakeRange(session::Context& context, const http::HeaderVerdict& verdict) {
  const http::ContentRange& range = verdict.range;
  if (!verdict.has_range || !range.has_range) {
    return RefuseRange(context, "No usable Content-Range in answer");
  }
  if (range.first != context.resume_start) {
    return RefuseRange(context, "Range in answer starts at " + std::to_string(range.first) +
                                    ", not " + std::to_string(context.resume_start));
  }
  context.total_size = range.has_total ? range.total : range.last + 1;
  if (context.total_size == context.resume_start) return http::kAlreadyComplete;
  context.body_end = range.last + 1;
  if (verdict.has_length) {
    context.body_end = std::min(context.body_end, context.resume_start + verdict.length);
  }
  return http::kUsable;
}

// Decides how the body of a usable answer meets the local file. Only a 206
// with the asked range continues it, and only a 200 to a ranged request starts
// it over (the server ignored the range); any other answer to a ranged request
// leaves it as it is. Returns an http::HeaderResult.
int TakeSuccess(session::Context& context, const http::HeaderVerdict& verdict) {
  const bool success = verdict.has_status && verdict.status >= 200 && verdict.status <= 299;
  if (context.resume) {
    if (success && verdict.status == 206) return TakeRange(context, verdict);
    if (!success || verdict.status != 200) return http::kErrorStatus;
    context.resume = false;
  }
  // A 206 that nobody asked for is taken as the whole file; an answer without
  // a status declares no length (nor does an earlier attempt's answer).
  context.total_size = verdict.has_length ? verdict.length : 0;
  if (verdict.has_length) context.body_end = verdict.length;
  return http::kUsable;
}

// A 416 to a ranged request that gives the size of the file as the local
// size: the request asked for the bytes after the end of a complete file.
// Without that size the server's copy is shorter than the partial file (or
// says nothing of its size): no resume can help, and the user is told so.
int TakeUnsatisfiable(session::Context& context, const http::HeaderVerdict& verdict) {
  const bool sized = verdict.has_range && !verdict.range.has_range;
  if (context.resume && sized && verdict.range.total == context.resume_start) {
    context.total_size = context.resume_start;
    return http::kAlreadyComplete;
  }
  if (context.resume && !(sized && verdict.range.total > context.resume_start)) {
    session::SetCause(context, "Local file is longer than the server's");
  }
  return verdict.result;
}

// A name taken from a redirect may name only a file that is not there yet
// (or the entry's own): an existing one would be resumed into or replaced.
// Nor may it begin with '.', the names of settings files. Returns the
// candidate, or the entry's local file with the cause saying why.
std::string TakeRedirectName(const session::Context& context, const std::string& candidate,
                             const std::string& local_file) {
  const std::string name = fs::BaseName(candidate);
  std::string kept;
  if (!name.empty() && name[0] == '.') {
    kept = "Kept local name: " + name + " is a hidden file name";
  } else if (candidate != local_file && (fs::FileExists(candidate) || fs::DirectoryExists(candidate))) {
    kept = "Kept local name: " + name + " exists";
  }
  if (kept.empty()) return candidate;
  session::SetCause(context, kept);
  return local_file;
}

// Names the entry's local file as a Content-Disposition does, when
// ServerNames allows and the name passes the rules of a redirect's name: the
// task line and the row take it, and the body goes there. A name that cannot
// be used keeps the link's, the cause saying why; the download goes on.
int TakeServerName(session::Context& context, const std::string& server_name,
                   const std::string& local_file) {
  if (settings::Live().server_names == 0) return http::kUsable;
  const std::string directory = fs::DirectoryOf(local_file);
  const std::string name = url::LocalNameFromServer(server_name);
  const std::string refusal = url::RefusedNameReason(directory, app::ProgramDirectory(), name);
  if (name.empty() || !refusal.empty()) {
    session::SetCause(context, "Kept local name: " + (name.empty() ? "unusable name from the server" : refusal));
    return http::kUsable;
  }
  const std::string new_local = TakeRedirectName(context, url::InDirectory(directory, name), local_file);
  if (new_local == local_file) return http::kUsable;
  const taskfile::TaskLine fields = taskfile::SplitTaskLine(context.start_line);
  const std::string date = fields.date + " " + fields.time;
  const std::string line = date + "\t" + new_local + "\t" + fields.status_word + "\t" + fields.url;
  if (line.size() > taskfile::kMaxWholeLineText) {
    session::SetCause(context, "Kept local name: " + name + " too long for the task file");
    return http::kUsable;
  }
  if (RewriteEntry(context, line + "\r\n", date, context.entry_url, new_local) != Rewrite::kDone) {
    session::Fail(context, "Cannot write the task file", "Cannot write the task file");
    return http::kRedirectRefused;
  }
  context.start_line = line;
  context.entry_local_file = new_local;
  context.server_local_file = new_local;
  session::ShowStatus(context, "Receiving");
  return http::kUsable;
}

}  // namespace

std::string ScratchPath(const session::Context& context) {
  return context.task_path + std::to_string(context.start_row) + "Temp.txt";
}

std::string DownloadRequestFor(session::Context& context, const std::string& target,
                               const std::string& user, const std::string& password,
                               const std::string& local_file) {
  const std::uint64_t size = fs::FileSize(local_file);
  std::optional<std::uint64_t> range_from;
  const std::int64_t first_hole = split::ReadControl(context, local_file);
  if (first_hole >= 0) {
    context.resume = true;
    context.resume_start = static_cast<std::uint64_t>(first_hole);
    range_from = context.resume_start;
  } else if (settings::Live().resume_option == 0 && size > 0) {
    context.resume = true;
    context.resume_start = size;
    range_from = size;
  } else {
    context.resume = false;
    context.resume_start = 0;
  }
  return http::DownloadRequest(target, context.host_name, user, password, range_from);
}

namespace {

// ReadResponseHeader, leaving what arrived in *received.
int ReadHeaderInto(session::Context& context, net::Socket& connection,
                   const std::string& local_file, std::string& received) {
  if (context.data.size() < session::kBlockSize) context.data.resize(session::kBlockSize);
  context.header_leftover = 0;
  context.header_size = 0;
  context.body_end = session::kNoBodyEnd;
  ScratchFile scratch(ScratchPath(context));
  const std::uint32_t start = clock_seam::TickCount();
  for (;;) {
    int wait = clock_seam::MillisecondsLeft(start, timeouts::ReplyMs());
    if (wait == 0) {
      session::SetCause(context, "No answer in time");
      return http::kErrorStatus;
    }
    int error = 0;
    long got = connection.Receive(context.data.data(), context.data.size(), wait, &error);
    if (Closed(got, error)) break;
    if (got < 0) {
      // Would-block can only come from a socket left non-blocking; the
      // deadline above bounds the retries.
      if (error == net::kWouldBlock || error == 0) continue;
      session::SetCause(context, error == net::kTimedOut ? "No answer in time" : session::SocketErrorText(error));
      return http::kErrorStatus;
    }
    if (!scratch.Append(received.size(), context.data.data(), static_cast<std::size_t>(got))) {
      return ScratchFailed(context, scratch);
    }
    const std::size_t looked_at = received.size() < 3 ? 0 : received.size() - 3;
    received.append(context.data.data(), static_cast<std::size_t>(got));
    if (!http::HasHeaderEnd(received, looked_at)) {
      if (received.size() > http::kHeaderLimit) {
        session::SetCause(context, "Answer header too long");
        return http::kErrorStatus;
      }
      continue;
    }
    int judged = JudgeResponse(context, received, local_file);
    if (judged != http::kIncomplete) return judged;
    // A 3xx without a Location: nothing to follow, and its body is not the file.
    if (!DrainUntilClosed(context, connection)) return http::kErrorStatus;
    context.header_leftover = 0;
    break;
  }
  ShowInfo("Connection closed");
  if (received.empty()) {
    if (!scratch.usable()) return ScratchFailed(context, scratch);
    ShowInfo("File is zero size");
    session::SetCause(context, "Connection closed without an answer");
    return http::kClosedEmpty;
  }
  // The header never ended, or it was a 3xx that names no new location.
  session::SetCause(context, http::HasHeaderEnd(received, 0) ? "Redirect without a new location"
                                                            : "Answer header never ended");
  return http::kUnusable;
}

}  // namespace

int ReadResponseHeader(session::Context& context, net::Socket& connection,
                       const std::string& local_file) {
  std::string received;
  const int result = ReadHeaderInto(context, connection, local_file, received);
  if (context.mode != session::kSend || result == http::kUsable || result == http::kRedirected ||
      http::StatusTellsWhy(result)) {
    return result;
  }
  return RefuseUpload(context, received);
}

int JudgeResponse(session::Context& context, const std::string& received,
                  const std::string& local_file) {
  context.header_size = received.size();
  http::HeaderVerdict verdict = http::JudgeHeader(received);
  if (!verdict.complete) return http::kIncomplete;
  context.validator = verdict.validator;
  context.accepts_ranges = verdict.accepts_ranges;
  if (verdict.body_offset > http::kHeaderLimit) {
    session::SetCause(context, "Answer header too long");
    return http::kErrorStatus;
  }

  const std::size_t leftover =
      std::min(received.size() - verdict.body_offset, context.data.size());
  if (leftover > 0) std::memcpy(context.data.data(), received.data() + verdict.body_offset, leftover);
  context.header_leftover = leftover;

  if (verdict.result == http::kRedirected) return Redirect(context, verdict.location, local_file);
  if (context.via_proxy && verdict.has_status && verdict.status == 407) {
    session::Fail(context, "Failed", session::ProxyRefusal(context));
    return context.mode == session::kSend ? http::kUploadRefused : http::kErrorStatus;
  }
  if (context.mode == session::kSend) {
    return ConfirmsUpload(verdict) ? http::kUsable : RefuseUpload(context, received);
  }
  if (verdict.has_status && verdict.status == 416) {
    session::SetCause(context, StatusText(received));
    return TakeUnsatisfiable(context, verdict);
  }
  if (verdict.result == http::kUsable) {
    // Only a download that starts a file takes the server's name for it: a
    // partial file stays where it is.
    const bool starts_file = !context.resume && verdict.status == 200;
    const int taken = TakeSuccess(context, verdict);
    if (taken == http::kErrorStatus) session::SetCause(context, StatusText(received) + " to a ranged request");
    if (taken == http::kUsable && starts_file && !verdict.file_name.empty()) {
      return TakeServerName(context, verdict.file_name, local_file);
    }
    return taken;
  }
  session::SetCause(context, StatusText(received));
  return verdict.result;
}

int Redirect(session::Context& context, const std::string& location,
             const std::string& local_file) {
  std::string link = location;
  if (!link.empty() && link.find("://") == std::string::npos) {
    link = http::ResolveLocation(EntryUrl(context), link);
  }
  url::Record record;
  std::string display;
  std::string stored;
  if (link.empty() || HoldsControlBytes(link) ||
      url::Parse(link, &record, &display, &stored) != 0) {
    return Refuse(context, "Bad link in redirect");
  }

  std::string new_local = local_file;
  if (context.mode == session::kReceive && settings::Live().server_names != 0) {
    const std::string refusal =
        url::RefusedLocalNameReason(settings::Live().download, app::ProgramDirectory(), record.path);
    if (!refusal.empty()) return Refuse(context, refusal);
    new_local = TakeRedirectName(
        context, url::LocalNameForUrl(settings::Live().download, record.path), local_file);
  }
  while (!stored.empty() && (stored.back() == '\n' || stored.back() == '\r')) stored.pop_back();
  const std::string date = entries::FormatEntryDate(clock_seam::Now());
  const std::string line =
      date + "\t" + new_local + "\t" + entries::kAwaitingWord + "\t" + stored;
  if (line.size() > taskfile::kMaxWholeLineText) {
    return Refuse(context, "Redirect link too long for the task file");
  }
  switch (RewriteEntry(context, line + "\r\n", date, display, new_local)) {
    case Rewrite::kDone:
      return http::kRedirected;
    case Rewrite::kFileFailed:
      return Refuse(context, "Cannot write the task file");
    case Rewrite::kEntryGone:
      break;
  }
  return Refuse(context, "Entry no longer in the task file");
}

}  // namespace http_exchange
