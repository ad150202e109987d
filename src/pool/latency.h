// How long the file system takes to answer, as one running estimate that
// every kind of request feeds and every pool reads: whether most requests
// wait (a cold disk, a network share) and, when they do, for how long. The
// probes and the directory reads size themselves by it, so both learn from
// the first timed request, whichever it was.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>

namespace ostrel {

class Latency {
 public:
  using Clock = std::chrono::steady_clock;

  // A request slower than this waited for a device or a network. A thread
  // that loses its processor for a while makes some requests slow as well,
  // but not most: only when most are slow is the file system called slow.
  static constexpr std::chrono::microseconds SLOW_REQUEST{100};

  // Counts one timed request (or a job of a few). Calls from several
  // threads at once may lose a sample, which is harmless.
  void record(Clock::duration took) {
    std::uint32_t seen = samples_.load(std::memory_order_relaxed);
    // The first samples count in full, so that the estimate follows the
    // first requests of a run rather than climbing from nothing.
    std::uint32_t weight = std::min(seen + 1, SAMPLE_WEIGHT);
    if (seen < SAMPLE_WEIGHT)
      samples_.store(seen + 1, std::memory_order_relaxed);
    bool slow = took > SLOW_REQUEST;
    update(slow_share_, slow ? SHARE_ONE : 0, weight);
    if (!slow) return;
    auto micros = static_cast<std::uint32_t>(std::min<std::int64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(took).count(),
        std::int64_t{1} << 24));
    std::uint32_t slow_seen = slow_samples_.load(std::memory_order_relaxed);
    if (slow_seen < SAMPLE_WEIGHT)
      slow_samples_.store(slow_seen + 1, std::memory_order_relaxed);
    update(slow_time_, micros, std::min(slow_seen + 1, SAMPLE_WEIGHT));
  }

  // True while most recent requests waited.
  bool is_slow() const {
    return slow_share_.load(std::memory_order_relaxed) > SHARE_ONE / 2;
  }

  // The running mean of the slow requests' times.
  std::chrono::microseconds slow_time() const {
    return std::chrono::microseconds(slow_time_.load(std::memory_order_relaxed));
  }

  // How many requests in flight the latency calls for, when each one more
  // costs the thread that queues them `span`: none while requests are quick.
  std::uint64_t in_flight_wanted(std::chrono::microseconds span) const {
    if (!is_slow()) return 0;
    return static_cast<std::uint64_t>(slow_time() / std::max(span, ONE_MICRO));
  }

 private:
  static constexpr std::uint32_t SHARE_ONE = 1024;
  // Each sample counts for an eighth once eight have been seen: a cold disk
  // is told within a few dozen requests.
  static constexpr std::uint32_t SAMPLE_WEIGHT = 8;
  static constexpr std::chrono::microseconds ONE_MICRO{1};

  // Moves a running mean towards `value` by 1/`weight`; not written when
  // it stays the same, as it does while all is quick: a line written from
  // two processors in turn costs more than the request.
  static void update(std::atomic<std::uint32_t>& mean, std::uint32_t value,
                     std::uint32_t weight) {
    std::uint32_t old = mean.load(std::memory_order_relaxed);
    std::int64_t moved = static_cast<std::int64_t>(old) +
                         (static_cast<std::int64_t>(value) - old) / weight;
    auto updated = static_cast<std::uint32_t>(moved);
    if (updated != old) mean.store(updated, std::memory_order_relaxed);
  }

  std::atomic<std::uint32_t> samples_{0};
  std::atomic<std::uint32_t> slow_samples_{0};
  // The share of recent requests that were slow, of SHARE_ONE.
  std::atomic<std::uint32_t> slow_share_{0};
  // The running mean of slow requests' times, in microseconds.
  std::atomic<std::uint32_t> slow_time_{0};
};

}  // namespace ostrel
