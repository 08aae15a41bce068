// The progress report of a running transfer: columns 2 to 5 of its row.
#include <cinttypes>
#include <cstdio>

#include "settings/places.h"
#include "engine/jobs.h"
#include "engine/session.h"
#include "engine/text_format.h"
#include "platform/clock.h"
#include "platform/tasklist.h"

namespace jobs {
namespace {

// A time left beyond this (over eleven years) is shown as this: the float
// division of a huge remainder by a tiny rate must not overflow the cast.
constexpr float kLongestTimeLeftMs = 3.6e11f;

int Percent(std::uint64_t bytes_done, std::uint64_t total_size) {
  if (total_size == 0) return 0;
  if (bytes_done >= total_size) return 100;
  const double percent = static_cast<double>(bytes_done) / (static_cast<double>(total_size) * 0.01);
  return percent >= 100.0 ? 100 : static_cast<int>(percent);
}

}  // namespace

std::string FormatDuration(std::uint64_t ms) {
  const std::uint64_t hours = ms / 3600000;
  const std::uint64_t minutes = ms / 60000 - hours * 60;
  const std::uint64_t seconds = ms / 1000 - minutes * 60 - hours * 3600;
  return text::Format("%02" PRIu64 ":%02" PRIu64 ":%02" PRIu64, hours, minutes, seconds);
}

ProgressTexts ComputeProgress(std::uint64_t bytes_done, std::uint64_t total_size,
                              std::uint64_t resume_start, std::uint32_t elapsed_ms,
                              bool unconfirmed) {
  ProgressTexts texts;
  texts.bytes = text::Format("Totalbyte %" PRIu64 " / %" PRIu64, bytes_done, total_size);
  texts.rate = "0";
  if (elapsed_ms >= 1000) {
    // Bytes per second of this attempt: what an earlier attempt left does
    // not count.
    const std::uint64_t seconds = elapsed_ms / 1000;
    const std::uint64_t fresh = bytes_done > resume_start ? bytes_done - resume_start : 0;
    const std::uint64_t rate = fresh / seconds;
    const float per_ms = static_cast<float>(rate) * 0.001f;
    if (total_size != 0 && per_ms > 0) {
      std::uint64_t left_ms = 0;
      if (bytes_done < total_size) {
        const float left = static_cast<float>(total_size - bytes_done) / per_ms;
        left_ms = static_cast<std::uint64_t>(left < kLongestTimeLeftMs ? left : kLongestTimeLeftMs);
      }
      texts.time = FormatDuration(elapsed_ms) + ":" + FormatDuration(left_ms);
    }
    texts.rate = text::Format("%" PRIu64, rate);
  }
  const int percent = Percent(bytes_done, total_size);
  texts.status = text::Format("Percent=%d", unconfirmed && percent == 100 ? 99 : percent);
  return texts;
}

void ReportProgress(const session::Context& context) {
  if (!app::IsCurrentTaskPath(context.task_path)) return;
  const std::uint32_t elapsed = clock_seam::TickCount() - context.start_tick;
  const ProgressTexts texts =
      ComputeProgress(context.bytes_done, context.total_size, context.resume_start, elapsed,
                      context.unconfirmed);
  tasklist::Port& list = tasklist::Current();
  // One step of the list: the four columns land in one row, even when a
  // row above it is deleted meanwhile.
  list.WithRow(context.row_id, [&](int row) {
    if (row < 0) return;
    list.SetCell(row, tasklist::kBytes, texts.bytes);
    if (!texts.time.empty()) list.SetCell(row, tasklist::kTime, texts.time);
    list.SetCell(row, tasklist::kRate, texts.rate);
    list.SetCell(row, tasklist::kStatus, texts.status);
  });
}

}  // namespace jobs
