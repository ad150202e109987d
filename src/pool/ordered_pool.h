// Runs jobs on worker threads ahead of the thread that queues them, and hands
// each back to that thread in the order it was queued, so that whoever uses
// the results sees exactly what running the jobs one after another would
// have given. It knows nothing of what a job does: a runner, handed in, says
// that.
//
// A runner provides:
//   typename Runner::Job       what a slot holds; reused from job to job
//   typename Runner::Worker    what one worker thread runs its jobs with
//   Worker make_worker()       called on each worker thread as it starts
//   void run(Job&, Worker*)    runs a job on a worker, or with no worker on
//                              the queuing thread; may throw, and the
//                              exception comes out where the job would be
//                              handed over
//   void hand_over(Job&)       on the queuing thread, in queue order; the
//                              slot is reused afterwards
//   void drop(Job&)            on the queuing thread, for a job discarded
//
// How the threads meet (the protocol, in the order a job lives):
//
//   Slots. Jobs live in a ring of slots, numbered by an ever-growing job
//   number; job n is in slot n & mask. Only the queuing thread writes
//   `submitted_` and `retired_`, so the slots from `retired_` up to
//   `submitted_` are the jobs in flight, never more than the ring holds.
//
//   Queuing. The queuing thread fills slot n, clears its `done`, then
//   publishes it by storing n + 1 in `published_` (sequentially
//   consistent). Nothing else touches a slot that is not yet published.
//
//   Claiming. A worker, or the queuing thread while it waits, takes the
//   next job by a compare-and-swap of `claimed_` from n to n + 1, only
//   while n is below `published_`. The claim is the one way to a job, so
//   each job runs exactly once.
//
//   Done. The runner of a job writes its results into the slot, then
//   stores 1 in `done` (release; sequentially consistent, see below). From
//   then on it never touches the slot again: the slot is the queuing
//   thread's, which may read the results (acquire) and, once it has handed
//   the job over and advanced `retired_`, reuse the slot for job
//   n + ring size.
//
//   Waiting. The queuing thread waits for job n in `wait_until_done`:
//   while `done` is 0 it runs claimable jobs itself; with none left, it
//   writes n into `awaited_`, prepares to sleep on `job_done_`, reads `done`
//   again and sleeps only if it is still 0. A runner, after storing `done`,
//   reads `awaited_` and wakes the queuing thread when it is n. Both sides
//   store, then load, sequentially consistent, so at least one of them
//   sees the other's store: a wake is never lost, and a spurious one only
//   costs one more look at `done`.
//
//   Workers sleep on `work_ready_` in the same way: prepare, try to claim
//   once more, then sleep; `submit` publishes first and then wakes one.
//
//   The ring grows (once, the first time jobs wait): a new ring cannot
//   hold the old slots' job numbers at the old places, so the queuing
//   thread first hands over every job in flight (`drain`), after which no
//   other thread holds a reference into the old ring, and swaps.
//
//   Discarding. `discard` moves `claimed_` up to `submitted_` in one
//   exchange, so no thread can claim a job left, waits for the jobs that
//   were claimed before it to be done (their runners still write their
//   slots), and drops every job in flight without handing it over.
//
//   Stopping. The destructor sets `stopping_`, wakes every worker and
//   joins them; a worker checks `stopping_` before it sleeps.
//
//   Sizing. While jobs wait (the shared latency estimate says so), the
//   queuing thread wakes a thread per queued job, as many as the jobs' time
//   calls for, but no more than twice what the pool ends in the time a job
//   takes unqueued: every thread times one job in four into `timed_ends_`
//   and `quickest_`, and the queuing thread reads them every 100 ms.
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
#include "pool/latency.h"
#include "pool/wake_signal.h"

namespace ostrel {

template <typename Runner>
class OrderedPool {
 public:
  using Job = typename Runner::Job;
  using Worker = typename Runner::Worker;

  // How many threads and jobs in flight: `threads` and `window` while jobs
  // are quick, as many as the processors can use; while most jobs wait (for
  // a disk, a network), as many as their latency calls for, up to
  // `slow_threads` and `slow_window`.
  struct Shape {
    unsigned threads = 0;
    std::size_t window = 1;
    unsigned slow_threads = 0;
    std::size_t slow_window = 1;
  };

  // At most the window's jobs are queued or held as results, as are
  // `most_weight` of their weights, where a job weighs what the queuing
  // thread says. Threads start as the queued jobs call for them, from the
  // second job in flight. While it waits for a result the queuing thread
  // runs queued jobs itself; without threads it runs each job as it is
  // queued. One job in four is timed into `latency`, which sizes the pool.
  OrderedPool(Runner& runner, const Shape& shape, Latency& latency,
              std::size_t most_weight = SIZE_MAX);
  ~OrderedPool();
  OrderedPool(const OrderedPool&) = delete;
  OrderedPool& operator=(const OrderedPool&) = delete;

  // True when jobs may run on other threads than the queuing one.
  bool has_threads() const { return slow_threads_ > 0; }

  // Threads started so far.
  std::size_t thread_count() const { return threads_.size(); }

  // Queues one job, which `fill(Job&)` writes into its slot, and returns
  // its number. When the window is full, first waits for its oldest
  // quarter (running queued jobs meanwhile) and hands those over;
  // afterwards hands over every job that is done, oldest first.
  template <typename Fill>
  std::uint64_t submit(Fill&& fill, std::size_t weight = 0);

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
  std::uint64_t threads_while_slow() const;
  std::uint64_t useful_threads();
  void measure_throughput();
  void count_timed(Latency::Clock::duration took);
  Slot& slot(std::uint64_t index) { return slots_[index & mask_]; }
  void make_room(std::size_t weight);
  void grow_for_slow_jobs();
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
  // Jobs in flight per thread while jobs wait: the threads stay busy while
  // the oldest job, which holds up the handing over, is still under way.
  static constexpr std::uint64_t WINDOW_PER_THREAD = 2;
  // One job in four is timed: a cold disk is told within a few dozen jobs
  // for a quarter of the clock reads.
  static constexpr std::uint64_t TIMED_EVERY = 4;
  // How the throughput is measured while jobs wait: over spans of this,
  // once at least so many jobs ended in one, with room for twice what it
  // calls for, so that a pool held back by too few threads still grows.
  static constexpr std::chrono::milliseconds THROUGHPUT_SPAN{100};
  static constexpr std::uint64_t FEWEST_ENDS = 64;
  static constexpr double THROUGHPUT_GAIN = 2;
  static constexpr std::chrono::seconds UNQUEUED_MEMORY{5};
  static constexpr std::uint64_t NO_JOB = ~std::uint64_t{0};

  Runner& runner_;
  Latency& latency_;
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
  // Known once threads are first wanted: asking costs system calls that a
  // run of one file need not make.
  unsigned computing_threads_ = 0;
  bool computing_threads_known_ = false;

  // Only the queuing thread touches these.
  std::uint64_t submitted_ = 0;
  std::uint64_t retired_ = 0;
  std::size_t weight_ = 0;
  // The jobs in flight the throughput calls for while jobs wait (0 while
  // unknown), and the span it is measured over.
  std::uint64_t capacity_ = 0;
  Latency::Clock::time_point span_start_;
  std::uint64_t ends_at_span_start_ = 0;
  std::uint32_t unqueued_us_ = UINT32_MAX;
  Latency::Clock::time_point unqueued_since_;

  // Jobs below `published_` may run; `claimed_` is the next one that no
  // thread has taken yet. Each on a line apart from what other threads
  // write.
  alignas(64) std::atomic<std::uint64_t> published_{0};
  alignas(64) std::atomic<std::uint64_t> claimed_{0};
  // Read for every job, written seldom.
  alignas(64) std::atomic<std::uint64_t> awaited_{NO_JOB};
  std::atomic<bool> stopping_{false};
  // Timed jobs ended, and the quickest of them since the span began, in
  // microseconds; written by every thread that times a job.
  alignas(64) std::atomic<std::uint64_t> timed_ends_{0};
  std::atomic<std::uint32_t> quickest_{UINT32_MAX};
  alignas(64) WakeSignal work_ready_;
  WakeSignal job_done_;
  std::vector<Thread> threads_;
};

template <typename Runner>
OrderedPool<Runner>::OrderedPool(Runner& runner, const Shape& shape,
                                 Latency& latency, std::size_t most_weight)
    : runner_(runner),
      latency_(latency),
      fast_threads_(shape.threads),
      slow_threads_(std::max(shape.threads, shape.slow_threads)),
      most_threads_(slow_threads_),
      fast_window_(std::max<std::size_t>(shape.window, 1)),
      slow_window_(std::max(shape.slow_window, fast_window_)),
      mask_(std::bit_ceil(fast_window_) - 1),
      most_weight_(most_weight),
      slots_(std::make_unique<Slot[]>(mask_ + 1)) {}

template <typename Runner>
OrderedPool<Runner>::~OrderedPool() {
  stopping_.store(true, std::memory_order_seq_cst);
  work_ready_.notify_all();
  threads_.clear();  // each joins as it goes
}

// The jobs that may be in flight now: while jobs wait, enough to keep the
// threads their latency calls for busy.
template <typename Runner>
std::uint64_t OrderedPool<Runner>::window() const {
  std::uint64_t wanted = fast_window_;
  if (latency_.is_slow())
    wanted = std::clamp<std::uint64_t>(threads_while_slow() * WINDOW_PER_THREAD,
                                       fast_window_, slow_window_);
  return std::min<std::uint64_t>(wanted, mask_ + 1);
}

// While jobs wait: one thread for every span of their mean time, but no
// more than twice what the pool ends in the time a job takes unqueued,
// once that is known: jobs beyond that only queue at the server (a share's
// own limit), where they hold up everything else that waits there.
template <typename Runner>
std::uint64_t OrderedPool<Runner>::threads_while_slow() const {
  std::uint64_t wanted = latency_.in_flight_wanted(SPAN_PER_THREAD);
  if (capacity_ > 0) wanted = std::min(wanted, capacity_);
  return std::clamp<std::uint64_t>(wanted, fast_threads_, slow_threads_);
}

// Measures what the pool ends per second while jobs wait, over spans of
// THROUGHPUT_SPAN, from the timed jobs alone.
template <typename Runner>
void OrderedPool<Runner>::measure_throughput() {
  auto now = Latency::Clock::now();
  if (now - span_start_ < THROUGHPUT_SPAN) return;
  std::uint64_t ends = timed_ends_.load(std::memory_order_relaxed);
  std::uint32_t quickest = quickest_.exchange(UINT32_MAX, std::memory_order_relaxed);
  std::uint64_t ended = (ends - ends_at_span_start_) * TIMED_EVERY;
  std::chrono::duration<double> span = now - span_start_;
  // A job's time without waiting in a queue: the quickest of the last few
  // seconds. Jobs queued at a busy server are all slow; one that was not,
  // a while ago, tells what a job takes.
  if (quickest != UINT32_MAX &&
      (quickest < unqueued_us_ || now - unqueued_since_ > UNQUEUED_MEMORY)) {
    unqueued_us_ = quickest;
    unqueued_since_ = now;
  }
  if (span_start_ != Latency::Clock::time_point() && ended >= FEWEST_ENDS) {
    double in_unqueued = static_cast<double>(ended) / span.count() *
                         static_cast<double>(unqueued_us_) * 1e-6;
    capacity_ = static_cast<std::uint64_t>(THROUGHPUT_GAIN * in_unqueued) + 1;
  }
  span_start_ = now;
  ends_at_span_start_ = ends;
}

// The threads worth waking now: as many as there are processors while
// jobs are quick; while they wait, one for every span of their mean time,
// within what the shape allows.
template <typename Runner>
std::uint64_t OrderedPool<Runner>::useful_threads() {
  if (!latency_.is_slow()) {
    if (!computing_threads_known_) {
      // The queuing thread keeps one processor busy itself.
      computing_threads_ = std::min(
          fast_threads_, std::max(std::thread::hardware_concurrency(), 1u) - 1);
      computing_threads_known_ = true;
    }
    return computing_threads_;
  }
  return std::min<std::uint64_t>(threads_while_slow(), most_threads_);
}

template <typename Runner>
template <typename Fill>
std::uint64_t OrderedPool<Runner>::submit(Fill&& fill, std::size_t weight) {
  if (has_threads() && latency_.is_slow()) {
    measure_throughput();
    if (mask_ + 1 < slow_window_) grow_for_slow_jobs();
  }
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
  std::uint64_t step = latency_.is_slow() ? 1 : WAKE_STEP;
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
  auto start = timed ? Latency::Clock::now() : Latency::Clock::time_point();
  try {
    runner_.run(job.job, worker);
  } catch (...) {
    job.error = std::current_exception();
  }
  if (timed) count_timed(Latency::Clock::now() - start);
  job.done.store(1, std::memory_order_seq_cst);
  if (awaited_.load(std::memory_order_seq_cst) == index) job_done_.notify_one();
}

// A timed job counts for the latency and, while jobs wait, for the pool's
// throughput: quick jobs leave those lines alone, which several threads
// would otherwise write in turn.
template <typename Runner>
void OrderedPool<Runner>::count_timed(Latency::Clock::duration took) {
  latency_.record(took);
  if (!latency_.is_slow()) return;
  timed_ends_.fetch_add(1, std::memory_order_relaxed);
  auto micros = static_cast<std::uint32_t>(std::min<std::int64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(took).count(),
      UINT32_MAX - 1));
  std::uint32_t quickest = quickest_.load(std::memory_order_relaxed);
  while (micros < quickest &&
         !quickest_.compare_exchange_weak(quickest, micros,
                                          std::memory_order_relaxed)) {
  }
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
    threads_.emplace_back([this] { work(); }, WORKER_STACK_SIZE);
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
  runner_.hand_over(oldest.job);
}

}  // namespace ostrel
