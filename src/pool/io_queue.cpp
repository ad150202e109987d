#include "pool/io_queue.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <utility>

namespace ostrel {

IoQueue::IoQueue(Latency& latency, unsigned most_threads)
    : latency_(latency), most_threads_(most_threads) {}

IoQueue::~IoQueue() {
  cancel();
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  work_ready_.notify_all();
  threads_.clear();  // each joins as it goes
}

void IoQueue::push(std::shared_ptr<IoRequest> request) {
  {
    std::lock_guard lock(mutex_);
    pending_.push_back(std::move(request));
  }
  ++in_flight_;
  work_ready_.notify_one();
  start_thread_if_wanted();
}

// One more thread while requests wait with no idle thread to take them, up
// to what their latency calls for. The first always starts: nothing else
// would run the request.
void IoQueue::start_thread_if_wanted() {
  {
    std::lock_guard lock(mutex_);
    if (pending_.size() <= idle_) return;
  }
  std::uint64_t wanted = std::min<std::uint64_t>(
      std::max<std::uint64_t>(latency_.in_flight_wanted(SPAN_PER_THREAD), 1),
      most_threads_);
  if (threads_.size() < wanted) {
    try {
      threads_.reserve(most_threads_);
      threads_.emplace_back([this] { work(); }, WORKER_STACK_SIZE);
    } catch (const std::exception&) {
      // No thread to be had: those there are take the requests in turn.
      most_threads_ = static_cast<unsigned>(threads_.size());
    }
  }
  if (threads_.empty()) run_pending_here();
}

// Without any thread, the queuing thread runs each request as a worker
// would, so that it ends all the same.
void IoQueue::run_pending_here() {
  std::unique_lock lock(mutex_);
  while (!pending_.empty()) {
    std::shared_ptr<IoRequest> request = std::move(pending_.front());
    pending_.pop_front();
    lock.unlock();
    request->run();
    lock.lock();
    finished_.push_back(std::move(request));
  }
}

std::shared_ptr<IoRequest> IoQueue::pop(bool wait) {
  std::unique_lock lock(mutex_);
  if (wait && in_flight_ > 0)
    finished_one_.wait(lock, [this] { return !finished_.empty(); });
  if (finished_.empty()) return nullptr;
  std::shared_ptr<IoRequest> request = std::move(finished_.front());
  finished_.pop_front();
  --in_flight_;
  return request;
}

bool IoQueue::take_back(const IoRequest& request) {
  std::lock_guard lock(mutex_);
  auto found = std::find_if(
      pending_.begin(), pending_.end(),
      [&](const std::shared_ptr<IoRequest>& queued) {
        return queued.get() == &request;
      });
  if (found == pending_.end()) return false;
  pending_.erase(found);
  --in_flight_;
  return true;
}

void IoQueue::cancel() {
  std::unique_lock lock(mutex_);
  pending_.clear();
  finished_one_.wait(lock, [this] { return running_ == 0; });
  finished_.clear();
  in_flight_ = 0;
}

void IoQueue::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    ++idle_;
    work_ready_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
    --idle_;
    if (stopping_) return;
    std::shared_ptr<IoRequest> request = std::move(pending_.front());
    pending_.pop_front();
    ++running_;
    lock.unlock();
    auto start = Latency::Clock::now();
    request->run();
    latency_.record(Latency::Clock::now() - start);
    lock.lock();
    --running_;
    finished_.push_back(std::move(request));
    finished_one_.notify_all();
  }
}

}  // namespace ostrel
