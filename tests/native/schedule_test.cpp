// Scheduled jobs against a clock that the test sets: when each job starts,
// how it is replaced, advanced and removed, and the time dialog's texts.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "tasks/schedule.h"

namespace {

using Texts = std::vector<std::string>;
using Result = schedule::Scheduler::TickResult;

clock_seam::LocalTime g_now;
clock_seam::LocalTime FakeNow() { return g_now; }

class Schedule : public ::testing::Test {
 protected:
  Schedule() {
    At(2026, 3, 14, 9, 0, 0);
    clock_seam::OverrideNow(&FakeNow);
  }
  ~Schedule() override { clock_seam::OverrideNow(nullptr); }

  static void At(int year, int month, int day, int hour, int minute, int second) {
    g_now = {year, month, day, hour, minute, second};
  }
  static void At(int hour, int minute, int second = 30) { At(2026, 3, 14, hour, minute, second); }

  // Ticks the timer and records each start as "day HH:MM path r|s".
  Result Tick(int timer_id) {
    return scheduler.Tick(timer_id, [&](const std::string& path, bool receive) {
      starts.push_back(std::to_string(g_now.day) + " " + schedule::FormatTime(g_now.hour, g_now.minute) + " " +
                       path + (receive ? " r" : " s"));
    });
  }
  // A tick of every timer once a minute, at second 30, for minutes from
  // from_hour:from_minute of March 14 on (into the next day past midnight).
  void TickEveryMinute(const std::vector<int>& timers, int from_hour, int from_minute, int minutes) {
    for (int i = 0; i < minutes; ++i) {
      const int total = from_hour * 60 + from_minute + i;
      At(2026, 3, 14 + total / 1440, total / 60 % 24, total % 60, 30);
      for (int timer : timers) Tick(timer);
    }
  }

  // The next start of the task's job as "HH:MM"; "none" without a job.
  std::string NextStart(const std::string& path) {
    const auto* job = scheduler.Find(path);
    return job ? schedule::FormatTime(job->hour, job->minute) : "none";
  }

  schedule::Scheduler scheduler;
  Texts starts;
};

TEST_F(Schedule, AOneOffJobStartsAtItsMinuteThenGoes) {
  const int timer = scheduler.Schedule("C:\\P\\Default.rcv", 10, 15, 0);
  EXPECT_EQ(0, timer);
  TickEveryMinute({timer}, 9, 0, 75);
  EXPECT_TRUE(starts.empty());
  At(10, 15, 5);
  EXPECT_EQ(Result::kStartedOnce, Tick(timer));
  EXPECT_EQ(Texts{"14 10:15 C:\\P\\Default.rcv r"}, starts);
  EXPECT_TRUE(scheduler.jobs().empty());
  At(10, 16);
  EXPECT_EQ(Result::kNoJob, Tick(timer));
  EXPECT_EQ(1u, starts.size());
}

TEST_F(Schedule, ARepeatingJobStartsEveryNMinutesAndWrapsPastMidnight) {
  const int timer = scheduler.Schedule("/p/up.snd", 10, 15, 30);
  TickEveryMinute({timer}, 10, 0, 90);
  EXPECT_EQ((Texts{"14 10:15 /p/up.snd s", "14 10:45 /p/up.snd s", "14 11:15 /p/up.snd s"}), starts);
  EXPECT_EQ("11:45", NextStart("/p/up.snd"));

  // 23:30 every 50 minutes: 00:20 and 01:10 of the next day.
  starts.clear();
  At(23, 0);
  TickEveryMinute({scheduler.Schedule("/p/late.rcv", 23, 30, 50)}, 23, 0, 140);
  EXPECT_EQ((Texts{"14 23:30 /p/late.rcv r", "15 00:20 /p/late.rcv r", "15 01:10 /p/late.rcv r"}), starts);
  EXPECT_EQ("02:00", NextStart("/p/late.rcv"));
}

TEST_F(Schedule, ATimeAlreadyPassedMeansTomorrowAndTheCurrentMinuteMeansNow) {
  At(23, 50);
  const int after_midnight = scheduler.Schedule("/p/a.rcv", 0, 10, 0);
  At(10, 16);
  const int passed = scheduler.Schedule("/p/b.rcv", 10, 15, 0);
  At(10, 15, 40);
  const int this_minute = scheduler.Schedule("/p/c.rcv", 10, 15, 0);
  // The first tick comes a minute later.
  At(10, 16, 40);
  for (int timer : {after_midnight, passed, this_minute}) Tick(timer);
  EXPECT_EQ(Texts{"14 10:16 /p/c.rcv r"}, starts);
  At(2026, 3, 15, 0, 9, 59);
  for (int timer : {after_midnight, passed}) Tick(timer);
  EXPECT_EQ(1u, starts.size());
  At(2026, 3, 15, 0, 10, 0);
  for (int timer : {after_midnight, passed}) Tick(timer);
  EXPECT_EQ(2u, starts.size());
  At(2026, 3, 15, 10, 15, 0);
  for (int timer : {after_midnight, passed}) Tick(timer);
  EXPECT_EQ((Texts{"14 10:16 /p/c.rcv r", "15 00:10 /p/a.rcv r", "15 10:15 /p/b.rcv r"}), starts);
}

TEST_F(Schedule, ASecondScheduleOfATaskReplacesTheFirstAndTwoTasksKeepTheirOwnTimes) {
  const int first = scheduler.Schedule("/p/Default.rcv", 10, 15, 0);
  const int second = scheduler.Schedule("/p/Default.rcv", 10, 20, 0);
  const int other = scheduler.Schedule("/p/Default.snd", 10, 17, 0);
  EXPECT_EQ((std::vector<int>{0, 1, 2}), (std::vector<int>{first, second, other}));
  ASSERT_EQ(2u, scheduler.jobs().size());
  EXPECT_EQ("/p/Default.rcv", scheduler.jobs()[0].task_path);
  EXPECT_EQ("10:20", NextStart("/p/Default.rcv"));
  // The path comparison is exact.
  EXPECT_EQ("none", NextStart("/p/default.rcv"));

  At(10, 15);
  EXPECT_EQ(Result::kNoJob, Tick(first));
  EXPECT_EQ(Result::kNotYet, Tick(second));
  TickEveryMinute({first, second, other}, 10, 15, 10);
  EXPECT_EQ((Texts{"14 10:17 /p/Default.snd s", "14 10:20 /p/Default.rcv r"}), starts);
  EXPECT_TRUE(scheduler.jobs().empty());

}

TEST_F(Schedule, AClockThatSkipsTheMinuteOrJumpsAheadStillStartsOnce) {
  // Ticks drift: 10:14:59 and then 10:16:00, never within 10:15.
  const int once = scheduler.Schedule("/p/once.rcv", 10, 15, 0);
  const int every = scheduler.Schedule("/p/every.rcv", 10, 15, 30);
  // The tick's time and timer, its result, and the repeating job's next start after it.
  const struct { int hour, minute, second, timer; Result result; const char* next; } ticks[] = {
      {10, 14, 59, once, Result::kNotYet, "10:15"},       {10, 14, 59, every, Result::kNotYet, "10:15"},
      {10, 16, 0, once, Result::kStartedOnce, "10:15"},   {10, 16, 0, every, Result::kStartedAgainLater, "10:45"},
      {10, 17, 0, once, Result::kNoJob, "10:45"},         {10, 17, 0, every, Result::kNotYet, "10:45"},
      // Suspended from 10:17 to 13:07: one start, the missed ones skipped, and
      // the next at its place in the rhythm.
      {13, 7, 10, every, Result::kStartedAgainLater, "13:15"}, {13, 8, 10, every, Result::kNotYet, "13:15"},
      {13, 15, 0, every, Result::kStartedAgainLater, "13:45"},
  };
  for (const auto& t : ticks) {
    At(t.hour, t.minute, t.second);
    EXPECT_EQ(t.result, Tick(t.timer)) << t.hour << ":" << t.minute;
    EXPECT_EQ(t.next, NextStart("/p/every.rcv")) << t.hour << ":" << t.minute;
  }
  EXPECT_EQ((Texts{"14 10:16 /p/once.rcv r", "14 10:16 /p/every.rcv r", "14 13:07 /p/every.rcv r",
                   "14 13:15 /p/every.rcv r"}),
            starts);
}

TEST_F(Schedule, ATickDuringAStartDoesNotStartTheSameJobAgain) {
  const int timer = scheduler.Schedule("/p/Default.rcv", 10, 15, 0);
  At(10, 15);
  int nested = -1;
  scheduler.Tick(timer, [&](const std::string&, bool) {
    // The start shows a modal box whose loop dispatches the next tick.
    nested = static_cast<int>(Tick(timer));
  });
  EXPECT_EQ(static_cast<int>(Result::kNoJob), nested);
  EXPECT_TRUE(starts.empty());
}

TEST(ScheduleTexts, TimesAndRepeatsAreReadAsTheDialogTakesThem) {
  const struct { const char* text; bool ok; int hour, minute; } times[] = {
      {"7:5", true, 7, 5},     {"23:59", true, 23, 59}, {"00:00", true, 0, 0}, {" 9 : 05", true, 9, 5},
      {"24:00", false, 0, 0},  {"12:60", false, 0, 0},  {"12.30", false, 0, 0}, {"", false, 0, 0},
      {":30", false, 0, 0},    {"12:", false, 0, 0},    {"-1:30", false, 0, 0}, {"99999999999:1", false, 0, 0},
      {"ab:cd", false, 0, 0},
  };
  for (const auto& t : times) {
    SCOPED_TRACE(t.text);
    int hour = -1, minute = -1;
    EXPECT_EQ(t.ok, schedule::ParseTime(t.text, &hour, &minute));
    if (t.ok) { EXPECT_EQ(std::make_pair(t.hour, t.minute), std::make_pair(hour, minute)); }
  }
  EXPECT_EQ("07:05", schedule::FormatTime(7, 5));

  const struct { const char* text; bool ok; int repeat; } repeats[] = {
      {"", true, 0}, {"30", true, 30}, {" 15min", true, 15}, {"x", true, 0}, {"-1", false, 0}, {"-0", true, 0},
  };
  for (const auto& r : repeats) {
    SCOPED_TRACE(r.text);
    int repeat = -1;
    EXPECT_EQ(r.ok, schedule::ParseRepeat(r.text, &repeat));
    if (r.ok) { EXPECT_EQ(r.repeat, repeat); }
  }
}

TEST(ScheduleTexts, MinuteNumbersCrossMonthsYearsAndLeapDays) {
  const clock_seam::LocalTime days[] = {
      {2024, 2, 29, 23, 59, 0}, {2024, 3, 1, 0, 0, 0}, {2026, 12, 31, 23, 59, 0}, {2027, 1, 1, 0, 0, 0},
      {2100, 2, 28, 23, 59, 0}, {2100, 3, 1, 0, 0, 0},  // no leap day in 2100
      {1970, 1, 1, 0, 0, 0},
  };
  for (int i : {0, 2, 4}) EXPECT_EQ(1, schedule::MinuteNumber(days[i + 1]) - schedule::MinuteNumber(days[i])) << i;
  EXPECT_EQ(0, schedule::MinuteNumber(days[6]));
  for (const auto& d : days) {
    const clock_seam::LocalTime back = schedule::FromMinuteNumber(schedule::MinuteNumber(d));
    EXPECT_EQ((std::vector<int>{d.year, d.month, d.day, d.hour, d.minute}),
              (std::vector<int>{back.year, back.month, back.day, back.hour, back.minute}));
  }
}

}  // namespace
