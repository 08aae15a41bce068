#include "engine/local_file.h"

#include "engine/connection.h"
#include "engine/ftp.h"
#include "engine/http.h"
#include "engine/http_exchange.h"
#include "engine/pieces.h"
#include "engine/progress.h"
#include "engine/rate_limit.h"
#include "engine/split_download.h"
#include "engine/text_format.h"
#include "engine/timeouts.h"
#include "engine/translog.h"
#include "platform/clock.h"
#include "platform/prompts.h"

namespace session {
namespace {

// A silent data connection is looked at this often, so that Stop is honoured
// while the peer sends nothing.
constexpr int kStopSliceMs = 100;

void EnsureDataBuffer(Context& context) {
  if (context.data.size() < kBlockSize) context.data.resize(kBlockSize);
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
    // A control file left beside it speaks of the old contents.
    pieces::Remove(local_file);
    context.has_control = false;
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
    want = rate_limit::Acquire(want, context);
    if (want == 0) continue;  // stopped while waiting its turn
    long got = data.Receive(context.data.data() + filled, want, kStopSliceMs, error);
    rate_limit::Refund(want - static_cast<std::size_t>(got > 0 ? got : 0));
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
    int judged = http_exchange::ReadResponseHeader(context, data, local_file);
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

}  // namespace

int ReceiveFile(Context& context, net::Socket& data, net::Socket& control,
                const std::string& local_file, bool is_http) {
  EnsureDataBuffer(context);
  if (!is_http) {
    context.header_leftover = 0;
    context.body_end = kNoBodyEnd;
    // A size SIZE told is the one the pieces are cut from; some servers
    // announce only the bytes after REST in their transfer reply.
    if (!context.accepts_ranges) ftp::TakeSizeFromReply(context);
  }
  context.start_tick = clock_seam::TickCount();
  context.reported = false;
  if (is_http) {
    int judged = http_exchange::JudgeHttpResponse(context, data, local_file);
    if (judged != 1) return judged;
  }

  fileio::File file;
  long waiting = PrepareLocalFile(context, file, DownloadTarget(context, local_file));
  if (waiting < 0) return waiting == kHeldElsewhere ? kNotRetried : kFailure;
  rate_limit::Charge(LeftoverInBody(context, context.resume_start));
  if (split::Wanted(context)) {
    const int result =
        split::Run(context, data, file, static_cast<std::size_t>(waiting), DownloadTarget(context, local_file));
    // FTP: the server's word on a data connection that may have been closed
    // at its piece's end is not waited for; the pieces' bytes decide.
    if (!is_http) control.Close();
    return result;
  }
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
  if (context.has_control) pieces::Remove(local_file);
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
    want = rate_limit::Acquire(want, context);
    if (want == 0) continue;  // stopped while waiting its turn
    long got = file.Read(context.data.data(), want);
    rate_limit::Refund(want - static_cast<std::size_t>(got > 0 ? got : 0));
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
