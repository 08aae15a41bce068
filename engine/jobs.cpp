#include "engine/jobs.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "engine/proxy.h"
#include "engine/rate_limit.h"
#include "engine/running.h"
#include "engine/server_slots.h"
#include "settings/places.h"
#include "engine/session.h"
#include "tasks/url.h"
#include "platform/clock.h"
#include "platform/prompts.h"
#include "platform/tasklist.h"
#include "platform/thread.h"
#include "settings/dialup.h"
#include "settings/settings.h"
#include "tasks/entries.h"
#include "tasks/taskfile.h"

namespace jobs {

const char kNothingToReceive[] = "Nothing to receive. Add URL from your browser to the listbox";
const char kQueued[] = "Queued";
const char kNothingToSend[] = "Nothing to send. Add files from your Windows Explorer to the listbox";

namespace {

void HeadlessModeChange(int mode, const std::string& task_path) {
  app::SetCurrentMode(mode);
  const std::string path = task_path.empty() ? app::DefaultTaskPath(mode) : task_path;
  entries::OpenTask(path);
}

// The causes of ended transfers, by row id (see CauseOfRow).
std::mutex g_causes_lock;
std::map<tasklist::RowId, std::string> g_causes;

void KeepCause(tasklist::RowId row, const std::string& cause) {
  std::lock_guard<std::mutex> hold(g_causes_lock);
  if (cause.empty()) {
    g_causes.erase(row);
  } else {
    g_causes[row] = cause;
  }
}

std::atomic<ModeChanger> g_mode_changer{nullptr};
std::atomic<ThreadStarter> g_thread_starter{nullptr};
std::atomic<EndingFault> g_ending_fault{nullptr};
std::atomic<std::uint32_t> g_pause_second_ms{1000};

std::atomic<int> g_cap_override{-1};
std::atomic<std::int64_t> g_rate_override{-1};

void ApplyLimitsOf(const settings::Record& live) {
  const int cap = g_cap_override.load();
  server_slots::SetCap(cap >= 0 ? cap : std::max(0, live.max_per_server));
  const std::int64_t rate = g_rate_override.load();
  rate_limit::SetBytesPerSecond(rate >= 0 ? static_cast<std::uint64_t>(rate)
                                          : static_cast<std::uint64_t>(std::max(0, live.speed_limit)) * 1024);
}

constexpr char kOutOfMemory[] = "Failed: out of memory";
// The pause between attempts looks for a Stop this often.
constexpr std::uint32_t kPauseSliceMs = 20;

// Set by every ending worker of the direction; on Win32 the named events
// that the shell creates at start-up.
threads::Event& EndEvent(int mode) {
  static threads::Event receive("EVENTTHREAD");
  static threads::Event send("EVENTTHREADSEND");
  return mode == session::kSend ? send : receive;
}

// The job settings taken when the walk starts.
struct JobSettings {
  bool firewall = false;
  int cycles = 0;
  proxy::Server http_proxy;
  proxy::Server ftp_proxy;
};

// One entry of the walk, made by the walker and owned by the worker that
// runs it (or by the queue of its server until then).
struct JobParams {
  session::AttemptParams attempt;
  std::string display_url;
  std::string line;  // the entry's task line
  std::string task_path;  // the task shown when the walk began
  std::string server;     // its slot (server_slots::ServerOf)
  int mode = session::kReceive;
  int row = 0;
  tasklist::RowId row_id = tasklist::kNoRow;
  int cycles = 0;
  JobHandle job;
};

// Waits RetryPauseMs(failed) unless a Stop came before or comes meanwhile;
// false after a Stop, the row told.
bool PauseBeforeRetry(const session::Context& context, int failed) {
  const std::uint32_t pause = RetryPauseMs(failed) * g_pause_second_ms.load() / 1000;
  const std::uint32_t start = clock_seam::TickCount();
  for (;;) {
    if (session::StopRequested(context)) {
      session::ShowStatus(context, "Cancelled");
      return false;
    }
    const std::uint32_t waited = clock_seam::TickCount() - start;
    if (waited >= pause) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(kPauseSliceMs, pause - waited)));
  }
}

// Up to cycles + 1 attempts, a growing pause between them; a followed
// redirect counts as success and ends the worker, and so does a Stop as a
// failure.
int RunAttempts(session::Context& context, const session::AttemptParams& entry, int cycles) {
  session::AttemptParams params = entry;
  for (int attempt = 0;; ++attempt) {
    settings::CheckDialup();
    // A name the server gave the local file in an earlier attempt is the entry's now.
    if (!context.server_local_file.empty()) params.local_file = context.server_local_file;
    const int result = session::RunAttempt(context, params);
    // Out of descriptors, most likely: the row must not go on saying
    // "Awaiting command" or "Resolving address".
    if (result == session::kNoSocket) session::Fail(context, "Failed to create socket", "Failed to create socket");
    if (result >= 0 || attempt >= cycles || result == session::kNotRetried) return result;
    if (!PauseBeforeRetry(context, attempt)) return result;
  }
}

// Best effort: the text itself needs memory that may not be there.
void ShowOutOfMemory(tasklist::RowId row_id) {
  try {
    tasklist::Current().SetCellOf(row_id, tasklist::kStatus, kOutOfMemory);
  } catch (...) {
  }
}

// The end of an entry that ran or was cancelled in its queue: the running
// transfer and the job count it, and the end event is set. Neither
// allocates nor throws.
void EndEntry(const JobParams& entry, int result) noexcept {
  app::TransferEnded(entry.row_id);
  EndEvent(entry.mode).Set();
  entry.job->WorkerEnded(entry.row, result);
}

// Nothing thrown here may leave the job waiting for this worker: whatever
// fails, the row ends "Failed: out of memory" and the job counts the end
// (WorkerEnded neither allocates nor throws). Its slot goes back before the
// job learns of the end, so the next entry of its server has started by then.
void Worker(void* argument) {
  const std::unique_ptr<JobParams> owned(static_cast<JobParams*>(argument));
  const JobParams& entry = *owned;
  int result = session::kFailure;
  bool out_of_memory = false;
  try {
    session::Context context;
    context.task_path = entry.task_path;
    context.mode = entry.mode;
    context.row_id = entry.row_id;
    context.start_row = entry.row;
    context.start_line = entry.line;
    context.host_name = entry.attempt.host;
    context.entry_local_file = entry.attempt.local_file;
    context.entry_url = entry.display_url;
    result = RunAttempts(context, entry.attempt, entry.cycles);
    KeepCause(entry.row_id, context.cause);
    const EndingFault fault = g_ending_fault.load();
    if (fault) fault(entry.row);
  } catch (...) {
    result = session::kFailure;
    out_of_memory = true;
  }
  if (out_of_memory) ShowOutOfMemory(entry.row_id);
  try {
    server_slots::Give(entry.server);
  } catch (...) {
    // The next entry's start ran out of memory telling its failure; this
    // entry still ends.
  }
  EndEntry(entry, result);
}

// Runs the entry on a new worker thread, which then owns it. When no thread
// can be made the row says so, and the box is shown once per job, not once
// per row of a large task; the entry ends at once (its slot is the caller's
// to give back). Returns false then.
bool Launch(std::unique_ptr<JobParams>& entry) {
  ThreadStarter starter = g_thread_starter.load();
  if ((starter ? starter : threads::StartDetached)(Worker, entry.get())) {
    entry.release();
    return true;
  }
  const char kNoThread[] = "Failed to create thread";
  tasklist::Current().SetCellOf(entry->row_id, tasklist::kStatus, kNoThread);
  try {
    KeepCause(entry->row_id, kNoThread);
  } catch (...) {
  }
  if (entry->job->FirstThreadFailure()) {
    prompts::Message(kNoThread, "Error", prompts::kOk | prompts::kTaskModal);
  }
  EndEntry(*entry, session::kFailure);
  return false;
}

// An entry waiting in its server's queue. The walker shows "Queued" only if
// the entry has not started meanwhile on the thread of a freed slot.
class QueuedEntry : public server_slots::Waiter {
 public:
  explicit QueuedEntry(std::unique_ptr<JobParams> entry) : entry_(std::move(entry)) {}

  bool Start() override {
    {
      std::lock_guard<std::mutex> hold(lock_);
      started_ = true;
    }
    app::SetQueued(entry_->row_id, false);
    return Launch(entry_);
  }
  // Walker only, after its queueing.
  void ShowQueued() {
    std::lock_guard<std::mutex> hold(lock_);
    if (!started_) tasklist::Current().SetCellOf(entry_->row_id, tasklist::kStatus, kQueued);
  }
  // Taken out of its queue by a Stop: the row tells so and the entry ends.
  void Cancel() {
    if (app::IsCurrentTaskPath(entry_->task_path)) {
      tasklist::Current().SetCellOf(entry_->row_id, tasklist::kStatus, "Cancelled");
    }
    KeepCause(entry_->row_id, "Cancelled");
    app::SetQueued(entry_->row_id, false);
    EndEntry(*entry_, session::kFailure);
  }
  // The first entry started at once; it never waited.
  bool LaunchNow() {
    started_ = true;
    return Launch(entry_);
  }

 private:
  std::unique_ptr<JobParams> entry_;
  std::mutex lock_;  // guards started_ against the walker's "Queued"
  bool started_ = false;
};

// Known as running from here on, so that a Stop pressed as soon as the job
// has started finds it, queued or not; then started when its server has a
// free slot, else queued.
void QueueOrStart(std::unique_ptr<JobParams> entry) {
  const JobHandle job = entry->job;
  const int row = entry->row;
  const tasklist::RowId row_id = entry->row_id;
  const std::string server = entry->server;
  job->WorkerStarting(row);
  std::shared_ptr<QueuedEntry> waiter;
  try {
    app::TransferStarted(row_id, entry->task_path, row, entry->line);
    KeepCause(row_id, std::string());  // the cause of an earlier run no longer holds
    waiter = std::make_shared<QueuedEntry>(std::move(entry));
    // Counted as waiting before it can start, so the start's uncounting
    // always comes after.
    app::SetQueued(row_id, true);
    if (!server_slots::TakeOrQueue(server, row_id, waiter)) {
      waiter->ShowQueued();
      return;
    }
    app::SetQueued(row_id, false);
  } catch (...) {
    // Nothing of the entry started; it ends at once.
    ShowOutOfMemory(row_id);
    app::TransferEnded(row_id);
    EndEvent(job->mode()).Set();
    job->WorkerNotStarted(row);
    return;
  }
  if (!waiter->LaunchNow()) server_slots::Give(server);
}

// Takes the row's entries out of their queues; true when there was one.
bool CancelQueued(tasklist::RowId row) {
  const std::vector<server_slots::WaiterHandle> taken = server_slots::Unqueue(row);
  for (const server_slots::WaiterHandle& waiter : taken) static_cast<QueuedEntry&>(*waiter).Cancel();
  return !taken.empty();
}

void ReportBadLink(const JobHandle& job, int row) {
  job->MarkBadLink(row);
  const int mode = job->mode();
  if (mode == session::kReceive) {
    tasklist::Current().SetCell(row, tasklist::kStatus, "Bad link");
  } else {
    prompts::Message("Bad link", "error", prompts::kOk | prompts::kTaskModal);
  }
}

// Host, user and password stay as written while a proxy gets the URL; the
// path is always decoded. False on a malformed escape.
bool DecodeUrl(url::Record& record, bool firewall) {
  if (!firewall && (url::PercentDecode(&record.host) != 0 || url::PercentDecode(&record.user) != 0 ||
                    url::PercentDecode(&record.password) != 0)) {
    return false;
  }
  return url::PercentDecode(&record.path) == 0;
}

// Walks rows 0 to row_count - 1 of the task at task_path. selection holds one
// flag per row, or is empty for all rows. A row whose link does not parse or
// decode is marked "Bad link", and the walk goes on.
void WalkTask(const JobHandle& job, const std::string& task_path, int row_count,
             const std::vector<char>& selection, const JobSettings& settings) {
  // All lines are read at once: the file lock is never held while the list
  // port or a prompt waits for the user-interface thread.
  std::vector<std::string> lines;
  taskfile::ReadLines(task_path, &lines);
  JobParams params;
  params.job = job;
  params.mode = job->mode();
  params.cycles = settings.cycles;
  params.task_path = task_path;
  tasklist::Port& list = tasklist::Current();
  for (int row = 0; row < row_count; ++row) {
    const std::string line = row < static_cast<int>(lines.size()) ? lines[row] : std::string();
    const taskfile::TaskLine fields = taskfile::SplitTaskLine(line);
    url::Record record;
    std::string display;
    const bool parsed = url::Parse(fields.url, &record, &display, nullptr) == 0;
    const proxy::Server from_environment =
        parsed && !settings.firewall ? proxy::ForLink(record.protocol, record.host) : proxy::Server();
    const bool environment_proxy = !from_environment.host.empty();
    if (!parsed || !DecodeUrl(record, settings.firewall || environment_proxy)) {
      ReportBadLink(job, row);
      continue;
    }
    if (!selection.empty() && !selection[row]) continue;
    url::TrimTrailingSpaces(&record.path);

    session::AttemptParams& attempt = params.attempt;
    attempt.user = record.user;
    attempt.password = record.password;
    attempt.host = record.host;
    // The proxy of the link's protocol: the settings', or while Firewall is 0
    // the one the environment names for it.
    const proxy::Server& http_proxy = environment_proxy ? from_environment : settings.http_proxy;
    const proxy::Server& ftp_proxy = environment_proxy ? from_environment : settings.ftp_proxy;
    attempt.http_proxy_host = http_proxy.host;
    attempt.ftp_proxy_host = ftp_proxy.host;
    attempt.http_proxy_port = http_proxy.port;
    attempt.ftp_proxy_port = ftp_proxy.port;
    const proxy::Server& used = record.protocol == url::kFtp ? ftp_proxy : http_proxy;
    attempt.proxy_user = used.user;
    attempt.proxy_password = used.password;
    attempt.environment_proxy = environment_proxy;
    attempt.local_file = fields.local_file;
    attempt.remote_path = record.path;
    attempt.protocol = record.protocol;
    attempt.port = record.port;
    params.display_url = display;
    params.line = line;
    params.row = row;
    params.row_id = list.IdOf(row);
    params.server = server_slots::ServerOf(record.host, record.port);
    QueueOrStart(std::make_unique<JobParams>(params));
  }
}

JobHandle StartJob(int mode, const std::string& task_path) {
  // The end events come into being here, before any worker of the job runs,
  // so that no two workers race to make them.
  EndEvent(mode);
  JobHandle job = std::make_shared<Job>(mode);
  if (app::CurrentMode() != mode) {
    ModeChanger changer = g_mode_changer.load();
    (changer ? changer : HeadlessModeChange)(mode, task_path);
  } else if (!task_path.empty()) {
    entries::OpenTask(task_path);
  }

  tasklist::Port& list = tasklist::Current();
  const int row_count = list.RowCount();
  if (row_count == 0) {
    prompts::Message(mode == session::kSend ? kNothingToSend : kNothingToReceive, "Message",
                     prompts::kIconInformation | prompts::kTaskModal);
    job->MarkEmpty();
    return job;
  }
  job->Prepare(row_count);
  std::vector<char> selection;
  if (list.SelectedCount() > 0) {
    selection.resize(static_cast<std::size_t>(row_count));
    for (int row = 0; row < row_count; ++row) selection[row] = list.IsSelected(row) ? 1 : 0;
  }

  const settings::Record live = settings::Live();
  ApplyLimitsOf(live);
  JobSettings settings;
  settings.firewall = live.firewall == 1;
  settings.cycles = mode == session::kSend ? live.cycle_upload : live.cycle_download;
  settings.http_proxy = proxy::FromAddress(live.firewall_address_http, static_cast<std::uint32_t>(live.firewall_port_http));
  settings.ftp_proxy = proxy::FromAddress(live.firewall_address_ftp, static_cast<std::uint32_t>(live.firewall_port_ftp));
  if (settings.http_proxy.user.empty()) {
    settings.http_proxy.user = live.http_proxy_user;
    settings.http_proxy.password = live.http_proxy_password;
  }
  WalkTask(job, app::CurrentTaskPath(), row_count, selection, settings);
  return job;
}

}  // namespace

bool Job::Empty() const {
  std::lock_guard<std::mutex> hold(lock_);
  return empty_;
}

std::vector<int> Job::StartedRows() const {
  std::lock_guard<std::mutex> hold(lock_);
  return started_;
}

std::vector<int> Job::BadLinkRows() const {
  std::lock_guard<std::mutex> hold(lock_);
  return bad_links_;
}

int Job::Running() const {
  std::lock_guard<std::mutex> hold(lock_);
  return running_;
}

bool Job::WaitUntilEnded(int timeout_ms) const {
  std::unique_lock<std::mutex> hold(lock_);
  if (timeout_ms < 0) {
    ended_.wait(hold, [this] { return running_ == 0; });
    return true;
  }
  return ended_.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                         [this] { return running_ == 0; });
}

bool Job::ResultOf(int row, int* result) const {
  std::lock_guard<std::mutex> hold(lock_);
  if (row < 0 || row >= static_cast<int>(results_.size()) || results_[row] == kNoResult) return false;
  *result = results_[row];
  return true;
}

void Job::Prepare(int row_count) {
  std::lock_guard<std::mutex> hold(lock_);
  const std::size_t rows = static_cast<std::size_t>(row_count);
  started_.reserve(rows);
  bad_links_.reserve(rows);
  results_.assign(rows, kNoResult);
}

void Job::MarkEmpty() {
  std::lock_guard<std::mutex> hold(lock_);
  empty_ = true;
}

void Job::MarkBadLink(int row) {
  std::lock_guard<std::mutex> hold(lock_);
  bad_links_.push_back(row);
}

void Job::WorkerStarting(int row) {
  std::lock_guard<std::mutex> hold(lock_);
  started_.push_back(row);
  ++running_;
}

bool Job::FirstThreadFailure() { return !thread_failure_told_.exchange(true); }

void Job::WorkerNotStarted(int row) noexcept { WorkerEnded(row, session::kFailure); }

void Job::WorkerEnded(int row, int result) noexcept {
  std::lock_guard<std::mutex> hold(lock_);
  results_[row] = result;
  --running_;
  ended_.notify_all();
}

JobHandle StartReceiveJob(const std::string& task_path) {
  return StartJob(session::kReceive, task_path);
}

JobHandle StartSendJob(const std::string& task_path) { return StartJob(session::kSend, task_path); }

void ApplyLimits() { ApplyLimitsOf(settings::Live()); }

void OverrideLimits(int max_per_server, std::int64_t bytes_per_second) {
  g_cap_override.store(max_per_server);
  g_rate_override.store(bytes_per_second);
}

void InstallModeChanger(ModeChanger changer) { g_mode_changer.store(changer); }

void InstallThreadStarter(ThreadStarter starter) { g_thread_starter.store(starter); }

std::string CauseOfRow(tasklist::RowId row) {
  std::lock_guard<std::mutex> hold(g_causes_lock);
  const auto found = g_causes.find(row);
  return found == g_causes.end() ? std::string() : found->second;
}

void InstallEndingFault(EndingFault fault) { g_ending_fault.store(fault); }

bool StopSelectedTransfer() {
  tasklist::Port& list = tasklist::Current();
  const int row_count = list.RowCount();
  for (int row = 0; row < row_count; ++row) {
    if (list.IsSelected(row) && StopTransferOf(list.IdOf(row))) return true;
  }
  return false;
}

bool StopTransferOf(tasklist::RowId row) {
  // A row may have a queued entry and a running one when its job was
  // started twice: the Stop reaches both.
  const bool unqueued = CancelQueued(row);
  return app::MarkStop(row) || unqueued;
}

int DeleteSelectedRows() {
  return entries::DeleteEntries([](tasklist::RowId deleted) { StopTransferOf(deleted); });
}

std::uint32_t RetryPauseMs(int failed) {
  constexpr std::uint32_t kLongestMs = 30000;
  return failed >= 5 ? kLongestMs : std::min(kLongestMs, 1000u << failed);
}

void SetRetryPauseSecond(std::uint32_t second_ms) { g_pause_second_ms.store(second_ms); }

}  // namespace jobs
