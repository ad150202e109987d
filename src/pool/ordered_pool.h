// Runs jobs on worker threads ahead of the thread that queues them, and hands
// each back to that thread in the order it was queued, so that whoever uses
// the results sees exactly what running the jobs one after another would
// have given. It knows nothing of what a job does: a runner, handed in, says
// that, and what becomes of a job that must run again on its own.
//
// A runner provides:
//   typename Runner::Job       what a slot holds; reused from job to job
//   typename Runner::Worker    what one worker thread runs its jobs with
//   Worker make_worker()       called on each worker thread as it starts
//   void run(Job&, Worker*, bool slow)
//                              runs a job on a worker, or with no worker on
//                              the queuing thread; `slow` says most recent
//                              jobs waited (for a disk); may throw, and the
//                              exception comes out where the job would be
//                              handed over
//   bool must_run_alone(const Job&)
//   void run_alone(Job&)       on the queuing thread, once every other job
//                              in flight has ended, for a job that asks
//   void hand_over(Job&)       on the queuing thread, in queue order; the
//                              slot is reused afterwards
//   void drop(Job&)            on the queuing thread, for a job discarded
#pragma once

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "pool/wake_signal.h"

namespace ostrel {

template <typename Runner>
class OrderedPool {
 public:
  using Job = typename Runner::Job;
  using Worker = typename Runner::Worker;

  // How many threads and jobs in flight: `threads` and `window` while jobs
  // are quick, as many as the processors can use; up to `slow_threads` and
  // `slow_window` while most jobs wait (for a disk, a network), as many as
  // their latency calls for.
  struct Shape {
    unsigned threads = 0;
    std::size_t window = 1;
    unsigned slow_threads = 0;
    std::size_t slow_window = 1;
    // Jobs that wait by their nature (requests to a share): a thread for
    // each queued job from the start.
    bool jobs_wait = false;
  };

  // At most the window's jobs are queued or held as results, as are
  // `most_weight` of their weights, where a job weighs what the queuing
  // thread says. Threads start as the queued jobs call for them, from the
  // second job in flight. While it waits for a result the queuing thread
  // runs queued jobs itself; without threads it runs each job as it is
  // queued.
  OrderedPool(Runner& runner, const Shape& shape,
              std::size_t most_weight = SIZE_MAX);
  ~OrderedPool();
  OrderedPool(const OrderedPool&) = delete;
  OrderedPool& operator=(const OrderedPool&) = delete;

  // True when jobs may run on other threads than the queuing one.
  bool has_threads() const { return slow_threads_ > 0; }

  // True while most recent jobs waited.
  bool is_slow() const {
    return jobs_wait_ ||
           slow_share_.load(std::memory_order_relaxed) > SHARE_ONE / 2;
  }

  // Queues one job, which `fill(Job&)` writes into its slot, and returns
  // its number. When the window is full, first waits for its oldest
  // quarter (running queued jobs meanwhile) and hands those over;
  // afterwards hands over every job that is done, oldest first.
  template <typename Fill>
  std::uint64_t submit(Fill&& fill, std::size_t weight = 0);

  // Waits until the job of that number has run, running queued jobs
  // meanwhile; it is handed over in its turn all the same.
  void wait(std::uint64_t job);

  // Hands over every job still in flight, oldest first. An exception thrown
  // by a job comes out here or in `submit`, where that job would have been
  // handed over.
  void drain();

  // Drops everything in flight, once the jobs under way have ended; those
  // not under way never run.
  void discard();

 private:
  // A line of its own each, so that the threads finishing neighbouring
  // jobs do not write to one line.
  struct alignas(64) Slot {
    Job job;
    std::size_t weight = 0;
    std::exception_ptr error;
    std::atomic<std::uint32_t> done{0};
  };

  std::uint64_t in_flight() const { return submitted_ - retired_; }
  std::uint64_t window() const;
  std::uint64_t useful_threads() const;
  Slot& slot(std::uint64_t index) { return slots_[index & mask_]; }
  void make_room(std::size_t weight);
  void grow_for_slow_jobs();
  void count_job(std::chrono::steady_clock::duration took);
  bool claim(std::uint64_t& index);
  void run(std::uint64_t index, Worker* worker);
  void work();
  void start_thread();
  void wake_for_backlog();
  void wait_until_done(std::uint64_t index);
  void hand_over_ready();
  void hand_over(Slot& slot);

  // Queued jobs per awake thread before one more is woken: a thread woken
  // for a job or two costs more than it saves, unless jobs wait.
  static constexpr std::uint64_t WAKE_STEP = 8;
  // While jobs wait, a thread for every span of this in their time: about
  // what the queuing thread takes to queue one more.
  static constexpr std::chrono::microseconds SPAN_PER_THREAD{20};
  // A thread's stack: jobs keep their data on the heap, so a small one
  // lets hundreds of threads wait at little cost.
  static constexpr std::size_t STACK_SIZE = 256 << 10;
  // A job slower than this has waited for the disk. A thread that loses
  // its processor for a while makes some jobs slow as well, but not most:
  // only when most are slow do more threads than processors get woken.
  static constexpr std::chrono::microseconds SLOW_JOB{100};
  static constexpr std::uint32_t SHARE_ONE = 1024;
  // One job in four is timed, which tells a cold disk within a few dozen
  // jobs for a quarter of the clock reads; each counts for an eighth.
  static constexpr std::uint64_t TIMED_EVERY = 4;
  static constexpr std::uint32_t SAMPLE_WEIGHT = 8;
  static constexpr std::uint64_t NO_JOB = ~std::uint64_t{0};

  Runner& runner_;
  // Threads while jobs are quick (and at least while they wait), at most
  // while they wait, and at most of all: fewer when one could not start.
  unsigned fast_threads_;
  unsigned slow_threads_;
  unsigned most_threads_;
  std::size_t fast_window_;
  std::size_t slow_window_;
  std::size_t mask_;
  std::size_t most_weight_;
  std::unique_ptr<Slot[]> slots_;
  unsigned computing_threads_;
  const bool jobs_wait_;

  // Only the queuing thread touches these.
  std::uint64_t submitted_ = 0;
  std::uint64_t retired_ = 0;
  std::size_t weight_ = 0;

  // Jobs below `published_` may run; `claimed_` is the next one that no
  // thread has taken yet. Each on a line apart from what other threads
  // write.
  alignas(64) std::atomic<std::uint64_t> published_{0};
  alignas(64) std::atomic<std::uint64_t> claimed_{0};
  // Read for every job, written seldom.
  alignas(64) std::atomic<std::uint64_t> awaited_{NO_JOB};
  std::atomic<bool> stopping_{false};
  // The share of recent jobs that were slow, of SHARE_ONE, and the
  // running mean of slow jobs' times, in microseconds.
  std::atomic<std::uint32_t> slow_share_{0};
  std::atomic<std::uint32_t> slow_time_{0};
  alignas(64) WakeSignal work_ready_;
  WakeSignal job_done_;
  std::vector<Thread> threads_;
};

template <typename Runner>
OrderedPool<Runner>::OrderedPool(Runner& runner, const Shape& shape,
                                 std::size_t most_weight)
    : runner_(runner),
      fast_threads_(shape.threads),
      slow_threads_(std::max(shape.threads, shape.slow_threads)),
      most_threads_(slow_threads_),
      fast_window_(std::max<std::size_t>(shape.window, 1)),
      slow_window_(std::max(shape.slow_window, fast_window_)),
      mask_(std::bit_ceil(fast_window_) - 1),
      most_weight_(most_weight),
      slots_(std::make_unique<Slot[]>(mask_ + 1)),
      // The queuing thread keeps one processor busy itself.
      computing_threads_(std::min(
          fast_threads_,
          std::max(std::thread::hardware_concurrency(), 1u) - 1)),
      jobs_wait_(shape.jobs_wait) {}

template <typename Runner>
OrderedPool<Runner>::~OrderedPool() {
  stopping_.store(true, std::memory_order_seq_cst);
  work_ready_.notify_all();
  threads_.clear();  // each joins as it goes
}

// The jobs that may be in flight now.
template <typename Runner>
std::uint64_t OrderedPool<Runner>::window() const {
  return std::min<std::uint64_t>(is_slow() ? slow_window_ : fast_window_,
                                 mask_ + 1);
}

// The threads worth waking now: as many as there are processors while
// jobs are quick; while they wait, one for every span of their mean time,
// within what the shape allows.
template <typename Runner>
std::uint64_t OrderedPool<Runner>::useful_threads() const {
  if (!is_slow()) return computing_threads_;
  std::uint64_t wanted = jobs_wait_
                             ? slow_threads_
                             : slow_time_.load(std::memory_order_relaxed) /
                                   static_cast<std::uint64_t>(
                                       SPAN_PER_THREAD.count());
  return std::min<std::uint64_t>(
      std::clamp<std::uint64_t>(wanted, fast_threads_, slow_threads_),
      most_threads_);
}

template <typename Runner>
template <typename Fill>
std::uint64_t OrderedPool<Runner>::submit(Fill&& fill, std::size_t weight) {
  if (mask_ + 1 < slow_window_ && is_slow()) grow_for_slow_jobs();
  make_room(weight);
  Slot& next = slot(submitted_);
  fill(next.job);
  next.weight = weight;
  weight_ += weight;
  next.done.store(0, std::memory_order_relaxed);
  std::uint64_t number = submitted_;
  if (!has_threads()) {
    // Nothing would run it sooner.
    ++submitted_;
    claimed_.store(submitted_, std::memory_order_relaxed);
    run(number, nullptr);
    hand_over_ready();
    return number;
  }
  published_.store(++submitted_, std::memory_order_seq_cst);
  wake_for_backlog();
  hand_over_ready();
  return number;
}

// The ring starts with room for the quick jobs' window alone, which warm
// runs keep in the processor's caches; the first time jobs wait, it is
// made room for the slow window, once every job in flight is handed over,
// with a thread for each of them meanwhile.
template <typename Runner>
void OrderedPool<Runner>::grow_for_slow_jobs() {
  std::unique_ptr<Slot[]> larger;
  try {
    larger = std::make_unique<Slot[]>(std::bit_ceil(slow_window_));
  } catch (const std::bad_alloc&) {
    slow_window_ = mask_ + 1;  // the window there is room for
    return;
  }
  std::uint64_t backlog = submitted_ - claimed_.load(std::memory_order_relaxed);
  work_ready_.notify_all();
  while (threads_.size() < std::min(backlog, useful_threads()) &&
         threads_.size() < most_threads_)
    start_thread();
  drain();
  slots_ = std::move(larger);
  mask_ = std::bit_ceil(slow_window_) - 1;
}

template <typename Runner>
void OrderedPool<Runner>::wait(std::uint64_t job) {
  if (job >= retired_ && job < submitted_) wait_until_done(job);
}

// Waits until one more job fits the window and its weight the most weight,
// a quarter of the window at once, not one job per wake-up.
template <typename Runner>
void OrderedPool<Runner>::make_room(std::size_t weight) {
  if (in_flight() >= window()) {
    wait_until_done(retired_ + in_flight() / 4);
    wait_until_done(retired_);
    hand_over_ready();
  }
  while (in_flight() > 0 && weight_ + weight > most_weight_) {
    wait_until_done(retired_);
    hand_over_ready();
  }
}

template <typename Runner>
void OrderedPool<Runner>::drain() {
  if (in_flight() > 0) wait_until_done(submitted_ - 1);
  while (in_flight() > 0) {
    wait_until_done(retired_);
    hand_over_ready();
  }
}

template <typename Runner>
void OrderedPool<Runner>::discard() {
  // Jobs no thread has taken yet are dropped without running.
  std::uint64_t taken = claimed_.exchange(submitted_, std::memory_order_acq_rel);
  for (; in_flight() > 0; ++retired_) {
    Slot& oldest = slot(retired_);
    if (retired_ < taken) wait_until_done(retired_);
    oldest.error = nullptr;
    weight_ -= oldest.weight;
    runner_.drop(oldest.job);
  }
}

// Wakes a sleeping thread, or starts one more, while the queued jobs
// outnumber what the awake threads can use. A run of one job never starts
// one.
template <typename Runner>
void OrderedPool<Runner>::wake_for_backlog() {
  if (in_flight() < 2) return;
  std::uint64_t backlog = submitted_ - claimed_.load(std::memory_order_relaxed);
  std::uint64_t threads = threads_.size();
  std::uint64_t useful = useful_threads();
  std::uint64_t step = is_slow() ? 1 : WAKE_STEP;
  auto wanted = [&](std::uint64_t awake) {
    return awake < useful && backlog > step * awake;
  };
  bool woke = work_ready_.notify_one_if([&](int unwoken) {
    return wanted(threads - static_cast<std::uint64_t>(unwoken));
  });
  if (!woke && threads < most_threads_ && wanted(threads)) start_thread();
}

template <typename Runner>
bool OrderedPool<Runner>::claim(std::uint64_t& index) {
  std::uint64_t next = claimed_.load(std::memory_order_relaxed);
  do {
    if (next >= published_.load(std::memory_order_seq_cst)) return false;
  } while (!claimed_.compare_exchange_weak(
      next, next + 1, std::memory_order_acq_rel, std::memory_order_relaxed));
  index = next;
  return true;
}

template <typename Runner>
void OrderedPool<Runner>::run(std::uint64_t index, Worker* worker) {
  Slot& job = slot(index);
  bool timed = index % TIMED_EVERY == 0;
  auto start = timed ? std::chrono::steady_clock::now()
                     : std::chrono::steady_clock::time_point();
  try {
    runner_.run(job.job, worker, is_slow());
  } catch (...) {
    job.error = std::current_exception();
  }
  if (timed) count_job(std::chrono::steady_clock::now() - start);
  job.done.store(1, std::memory_order_seq_cst);
  if (awaited_.load(std::memory_order_seq_cst) == index) job_done_.notify_one();
}

// Running figures; updates that race lose a sample, which is harmless.
template <typename Runner>
void OrderedPool<Runner>::count_job(std::chrono::steady_clock::duration took) {
  bool slow = took > SLOW_JOB;
  std::uint32_t share = slow_share_.load(std::memory_order_relaxed);
  std::uint32_t updated =
      share - share / SAMPLE_WEIGHT + (slow ? SHARE_ONE / SAMPLE_WEIGHT : 0);
  // Not written when it stays the same, as it does while all is fast: a
  // line written from two processors in turn costs more than the job.
  if (updated != share) slow_share_.store(updated, std::memory_order_relaxed);
  if (!slow) return;
  auto micros = static_cast<std::uint32_t>(std::min<std::int64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(took).count(),
      std::int64_t{1} << 24));
  std::uint32_t mean = slow_time_.load(std::memory_order_relaxed);
  slow_time_.store(mean - mean / SAMPLE_WEIGHT + micros / SAMPLE_WEIGHT,
                   std::memory_order_relaxed);
}

template <typename Runner>
void OrderedPool<Runner>::work() {
  Worker worker = runner_.make_worker();
  std::uint64_t index = 0;
  while (!stopping_.load(std::memory_order_relaxed)) {
    if (claim(index)) {
      run(index, &worker);
      continue;
    }
    work_ready_.prepare();
    if (claim(index)) {
      work_ready_.cancel();
      run(index, &worker);
    } else if (stopping_.load(std::memory_order_seq_cst)) {
      work_ready_.cancel();
    } else {
      work_ready_.wait();
    }
  }
}

template <typename Runner>
void OrderedPool<Runner>::start_thread() {
  try {
    threads_.reserve(most_threads_);
    threads_.emplace_back([this] { work(); }, STACK_SIZE);
  } catch (const std::exception&) {
    // No more threads (no memory for one, say): the run goes on with those
    // it has, and the queuing thread runs what they leave.
    most_threads_ = static_cast<unsigned>(threads_.size());
  }
}

// Runs queued jobs while the one awaited is under way elsewhere, and sleeps
// only when every queued job has been taken.
template <typename Runner>
void OrderedPool<Runner>::wait_until_done(std::uint64_t index) {
  Slot& awaited = slot(index);
  std::uint64_t next = 0;
  while (awaited.done.load(std::memory_order_acquire) == 0) {
    if (claim(next)) {
      run(next, nullptr);
      continue;
    }
    awaited_.store(index, std::memory_order_seq_cst);
    job_done_.prepare();
    if (awaited.done.load(std::memory_order_seq_cst) != 0)
      job_done_.cancel();
    else
      job_done_.wait();
    awaited_.store(NO_JOB, std::memory_order_relaxed);
  }
}

// Hands over the jobs that are done, oldest first, up to the first that is
// not.
template <typename Runner>
void OrderedPool<Runner>::hand_over_ready() {
  while (in_flight() > 0 &&
         slot(retired_).done.load(std::memory_order_acquire) != 0) {
    Slot& oldest = slot(retired_++);
    weight_ -= oldest.weight;
    hand_over(oldest);
  }
}

template <typename Runner>
void OrderedPool<Runner>::hand_over(Slot& oldest) {
  if (oldest.error) {
    runner_.drop(oldest.job);
    std::rethrow_exception(std::exchange(oldest.error, nullptr));
  }
  if (runner_.must_run_alone(oldest.job)) {
    // Every other job in flight ends first, letting go of what it holds.
    for (std::uint64_t index = retired_; index < submitted_; ++index)
      wait_until_done(index);
    runner_.run_alone(oldest.job);
  }
  runner_.hand_over(oldest.job);
}

}  // namespace ostrel
