#include "engine/split_download.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/connection.h"
#include "engine/ftp.h"
#include "engine/http.h"
#include "engine/http_exchange.h"
#include "engine/local_file.h"
#include "engine/pieces.h"
#include "engine/rate_limit.h"
#include "engine/server_slots.h"
#include "engine/timeouts.h"
#include "engine/translog.h"
#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/thread.h"
#include "settings/settings.h"
#include "tasks/url.h"

namespace split {
namespace {

std::atomic<int> g_override{0};
std::atomic<int> g_worth_splitting_ms{kWorthSplittingMs};

// A connection looks at Stop and at the other connections' failures this often.
constexpr int kSliceMs = 100;
// A connection at the end of its piece looks this often whether the piece
// cut from it has been answered.
constexpr int kFollowerPollMs = 10;
// At the end of a download, a connection that has written nothing for this
// long hands the rest of its piece to a new one. Longer than the pauses of a
// server that sends a second's worth at a time.
constexpr std::uint32_t kStalledMs = 1500;
// The control file is rewritten at most this often.
constexpr std::uint32_t kSaveIntervalMs = 1000;
// A piece is split only while each half holds a 64th of the file, at most
// kLargestMinSplit and at least kSmallestMinSplit: the end of a download is
// not spent opening connections for a few bytes, and the last piece of a
// connection sending 2 MiB/s takes about a quarter of a second. (With 1 MiB,
// 256 MiB over 8 such connections took 16.4-16.5 s; with 256 KiB 16.3 s.)
constexpr std::uint64_t kLargestMinSplit = 256 << 10;
constexpr std::uint64_t kSmallestMinSplit = 16 << 10;

// The asked end of a request that runs to the end of the file.
constexpr std::uint64_t kOpenEnd = ~std::uint64_t{0};

enum class Fetch { kDone, kLost, kRefused, kChanged, kStopped, kWriteFailed };

// What the entry's worker and its connection threads share. Each thread holds
// it by a shared pointer; the worker waits until none runs before it returns,
// so the local file outlives every write.
struct Shared {
  Shared(std::uint64_t total, const std::vector<pieces::Range>& done, std::uint64_t min_split)
      : plan(total, done, min_split) {}
  pieces::Plan plan;
  fileio::File* file = nullptr;
  session::AttemptParams params;
  std::string host_name;
  std::string target;
  std::string validator;
  std::string server;  // "host:port", for the count of connections per server
  bool proxy_chosen = false;
  int first_piece = pieces::Plan::kNone;  // the entry's own connection's

  std::atomic<bool> stop{false};
  std::atomic<bool> changed{false};
  std::atomic<bool> write_failed{false};

  std::mutex lock;  // guards the counters below
  std::condition_variable ended;
  int running = 0;
  int refused = 0;  // connections the server (or the cap) did not take
  int lost = 0;     // connections that broke off inside a piece
  int last_error = 0;

  bool Ending() const { return stop || changed || write_failed; }
};

// Reads the answer header of a helper connection into *verdict, the body
// bytes that came with it moved to the start of buffer (*leftover). False
// when the peer closed, failed or stayed silent, or the header is too long.
bool ReadHeader(Shared& shared, net::Socket& socket, std::vector<char>& buffer,
                http::HeaderVerdict* verdict, std::size_t* leftover) {
  std::string received;
  const std::uint32_t start = clock_seam::TickCount();
  while (!shared.Ending() && clock_seam::MillisecondsLeft(start, timeouts::ReplyMs()) > 0) {
    int error = 0;
    const long got = socket.Receive(buffer.data(), buffer.size(), kSliceMs, &error);
    if (got == 0 || (got < 0 && error != net::kTimedOut && error != net::kWouldBlock)) return false;
    if (got < 0) continue;
    const std::size_t looked_at = received.size() < 3 ? 0 : received.size() - 3;
    received.append(buffer.data(), static_cast<std::size_t>(got));
    if (!http::HasHeaderEnd(received, looked_at)) {
      if (received.size() > http::kHeaderLimit) return false;
      continue;
    }
    *verdict = http::JudgeHeader(received);
    *leftover = std::min(received.size() - verdict->body_offset, buffer.size());
    std::copy_n(received.data() + verdict->body_offset, *leftover, buffer.data());
    return true;
  }
  return false;
}

// Writes the first filled bytes of buffer at the piece's next offset, those
// the piece still holds; the rest belongs to another piece and is dropped.
bool WriteFilled(Shared& shared, int piece, const char* buffer, std::size_t filled) {
  std::uint64_t at = 0;
  const std::size_t granted = shared.plan.Grant(piece, filled, &at);
  if (granted > 0 && !shared.file->WriteAt(at, buffer, granted)) return false;
  shared.plan.Commit(piece, granted);
  return true;
}

// Receives the piece from socket into the file, starting with filled bytes
// at the start of buffer. Bytes beyond the piece's end (another connection
// took them meanwhile) are dropped. The server sends nothing past asked_end,
// the end of a closed range: should the piece have grown beyond it since,
// the rest is left to the others.
Fetch Pump(Shared& shared, int piece, net::Socket& socket, char* buffer, std::size_t size,
           std::size_t filled, std::uint64_t asked_end, int* error) {
  std::uint32_t quiet_since = clock_seam::TickCount();
  std::uint32_t written_at = quiet_since;
  for (;;) {
    std::uint64_t at = 0;
    const std::uint64_t left = std::min(shared.plan.Left(piece, &at), asked_end - at);
    // Writes end at file offsets that are multiples of the buffer size, as
    // in the single-connection pump: misaligned writes cost the file system
    // several times as much. On a slow link what has arrived is written
    // every slice, so the progress moves.
    const std::size_t block = size - static_cast<std::size_t>(at % size);
    const bool due = clock_seam::TickCount() - written_at >= static_cast<std::uint32_t>(kSliceMs);
    if (filled > 0 && (filled >= block || filled >= left || due)) {
      if (!WriteFilled(shared, piece, buffer, filled)) return Fetch::kWriteFailed;
      filled = 0;
      written_at = clock_seam::TickCount();
      continue;
    }
    if (shared.Ending()) return filled > 0 && !WriteFilled(shared, piece, buffer, filled) ? Fetch::kWriteFailed
                                                                                           : Fetch::kStopped;
    if (left == 0 && (asked_end != kOpenEnd || !shared.plan.FollowerPending(piece))) return Fetch::kDone;
    if (left == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kFollowerPollMs));
      quiet_since = clock_seam::TickCount();
      continue;
    }
    const std::size_t room = rate_limit::AcquireUnless(
        (left < block ? static_cast<std::size_t>(left) : block) - filled, [&shared] { return shared.Ending(); });
    if (room == 0) continue;  // stopped while waiting its turn
    const long got = socket.Receive(buffer + filled, room, kSliceMs, error);
    rate_limit::Refund(room - static_cast<std::size_t>(got > 0 ? got : 0));
    if (got > 0) {
      filled += static_cast<std::size_t>(got);
      quiet_since = clock_seam::TickCount();
      continue;
    }
    const bool quiet = got < 0 && *error == net::kTimedOut &&
                       clock_seam::TickCount() - quiet_since < static_cast<std::uint32_t>(timeouts::DataMs());
    if (quiet) continue;
    // What arrived is kept: the piece's rest goes back to the others.
    return filled > 0 && !WriteFilled(shared, piece, buffer, filled) ? Fetch::kWriteFailed : Fetch::kLost;
  }
}

// An answer to a piece's request is taken only as a 206 that starts at the
// byte asked for, of a copy with the first answer's size and identity. A 200
// (the range ignored), a 503 or 429 (no more connections) and any other
// answer leave the piece to the connections that work.
Fetch JudgePieceAnswer(const Shared& shared, const http::HeaderVerdict& verdict, std::uint64_t from) {
  if (!verdict.has_status || verdict.status != 206 || !verdict.has_range || !verdict.range.has_range ||
      verdict.range.first != from) {
    return Fetch::kRefused;
  }
  const std::uint64_t total = verdict.range.has_total ? verdict.range.total : verdict.range.last + 1;
  if (total != shared.plan.total()) return Fetch::kChanged;
  if (!shared.validator.empty() && !verdict.validator.empty() && verdict.validator != shared.validator) {
    return Fetch::kChanged;
  }
  return Fetch::kDone;
}

// The protocol's part of a piece over a connection just opened: ask for the
// bytes from `from` and judge the answer. kDone when they are on their way,
// on *data (socket itself for HTTP), with the first *leftover of them at the
// start of buffer.

Fetch AskHttp(Shared& shared, session::Context& context, net::Socket& socket, std::uint64_t from,
              std::uint64_t end, std::vector<char>& buffer, std::size_t* leftover) {
  std::string request = http::DownloadRequest(shared.target, shared.host_name, shared.params.user,
                                              shared.params.password, from, end - 1);
  http_exchange::AuthorizeAtProxy(context, shared.params, &request);
  if (session::SendBlock(context, socket, request.data(), request.size()) != 0) return Fetch::kRefused;
  http::HeaderVerdict verdict;
  if (!ReadHeader(shared, socket, buffer, &verdict, leftover)) return Fetch::kRefused;
  return JudgePieceAnswer(shared, verdict, from);
}

// A login of its own that asks with REST for the bytes from `from`.
Fetch AskFtp(Shared& shared, session::Context& context, net::Socket& control, std::uint64_t from,
             net::Socket* data) {
  switch (ftp::RetrieveFrom(context, control, shared.params, from, shared.plan.total(), data)) {
    case ftp::Piece::kReceiving: return Fetch::kDone;
    case ftp::Piece::kChanged: return Fetch::kChanged;
    case ftp::Piece::kRefused: break;
  }
  return Fetch::kRefused;
}

// One more connection for the piece: connect, ask for its bytes, judge the
// answer and receive. The FTP control connection stays open while its data
// connection carries the piece; both close at the piece's end, which may lie
// before the end of the file.
Fetch FetchPiece(Shared& shared, int piece, std::vector<char>& buffer, int* error) {
  session::Context context;
  context.quiet = true;
  context.host_name = shared.host_name;
  context.via_proxy = shared.proxy_chosen;
  net::Socket socket;
  if (session::OpenConnection(context, shared.params, socket) != session::kSuccess) return Fetch::kRefused;
  std::uint64_t from = 0;
  const std::uint64_t left = shared.plan.Left(piece, &from);
  const std::uint64_t end = from + left;
  std::size_t leftover = 0;
  net::Socket ftp_data;
  const bool ftp = shared.params.protocol == url::kFtp;
  // Over HTTP the piece is asked for as a closed range, so that the server
  // sends no bytes the connection would drop: FTP sends from REST to the end.
  const Fetch judged = ftp ? AskFtp(shared, context, socket, from, &ftp_data)
                           : AskHttp(shared, context, socket, from, end, buffer, &leftover);
  if (judged != Fetch::kDone) return judged;
  shared.plan.Confirm(piece);
  rate_limit::Charge(leftover);
  return Pump(shared, piece, ftp ? ftp_data : socket, buffer.data(), buffer.size(), leftover,
              ftp ? kOpenEnd : end, error);
}

// What a connection thread starts with: the piece taken for it, if any. The
// first connection brings its socket and the bytes that came with its answer
// too; it is counted as the entry's own connection, so only the others take
// server slots.
struct Launch {
  std::shared_ptr<Shared> shared;
  net::Socket* first = nullptr;
  char* first_data = nullptr;
  std::size_t first_size = 0;
  std::size_t waiting = 0;
  int piece = pieces::Plan::kNone;
};

void Record(Shared& shared, Fetch outcome, int error) {
  if (outcome == Fetch::kChanged) shared.changed = true;
  if (outcome == Fetch::kWriteFailed) shared.write_failed = true;
  std::lock_guard<std::mutex> hold(shared.lock);
  if (outcome == Fetch::kRefused) ++shared.refused;
  if (outcome == Fetch::kLost) ++shared.lost;
  if (error != 0) shared.last_error = error;
}

// Takes pieces, starting with piece when one was taken for it, until none is
// left worth taking or a connection fails.
Fetch TakePieces(Shared& shared, bool counted, int piece, int* error) {
  std::vector<char> buffer(session::kBlockSize);
  for (;; piece = pieces::Plan::kNone) {
    Fetch outcome = shared.Ending() ? Fetch::kStopped : Fetch::kDone;
    if (outcome == Fetch::kDone && !counted && !server_slots::TryTake(shared.server)) outcome = Fetch::kRefused;
    if (outcome != Fetch::kDone) {
      if (piece != pieces::Plan::kNone) shared.plan.Release(piece);
      return outcome;
    }
    if (piece == pieces::Plan::kNone) piece = shared.plan.Take();
    if (piece != pieces::Plan::kNone) {
      outcome = FetchPiece(shared, piece, buffer, error);
      shared.plan.Release(piece);
    }
    if (!counted) server_slots::Give(shared.server);
    if (piece == pieces::Plan::kNone || outcome != Fetch::kDone) return outcome;
  }
}

void ConnectionThread(void* argument) {
  std::unique_ptr<Launch> launch(static_cast<Launch*>(argument));
  Shared& shared = *launch->shared;
  int error = 0;
  Fetch outcome = Fetch::kDone;
  if (launch->first) {
    if (launch->piece != pieces::Plan::kNone) {
      outcome = Pump(shared, launch->piece, *launch->first, launch->first_data, launch->first_size,
                     launch->waiting, kOpenEnd, &error);
      shared.plan.Release(launch->piece);
      launch->piece = pieces::Plan::kNone;
    }
    launch->first->Close();
  }
  if (outcome == Fetch::kDone) outcome = TakePieces(shared, launch->first != nullptr, launch->piece, &error);
  Record(shared, outcome, error);
  std::lock_guard<std::mutex> hold(shared.lock);
  --shared.running;
  shared.ended.notify_all();
}

bool StartConnection(const std::shared_ptr<Shared>& shared, Launch* launch) {
  launch->shared = shared;
  {
    std::lock_guard<std::mutex> hold(shared->lock);
    ++shared->running;
  }
  if (threads::StartDetached(ConnectionThread, launch)) return true;
  delete launch;
  std::lock_guard<std::mutex> hold(shared->lock);
  --shared->running;
  return false;
}

bool SaveControl(const Shared& shared, const std::string& local_file) {
  pieces::Control control;
  control.total = shared.plan.total();
  control.validator = shared.validator;
  control.done = shared.plan.Done();
  return pieces::Save(local_file, control);
}

std::vector<pieces::Range> DoneBefore(const session::Context& context) {
  if (context.resume && context.has_control) return context.control.done;
  return {{0, context.bytes_done}};
}

std::shared_ptr<Shared> MakeShared(const session::Context& context, fileio::File& file) {
  const std::uint64_t min_split =
      std::clamp<std::uint64_t>(context.total_size / 64, kSmallestMinSplit, kLargestMinSplit);
  auto shared = std::make_shared<Shared>(context.total_size, DoneBefore(context), min_split);
  shared->file = &file;
  shared->params = *context.params;
  shared->host_name = context.host_name;
  shared->target = context.request_target;  // HTTP; FTP asks for params.remote_path
  shared->validator = context.validator;
  shared->server = server_slots::ServerOf(context.params->host, context.params->port);
  shared->proxy_chosen = context.proxy_chosen;
  return shared;
}

// True once the rest of the file would take the first connection longer
// than g_worth_splitting_ms at the rate it has shown since started.
bool WorthMoreConnections(const Shared& shared, std::uint32_t started, std::uint64_t done_at_start) {
  const std::uint32_t elapsed = clock_seam::TickCount() - started;
  const std::uint64_t done = shared.plan.DoneBytes();
  const std::uint64_t worth = static_cast<std::uint64_t>(g_worth_splitting_ms.load());
  if (shared.plan.Complete()) return false;
  if (worth == 0) return true;
  if (elapsed < static_cast<std::uint32_t>(kSliceMs)) return false;
  const std::uint64_t moved = done - done_at_start;
  if (moved == 0) return elapsed >= worth;
  return (shared.plan.total() - done) * elapsed / moved > worth;
}

// Starts a connection for the rest of a piece whose connection has stalled
// at the end of the download; 1 when it did.
int TakeOverStalled(const std::shared_ptr<Shared>& shared) {
  const int piece = shared->plan.TakeStalled(kStalledMs);
  if (piece == pieces::Plan::kNone) return 0;
  auto* launch = new Launch;
  launch->piece = piece;
  if (!StartConnection(shared, launch)) shared->plan.Release(piece);
  return 1;
}

// Waits for the connections, meanwhile reporting the sum of their progress,
// saving the control file, passing on Stop and replacing connections that
// broke off (never ones the server refused: it would refuse them again)
// or stalled at the end.
void Supervise(session::Context& context, const std::shared_ptr<Shared>& shared, int wanted,
               int pending, bool saving, const std::string& local_file) {
  std::uint32_t last_save = clock_seam::TickCount();
  const std::uint32_t started = last_save;
  const std::uint64_t done_at_start = shared->plan.DoneBytes();
  int replaced = 0;
  int stalls = 0;
  for (;;) {
    if (pending > 0 && !shared->Ending() && WorthMoreConnections(*shared, started, done_at_start)) {
      shared->plan.Divide(shared->first_piece, pending + 1);
      for (; pending > 0; --pending) StartConnection(shared, new Launch);
    }
    if (stalls < 2 * wanted && !shared->Ending()) stalls += TakeOverStalled(shared);
    int starts = 0;
    {
      std::unique_lock<std::mutex> hold(shared->lock);
      shared->ended.wait_for(hold, std::chrono::milliseconds(kSliceMs));
      if (!shared->Ending() && shared->refused == 0 && shared->lost > replaced &&
          replaced < 2 * wanted && shared->running < wanted && !shared->plan.Complete()) {
        starts = shared->lost - replaced;
        replaced = shared->lost;
      }
      if (shared->running == 0 && starts == 0) break;
    }
    for (; starts > 0; --starts) StartConnection(shared, new Launch);
    if (session::StopRequested(context)) shared->stop = true;
    context.bytes_done = shared->plan.DoneBytes();
    session::ReportProgressThrottled(context, false);
    if (saving && clock_seam::TickCount() - last_save >= kSaveIntervalMs) {
      SaveControl(*shared, local_file);
      last_save = clock_seam::TickCount();
    }
  }
}

int Finish(session::Context& context, const Shared& shared, bool saving, const std::string& local_file) {
  context.bytes_done = shared.plan.DoneBytes();
  session::ReportProgressThrottled(context, true);
  if (shared.plan.Complete()) {
    pieces::Remove(local_file);
    translog::LogTransfer(context);
    session::ShowStatus(context, "Done");
    return session::kSuccess;
  }
  if (saving) SaveControl(shared, local_file);
  if (shared.changed) {
    session::Fail(context, "Failed", "Server copy changed");
  } else if (shared.write_failed) {
    session::ShowStatus(context, "File write error");
  } else if (shared.stop) {
    session::ShowStatus(context, "Cancelled");
  } else {
    session::Fail(context, "Transfer incomplete",
                  shared.last_error != 0 ? session::SocketErrorText(shared.last_error) : "Connection closed");
  }
  return session::kFailure;
}

}  // namespace

void OverrideConnections(int connections) { g_override.store(connections); }

void SetWorthSplittingMs(int ms) { g_worth_splitting_ms.store(ms); }

int ConnectionsWanted() {
  const int chosen = g_override.load() > 0 ? g_override.load() : settings::Live().split;
  return std::clamp(chosen, 1, kMostConnections);
}

std::int64_t ReadControl(session::Context& context, const std::string& local_file) {
  context.has_control = false;
  if (settings::Live().resume_option != 0) return -1;
  pieces::Control control;
  const pieces::Loaded loaded = pieces::Load(local_file, &control);
  if (loaded == pieces::Loaded::kAbsent) return -1;
  if (!fs::FileExists(local_file)) {
    pieces::Remove(local_file);  // it speaks of a file that is gone
    return -1;
  }
  if (loaded == pieces::Loaded::kGarbled) control = pieces::Control();
  // Written ranges lie within the file; a file cut short since lost the rest.
  control.done = pieces::Normalized(control.done, std::min(control.total, fs::FileSize(local_file)));
  context.has_control = true;
  context.control = control;
  if (control.done.empty() || control.done[0].begin > 0) return 0;
  return static_cast<std::int64_t>(control.done[0].end);
}

bool SameCopy(const session::Context& context) {
  const pieces::Control& control = context.control;
  if (!context.has_control || control.total == 0) return true;
  const bool same = context.total_size == control.total &&
                    (control.validator.empty() || context.validator.empty() ||
                     control.validator == context.validator);
  if (!same) session::Fail(context, "Failed", "Server copy changed");
  return same;
}

bool Wanted(const session::Context& context) {
  if (context.mode != session::kReceive || !context.params || context.total_size == 0) return false;
  const int protocol = context.params->protocol;
  // FTP pieces are cut only from a size SIZE told (accepts_ranges), and
  // only over FTP itself: through a proxy the link is fetched over HTTP.
  if (protocol == url::kFtp && (context.proxy_chosen || !context.accepts_ranges)) return false;
  if (protocol != url::kHttp && protocol != url::kHttps && protocol != url::kFtp) return false;
  if (context.has_control && context.resume) return true;
  const bool ranges = context.resume || context.accepts_ranges;
  return ranges && ConnectionsWanted() > 1 &&
         context.total_size >= static_cast<std::uint64_t>(std::max(settings::Live().split_min, 1));
}

int Run(session::Context& context, net::Socket& first, fileio::File& file, std::size_t waiting,
        const std::string& local_file) {
  std::shared_ptr<Shared> shared = MakeShared(context, file);
  context.resume_start = context.resume ? shared->plan.DoneBytes() : 0;
  // Before any connection writes past the first one's bytes: a crash must
  // leave a file whose holes are known.
  const bool saving = SaveControl(*shared, local_file);
  const int wanted = saving ? ConnectionsWanted() : 1;

  auto* launch = new Launch;
  launch->first = &first;
  launch->first_data = context.data.data();
  launch->first_size = context.data.size();
  launch->waiting = waiting;
  launch->piece = shared->plan.TakeAt(context.bytes_done);
  shared->first_piece = launch->piece;
  if (!StartConnection(shared, launch)) {
    session::Fail(context, "Failed to create thread", "Failed to create thread");
    return session::kFailure;
  }
  // A file left with holes needs its connections at once; a new download
  // first shows whether one connection will do.
  int pending = wanted - 1;
  if (context.has_control && context.resume) {
    for (; pending > 0; --pending) StartConnection(shared, new Launch);
  }
  Supervise(context, shared, wanted, pending, saving, local_file);
  return Finish(context, *shared, saving, local_file);
}

}  // namespace split
