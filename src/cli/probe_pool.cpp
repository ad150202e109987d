#include "cli/probe_pool.h"

#include <algorithm>
#include <bit>
#include <utility>

namespace ostrel {
namespace {

// Queued files that wake one more sleeping thread: a thread woken for a
// single quick probe would cost more than the probe.
constexpr std::uint64_t wake_backlog = 4;

}  // namespace

ProbePool::ProbePool(unsigned threads, std::size_t window, Probe probe)
    : probe_(probe),
      thread_count_(threads),
      mask_(std::bit_ceil(std::max<std::size_t>(window, 1)) - 1),
      slots_(std::make_unique<Slot[]>(mask_ + 1)) {}

ProbePool::~ProbePool() {
  stopping_.store(true, std::memory_order_seq_cst);
  work_ready_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void ProbePool::submit(const std::string& path, const ResultHandler& handle) {
  if (in_flight() > mask_) retire_oldest(handle);
  Slot& next = slot(submitted_);
  next.path.assign(path);
  next.done.store(0, std::memory_order_relaxed);
  published_.store(++submitted_, std::memory_order_seq_cst);
  if (!threads_started_ && in_flight() > 1) start_threads();
  if (submitted_ - claimed_.load(std::memory_order_relaxed) >= wake_backlog)
    work_ready_.notify_one();
  while (in_flight() > 0 &&
         slot(retired_).done.load(std::memory_order_acquire) != 0)
    retire_oldest(handle);
}

void ProbePool::drain(const ResultHandler& handle) {
  while (in_flight() > 0) retire_oldest(handle);
}

void ProbePool::discard() {
  while (in_flight() > 0) {
    Slot& oldest = slot(retired_);
    wait_until_done(oldest);
    oldest.error = nullptr;
    ++retired_;
  }
}

bool ProbePool::claim(std::uint64_t& index) {
  std::uint64_t next = claimed_.load(std::memory_order_relaxed);
  do {
    if (next >= published_.load(std::memory_order_seq_cst)) return false;
  } while (!claimed_.compare_exchange_weak(next, next + 1,
                                           std::memory_order_acq_rel,
                                           std::memory_order_relaxed));
  index = next;
  return true;
}

void ProbePool::run(std::uint64_t index) {
  Slot& file = slot(index);
  try {
    file.result = probe_(file.path);
  } catch (...) {
    file.error = std::current_exception();
  }
  file.done.store(1, std::memory_order_seq_cst);
  probe_done_.notify_all();
}

void ProbePool::work() {
  std::uint64_t index = 0;
  while (!stopping_.load(std::memory_order_relaxed)) {
    if (claim(index)) {
      run(index);
      continue;
    }
    std::uint32_t ticket = work_ready_.prepare();
    if (claim(index)) {
      work_ready_.cancel();
      run(index);
    } else if (stopping_.load(std::memory_order_seq_cst)) {
      work_ready_.cancel();
    } else {
      work_ready_.wait(ticket);
    }
  }
}

void ProbePool::start_threads() {
  threads_started_ = true;
  try {
    threads_.reserve(thread_count_);
    while (threads_.size() < thread_count_)
      threads_.emplace_back([this] { work(); });
  } catch (const std::exception&) {
    // Fewer threads, or none: the queuing thread probes what they leave.
  }
}

// Probes queued files while the oldest is still under way elsewhere, and
// sleeps only when every queued file has been taken.
void ProbePool::wait_until_done(Slot& oldest) {
  if (oldest.done.load(std::memory_order_acquire) != 0) return;
  if (claimed_.load(std::memory_order_relaxed) < submitted_)
    work_ready_.notify_all();
  std::uint64_t index = 0;
  while (oldest.done.load(std::memory_order_acquire) == 0) {
    if (claim(index)) {
      run(index);
      continue;
    }
    std::uint32_t ticket = probe_done_.prepare();
    if (oldest.done.load(std::memory_order_seq_cst) != 0) {
      probe_done_.cancel();
      break;
    }
    probe_done_.wait(ticket);
  }
}

void ProbePool::retire_oldest(const ResultHandler& handle) {
  Slot& oldest = slot(retired_);
  wait_until_done(oldest);
  ++retired_;
  if (oldest.error) std::rethrow_exception(std::exchange(oldest.error, nullptr));
  handle(oldest.path, oldest.result);
}

}  // namespace ostrel
