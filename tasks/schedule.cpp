#include "tasks/schedule.h"

#include <algorithm>
#include <cstdio>

#include "settings/places.h"
#include "platform/atol.h"

namespace schedule {
namespace {

constexpr int kMinutesPerDay = 24 * 60;

bool Blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// One decimal integer as scanf's %d reads it (blanks, a sign, at least one
// digit), saturating instead of overflowing. Advances *at past it.
bool ReadInteger(const std::string& text, std::size_t* at, long* value) {
  std::size_t i = *at;
  while (i < text.size() && Blank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::size_t digits = i;
  long magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = std::min(magnitude * 10 + (text[i] - '0'), 1000000L);
  }
  if (i == digits) return false;
  *value = negative ? -magnitude : magnitude;
  *at = i;
  return true;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t year_of_era = year - era * 400;
  const std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

void CivilFromDays(std::int64_t days, int* year, int* month, int* day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t day_of_era = days - era * 146097;
  const std::int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t mp = (5 * day_of_year + 2) / 153;
  *day = static_cast<int>(day_of_year - (153 * mp + 2) / 5 + 1);
  *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = static_cast<int>(year_of_era + era * 400 + (*month <= 2));
}

void SetDue(Job* job, std::int64_t due) {
  job->due = due;
  const std::int64_t of_day = ((due % kMinutesPerDay) + kMinutesPerDay) % kMinutesPerDay;
  job->hour = static_cast<int>(of_day / 60);
  job->minute = static_cast<int>(of_day % 60);
}

bool g_marks[2] = {false, false};

}  // namespace

bool ParseTime(const std::string& text, int* hour, int* minute) {
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  std::string numbers = text;
  numbers[colon] = ' ';
  std::size_t at = 0;
  long h = 0, m = 0;
  if (!ReadInteger(numbers, &at, &h) || !ReadInteger(numbers, &at, &m)) return false;
  if (h < 0 || h > 23 || m < 0 || m > 59) return false;
  *hour = static_cast<int>(h);
  *minute = static_cast<int>(m);
  return true;
}

bool ParseRepeat(const std::string& text, int* repeat) {
  const std::int32_t value = numbers::ReadLikeAtol(text);
  if (value < 0) return false;
  *repeat = value;
  return true;
}

std::string FormatTime(int hour, int minute) {
  char text[32];
  std::snprintf(text, sizeof text, "%2.2d:%2.2d", hour, minute);
  return text;
}

void SetMark(int mode, bool marked) { g_marks[mode == app::kSendMode ? 1 : 0] = marked; }
bool Marked(int mode) { return g_marks[mode == app::kSendMode ? 1 : 0]; }
bool AnyMarked() { return g_marks[0] || g_marks[1]; }

std::int64_t MinuteNumber(const clock_seam::LocalTime& time) {
  return DaysFromCivil(time.year, time.month, time.day) * kMinutesPerDay + time.hour * 60 + time.minute;
}

clock_seam::LocalTime FromMinuteNumber(std::int64_t minutes) {
  const std::int64_t days = (minutes >= 0 ? minutes : minutes - (kMinutesPerDay - 1)) / kMinutesPerDay;
  const int of_day = static_cast<int>(minutes - days * kMinutesPerDay);
  clock_seam::LocalTime time{};
  CivilFromDays(days, &time.year, &time.month, &time.day);
  time.hour = of_day / 60;
  time.minute = of_day % 60;
  return time;
}

int Scheduler::Schedule(const std::string& task_path, int hour, int minute, int repeat) {
  jobs_.erase(std::remove_if(jobs_.begin(), jobs_.end(),
                             [&](const Job& job) { return job.task_path == task_path; }),
              jobs_.end());
  const std::int64_t now = MinuteNumber(clock_seam::Now());
  std::int64_t due = now - ((now % kMinutesPerDay) + kMinutesPerDay) % kMinutesPerDay + hour * 60 + minute;
  if (due < now) due += kMinutesPerDay;
  Job job;
  job.task_path = task_path;
  job.repeat = repeat;
  job.timer_id = next_timer_id_++;
  SetDue(&job, due);
  jobs_.push_back(job);
  return job.timer_id;
}

const Job* Scheduler::Find(const std::string& task_path) const {
  for (const Job& job : jobs_) {
    if (job.task_path == task_path) return &job;
  }
  return nullptr;
}

Scheduler::TickResult Scheduler::Tick(int timer_id, const Starter& start) {
  auto job = std::find_if(jobs_.begin(), jobs_.end(), [&](const Job& j) { return j.timer_id == timer_id; });
  if (job == jobs_.end()) return TickResult::kNoJob;
  const std::int64_t now = MinuteNumber(clock_seam::Now());
  if (now < job->due) return TickResult::kNotYet;

  const std::string task_path = job->task_path;
  TickResult result = TickResult::kStartedOnce;
  if (job->repeat == 0) {
    jobs_.erase(job);
  } else {
    const std::int64_t passed = (now - job->due) / job->repeat + 1;
    SetDue(&*job, job->due + passed * job->repeat);
    result = TickResult::kStartedAgainLater;
  }
  start(task_path, task_path.find(".rcv") != std::string::npos);
  return result;
}

Scheduler& Jobs() {
  static Scheduler scheduler;
  return scheduler;
}

void ForgetAll() {
  Jobs() = Scheduler();
  g_marks[0] = g_marks[1] = false;
}

}  // namespace schedule
