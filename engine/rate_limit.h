// The speed limit of the program: one token bucket shared by every receive
// and send pump, downloads and uploads together (the SpeedLimit setting).
// The bucket lets at most a tenth of a second's worth pass at once, so the
// sum of all transfers never bursts far above the limit over any second.
// With no limit a pump pays one relaxed atomic load per block, no lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "engine/session.h"

namespace rate_limit {

// A token bucket over a clock in nanoseconds that never goes back. A grant is
// paid for before its bytes move: the caller waits wait_ns, then moves at
// most bytes. Safe from any thread.
class Bucket {
 public:
  using Clock = std::uint64_t (*)();
  explicit Bucket(Clock clock) : clock_(clock) {}

  // Bytes per second; 0 lets everything through at once.
  void SetRate(std::uint64_t bytes_per_second);

  struct Grant {
    std::size_t bytes;
    std::uint64_t wait_ns;
  };
  // Up to wanted bytes, never more than a burst (a tenth of a second's worth,
  // at least one byte); wanted 0 grants nothing.
  Grant Reserve(std::size_t wanted);
  // Pays back bytes of a grant that did not move.
  void Refund(std::size_t unused);
  // Books bytes that moved without a grant: the next grants wait for them.
  void Charge(std::size_t moved);

 private:
  std::uint64_t CostNs(std::size_t bytes) const;

  const Clock clock_;
  std::mutex lock_;  // guards the two below
  std::uint64_t rate_ = 0;
  // When the bucket is next empty: every grant so far has been paid up to here.
  std::uint64_t paid_until_ns_ = 0;
};

// The program's limit, in bytes per second; 0 = none.
void SetBytesPerSecond(std::uint64_t bytes_per_second);
std::uint64_t BytesPerSecond();

// A rate as parcelo's --limit-rate takes it, as curl reads its own: bytes
// per second as digits, or with a suffix K, M or G (either case) for KiB,
// MiB or GiB per second; 0 is no limit. False for anything else or above
// 1 TiB per second.
bool ParseRate(const std::string& text, std::uint64_t* bytes_per_second);

namespace detail {
extern std::atomic<std::uint64_t> g_bytes_per_second;
std::size_t AcquireLimited(std::size_t wanted, const std::function<bool()>& stopped);
void RefundLimited(std::size_t unused);
void ChargeLimited(std::size_t moved);
}  // namespace detail

// How many of wanted bytes the pump may move now, after waiting its turn;
// 0 when a Stop of the context's transfer came during the wait.
inline std::size_t Acquire(std::size_t wanted, const session::Context& context) {
  if (detail::g_bytes_per_second.load(std::memory_order_relaxed) == 0) return wanted;
  return detail::AcquireLimited(wanted, [&context] { return session::StopRequested(context); });
}

// As Acquire, for a pump whose Stop is told by stopped() (a piece of a split
// download, which has no row of its own).
inline std::size_t AcquireUnless(std::size_t wanted, const std::function<bool()>& stopped) {
  if (detail::g_bytes_per_second.load(std::memory_order_relaxed) == 0) return wanted;
  return detail::AcquireLimited(wanted, stopped);
}

// Gives back the bytes of an Acquire that did not move.
inline void Refund(std::size_t unused) {
  if (unused != 0 && detail::g_bytes_per_second.load(std::memory_order_relaxed) != 0) {
    detail::RefundLimited(unused);
  }
}

// Books bytes that came unasked (body bytes read with an HTTP header).
inline void Charge(std::size_t moved) {
  if (moved != 0 && detail::g_bytes_per_second.load(std::memory_order_relaxed) != 0) {
    detail::ChargeLimited(moved);
  }
}

}  // namespace rate_limit
