// A place where threads sleep until another thread has work for them. The
// waker pays a couple of atomic loads when nobody needs waking, so a busy
// pool hands work over without locking; the mutex and the condition
// variable are touched only on the way to sleep and to wake a sleeper.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace ostrel {

class WakeSignal {
 public:
  // To sleep: `prepare`, test the condition, then `cancel` (it already
  // holds) or `wait`. A wake that comes after `prepare` is never lost.
  void prepare() { sleepers_.fetch_add(1, std::memory_order_seq_cst); }

  // A wake granted meanwhile stays for the next sleeper, which then only
  // tests its condition once more.
  void cancel() { sleepers_.fetch_sub(1, std::memory_order_relaxed); }

  void wait() {
    std::unique_lock lock(mutex_);
    wake_.wait(lock,
               [&] { return permits_.load(std::memory_order_relaxed) > 0; });
    permits_.fetch_sub(1, std::memory_order_relaxed);
    sleepers_.fetch_sub(1, std::memory_order_relaxed);
  }

  // Wakes one sleeper that no earlier call has woken, if `wanted` agrees
  // given how many such sleepers there are. Call after making the condition
  // true with a sequentially consistent store, so that a sleeper's test and
  // this check cannot both miss. Returns whether it woke one.
  template <typename Wanted>
  bool notify_one_if(Wanted wanted) {
    if (unwoken() <= 0 || !wanted(unwoken())) return false;
    std::lock_guard lock(mutex_);
    int count = unwoken();
    if (count <= 0 || !wanted(count)) return false;
    permits_.fetch_add(1, std::memory_order_relaxed);
    wake_.notify_one();
    return true;
  }

  void notify_one() {
    notify_one_if([](int) { return true; });
  }

  void notify_all() {
    if (unwoken() <= 0) return;
    std::lock_guard lock(mutex_);
    permits_.store(sleepers_.load(std::memory_order_relaxed),
                   std::memory_order_relaxed);
    wake_.notify_all();
  }

 private:
  int unwoken() const {
    return sleepers_.load(std::memory_order_seq_cst) -
           permits_.load(std::memory_order_relaxed);
  }

  std::atomic<int> sleepers_{0};  // between `prepare` and the end of a wait
  std::atomic<int> permits_{0};   // wakes granted and not yet taken
  std::mutex mutex_;
  std::condition_variable wake_;
};

}  // namespace ostrel
