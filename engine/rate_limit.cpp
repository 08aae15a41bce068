#include "engine/rate_limit.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <thread>

namespace rate_limit {
namespace {

constexpr std::uint64_t kSecondNs = 1000000000;
// A waiting pump looks for a Stop this often.
constexpr std::uint64_t kWaitSliceNs = 50000000;

std::uint64_t SteadyNs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

Bucket& Shared() {
  static Bucket bucket(&SteadyNs);
  return bucket;
}

}  // namespace

namespace detail {

std::atomic<std::uint64_t> g_bytes_per_second{0};

std::size_t AcquireLimited(std::size_t wanted, const std::function<bool()>& stopped) {
  const Bucket::Grant grant = Shared().Reserve(wanted);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::nanoseconds(grant.wait_ns);
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return grant.bytes;
    if (stopped()) {
      Shared().Refund(grant.bytes);
      return 0;
    }
    std::this_thread::sleep_for(std::min<std::chrono::nanoseconds>(deadline - now, std::chrono::nanoseconds(kWaitSliceNs)));
  }
}

void RefundLimited(std::size_t unused) { Shared().Refund(unused); }

void ChargeLimited(std::size_t moved) { Shared().Charge(moved); }

}  // namespace detail

void Bucket::SetRate(std::uint64_t bytes_per_second) {
  std::lock_guard<std::mutex> hold(lock_);
  rate_ = bytes_per_second;
}

std::uint64_t Bucket::CostNs(std::size_t bytes) const {
  // Bytes of one grant stay below 2^32, so the product cannot overflow.
  return static_cast<std::uint64_t>(bytes) * kSecondNs / rate_;
}

Bucket::Grant Bucket::Reserve(std::size_t wanted) {
  std::lock_guard<std::mutex> hold(lock_);
  if (rate_ == 0 || wanted == 0) return {wanted, 0};
  const std::uint64_t burst = std::max<std::uint64_t>(1, rate_ / 10);
  const std::size_t bytes = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, burst));
  const std::uint64_t now = clock_();
  // An idle bucket fills up to one burst, no more: what was not used while
  // nothing moved is not saved up for later.
  const std::uint64_t tolerance = burst == 1 ? kSecondNs / rate_ : kSecondNs / 10;
  paid_until_ns_ = std::max(paid_until_ns_, now) + CostNs(bytes);
  const std::uint64_t may_start_after_now = paid_until_ns_ - now;  // > 0
  return {bytes, may_start_after_now > tolerance ? may_start_after_now - tolerance : 0};
}

void Bucket::Refund(std::size_t unused) {
  std::lock_guard<std::mutex> hold(lock_);
  if (rate_ == 0) return;
  const std::uint64_t cost = CostNs(unused);
  paid_until_ns_ = paid_until_ns_ > cost ? paid_until_ns_ - cost : 0;
}

void Bucket::Charge(std::size_t moved) {
  std::lock_guard<std::mutex> hold(lock_);
  if (rate_ == 0) return;
  paid_until_ns_ = std::max(paid_until_ns_, clock_()) + CostNs(moved);
}

void SetBytesPerSecond(std::uint64_t bytes_per_second) {
  Shared().SetRate(bytes_per_second);
  detail::g_bytes_per_second.store(bytes_per_second, std::memory_order_relaxed);
}

std::uint64_t BytesPerSecond() { return detail::g_bytes_per_second.load(std::memory_order_relaxed); }

bool ParseRate(const std::string& text, std::uint64_t* bytes_per_second) {
  // At most 2^40 bytes per second, so that no product below can overflow.
  constexpr std::uint64_t kMost = 1ull << 40;
  std::size_t digits = text.find_first_not_of("0123456789");
  if (digits == std::string::npos) digits = text.size();
  if (digits == 0 || digits > 13 || text.size() > digits + 1) return false;
  std::uint64_t number = std::stoull(text.substr(0, digits));
  if (text.size() > digits) {
    const std::string units = "KMG";
    const std::size_t unit = units.find(static_cast<char>(std::toupper(static_cast<unsigned char>(text[digits]))));
    if (unit == std::string::npos) return false;
    for (std::size_t i = 0; i <= unit && number <= kMost; ++i) number *= 1024;
  }
  if (number > kMost) return false;
  *bytes_per_second = number;
  return true;
}

}  // namespace rate_limit
