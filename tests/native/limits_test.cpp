// The cap on connections per server with its queue of waiting entries, the
// shared speed limit's token bucket (on a clock of the test's own), and the
// --limit-rate values of parcelo.

#include <memory>

#include "engine/rate_limit.h"
#include "engine/server_slots.h"
#include "native/fixtures.h"

namespace {

// A waiting entry that records when it starts; one made to fail gives its
// slot on.
struct Recorded : server_slots::Waiter {
  Recorded(std::vector<int>* starts, int id, bool fails) : starts(starts), id(id), fails(fails) {}
  bool Start() override {
    starts->push_back(id);
    return !fails;
  }
  std::vector<int>* starts;
  int id;
  bool fails;
};

TEST(ServerSlots, WaitingEntriesStartInQueueOrderAsSlotsFreeAndNoneJumpsTheQueue) {
  const std::string a = server_slots::ServerOf("Mirror.Example", 80), b = server_slots::ServerOf("mirror.example", 81);
  EXPECT_EQ("mirror.example:80", a);
  server_slots::SetCap(2);
  std::vector<int> starts;
  const auto queue = [&](const std::string& server, int id, bool fails = false) {
    return server_slots::TakeOrQueue(server, 100 + id, std::make_shared<Recorded>(&starts, id, fails));
  };
  EXPECT_TRUE(queue(a, 0));
  EXPECT_TRUE(server_slots::TryTake(a));  // a piece of entry 0
  EXPECT_FALSE(queue(a, 1));
  EXPECT_FALSE(queue(a, 2, true));
  EXPECT_FALSE(queue(a, 3));
  EXPECT_FALSE(queue(a, 4));
  EXPECT_TRUE(queue(b, 5));  // another port is another server
  EXPECT_EQ((std::vector<int>{2, 4}), (std::vector<int>{server_slots::InUse(a), server_slots::Waiting(a)}));

  EXPECT_EQ(1u, server_slots::Unqueue(103).size());  // a Stop takes 3 out
  EXPECT_TRUE(server_slots::Unqueue(103).empty());
  server_slots::Give(a);  // 1 starts
  server_slots::Give(a);  // 2 fails to start and hands its slot to 4
  EXPECT_EQ((std::vector<int>{1, 2, 4}), starts);
  EXPECT_FALSE(server_slots::TryTake(a));  // full: 1 and 4 hold the slots

  EXPECT_FALSE(queue(a, 6));
  EXPECT_FALSE(queue(a, 7));
  EXPECT_FALSE(server_slots::TryTake(a));  // a piece waits behind queued entries, even with a slot free after a raise
  server_slots::SetCap(0);                 // no cap: everyone waiting starts
  EXPECT_EQ((std::vector<int>{1, 2, 4, 6, 7}), starts);
  EXPECT_TRUE(server_slots::TryTake(a));
  for (int held = server_slots::InUse(a); held > 0; --held) server_slots::Give(a);
  server_slots::Give(b);
  EXPECT_EQ(0, server_slots::InUse(a) + server_slots::InUse(b) + server_slots::Waiting(a));
}

// The bucket's clock, moved by the test.
std::uint64_t g_now_ns = 0;
std::uint64_t TestClock() { return g_now_ns; }

TEST(SpeedLimit, GrantsComeInBurstsOfATenthOfASecondAndBookedBytesMoveTheNext) {
  g_now_ns = 5'000'000'000;
  rate_limit::Bucket bucket(&TestClock);
  EXPECT_EQ(65536u, bucket.Reserve(65536).bytes);  // no limit: everything at once
  bucket.SetRate(10000);
  // {clock step ms, booked before it (< 0: refunded, > 0: charged), wanted} -> {granted, wait ms}
  const struct { std::uint64_t step_ms; long booked; std::size_t wanted, granted, wait_ms; } steps[] = {
      {0, 0, 65536, 1000, 0},     // one burst at once
      {0, 0, 65536, 1000, 100},   // the next waits for its tenth
      {0, 0, 300, 300, 130},
      {50, 0, 300, 300, 110},
      {0, -600, 300, 300, 80},    // two grants unused: the next comes sooner
      {0, 500, 300, 300, 160},    // bytes that came unasked: later
      {10000, 0, 1000, 1000, 0},  // idle for long: one burst, no more
      {0, 0, 1000, 1000, 100},
  };
  for (const auto& s : steps) {
    g_now_ns += s.step_ms * 1'000'000;
    if (s.booked < 0) bucket.Refund(static_cast<std::size_t>(-s.booked));
    if (s.booked > 0) bucket.Charge(static_cast<std::size_t>(s.booked));
    const rate_limit::Bucket::Grant grant = bucket.Reserve(s.wanted);
    EXPECT_EQ(s.granted, grant.bytes) << s.step_ms << " " << s.wanted;
    EXPECT_EQ(s.wait_ms, grant.wait_ns / 1'000'000) << s.step_ms << " " << s.wanted;
  }
}

TEST(LimitRate, ReadsBytesPerSecondWithBinarySuffixesAsCurlDoes) {
  const struct { const char* text; bool ok; std::uint64_t bytes; } cases[] = {
      {"0", true, 0},        {"500", true, 500},          {"500K", true, 512000}, {"500k", true, 512000},
      {"2M", true, 2097152}, {"1G", true, 1073741824},    {"1024G", true, 1ull << 40},
      {"1025G", false, 0},   {"", false, 0},              {"K", false, 0},        {"5X", false, 0},
      {"5KB", false, 0},     {"-5", false, 0},            {"1.5M", false, 0},     {" 5", false, 0},
      {"99999999999999", false, 0},
  };
  for (const auto& c : cases) {
    std::uint64_t bytes = 7;
    EXPECT_EQ(c.ok, rate_limit::ParseRate(c.text, &bytes)) << c.text;
    EXPECT_EQ(c.ok ? c.bytes : 7, bytes) << c.text;
  }
}

}  // namespace
