// A place where threads sleep until another thread has made some condition
// true. The waker pays one atomic load when nobody sleeps, so a busy pool
// hands work over without ever locking; the mutex and condition variable are
// touched only on the way to sleep and to wake a sleeper.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace ostrel {

class WakeSignal {
 public:
  // To sleep: take a ticket, test the condition, then `cancel` (it already
  // holds) or `wait`. A wake that comes after the ticket is never lost.
  std::uint32_t prepare() {
    sleepers_.fetch_add(1, std::memory_order_seq_cst);
    return epoch_.load(std::memory_order_seq_cst);
  }

  void cancel() { sleepers_.fetch_sub(1, std::memory_order_relaxed); }

  void wait(std::uint32_t ticket) {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [&] {
      return epoch_.load(std::memory_order_relaxed) != ticket;
    });
    sleepers_.fetch_sub(1, std::memory_order_relaxed);
  }

  // Call after making the condition true (with a sequentially consistent
  // store, so that a sleeper's test and this check cannot both miss).
  void notify_one() { notify(false); }
  void notify_all() { notify(true); }

  bool has_sleepers() const {
    return sleepers_.load(std::memory_order_seq_cst) != 0;
  }

 private:
  void notify(bool all) {
    if (!has_sleepers()) return;
    // Notified under the lock: every thread the condition variable may wake
    // then holds an older ticket, so a wake never lands on a newcomer.
    std::lock_guard lock(mutex_);
    epoch_.fetch_add(1, std::memory_order_relaxed);
    if (all)
      wake_.notify_all();
    else
      wake_.notify_one();
  }

  std::atomic<int> sleepers_{0};
  std::atomic<std::uint32_t> epoch_{0};
  std::mutex mutex_;
  std::condition_variable wake_;
};

}  // namespace ostrel
