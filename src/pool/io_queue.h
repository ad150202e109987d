// Requests that wait for the file system, run on threads of their own in no
// particular order and handed back to the thread that queued them as each
// ends. Unlike the ordered pool, nothing waits for an older request: a slow
// one holds up only whoever needs its own answer.
//
// The queuing thread pushes requests into `pending_`; a worker takes the
// oldest, runs it without the lock, and appends it to `finished_`, waking
// the queuing thread if it sleeps in `pop`. Both lists are guarded by one
// mutex: requests are a few per directory, so the lock is never the cost.
// Each request is timed into the shared latency estimate, which also says
// how many threads are worth starting.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/platform.h"
#include "pool/latency.h"

namespace ostrel {

// One request: runs on a worker thread, and may not throw.
class IoRequest {
 public:
  virtual ~IoRequest() = default;
  virtual void run() noexcept = 0;
};

class IoQueue {
 public:
  // At most `most_threads` threads, started as requests wait for them.
  IoQueue(Latency& latency, unsigned most_threads);
  // Requests still pending are dropped unrun; those under way end first.
  // Threads sleep until then and are joined here.
  ~IoQueue();
  IoQueue(const IoQueue&) = delete;
  IoQueue& operator=(const IoQueue&) = delete;

  // Queues a request; the queue holds it until it is popped. May throw
  // std::bad_alloc, and then nothing was queued.
  void push(std::shared_ptr<IoRequest> request);

  // A request that has run, the oldest to end first; with `wait`, sleeps
  // until one ends. Nothing when none has ended (and, with `wait`, none is
  // in flight).
  std::shared_ptr<IoRequest> pop(bool wait);

  // Takes a request back that no thread has started yet, so that the
  // queuing thread runs it itself rather than wait behind others; false
  // when it is under way or has ended. A request taken back is popped no
  // more.
  bool take_back(const IoRequest& request);

  // Requests pushed and not yet popped.
  std::size_t in_flight() const { return in_flight_; }

  // Drops the requests not yet under way and waits for the others, which
  // are then popped no more; the threads stay for later requests.
  void cancel();

 private:
  void work();
  void start_thread_if_wanted();
  void run_pending_here();

  // While requests wait, one thread for every span of their time.
  static constexpr std::chrono::microseconds SPAN_PER_THREAD{20};

  Latency& latency_;
  unsigned most_threads_;
  std::size_t in_flight_ = 0;  // the queuing thread's alone

  std::mutex mutex_;
  std::condition_variable work_ready_;
  std::condition_variable finished_one_;
  std::deque<std::shared_ptr<IoRequest>> pending_;
  std::deque<std::shared_ptr<IoRequest>> finished_;
  std::size_t running_ = 0;
  std::size_t idle_ = 0;
  bool stopping_ = false;
  // Declared last: joined before what they use goes.
  std::vector<Thread> threads_;
};

}  // namespace ostrel
