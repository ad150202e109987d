#include "cli/probe_pool.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <utility>

namespace ostrel {
namespace {

// Queued files per awake thread before one more is woken: a thread woken
// for a file or two costs more than it saves.
constexpr std::uint64_t WAKE_STEP = 8;

// A probe slower than this has waited for the disk. A thread that loses its
// processor for a while makes some probes slow as well, but not most: only
// when most are slow do more threads than processors get woken.
constexpr std::chrono::microseconds DISK_WAIT{100};
constexpr std::uint32_t SHARE_ONE = 1024;
// One probe in four is timed, which tells a cold disk within a few dozen
// files for a quarter of the clock reads; each counts for an eighth.
constexpr std::uint64_t TIMED_EVERY = 4;
constexpr std::uint32_t SAMPLE_WEIGHT = 8;

constexpr std::uint64_t NO_FILE = ~std::uint64_t{0};

}  // namespace

bool ProbePool::disk_is_slow() const {
  return slow_share_.load(std::memory_order_relaxed) > SHARE_ONE / 2;
}

ProbePool::ProbePool(FileSystem& fs, unsigned threads, std::size_t window)
    : fs_(fs),
      thread_count_(threads),
      mask_(std::bit_ceil(std::max<std::size_t>(window, 1)) - 1),
      slots_(std::make_unique<Slot[]>(mask_ + 1)),
      // The queuing thread keeps one processor busy itself.
      computing_threads_(std::max(std::thread::hardware_concurrency(), 1u) -
                         1) {}

ProbePool::~ProbePool() {
  stopping_.store(true, std::memory_order_seq_cst);
  work_ready_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void ProbePool::submit(const FoundFile& file, const ResultHandler& handle) {
  if (in_flight() > mask_) {
    // A quarter of the window at once, not one file per wake-up.
    wait_until_done(retired_ + in_flight() / 4);
    wait_until_done(retired_);
    hand_over_ready(handle);
  }
  Slot& next = slot(submitted_);
  next.path.assign(file.path);
  next.directory = file.directory;
  next.name_start = file.path.size() - file.name.size();
  next.done.store(0, std::memory_order_relaxed);
  published_.store(++submitted_, std::memory_order_seq_cst);
  wake_for_backlog();
  hand_over_ready(handle);
}

void ProbePool::drain(const ResultHandler& handle) {
  if (in_flight() > 0) wait_until_done(submitted_ - 1);
  while (in_flight() > 0) {
    wait_until_done(retired_);
    hand_over_ready(handle);
  }
}

void ProbePool::discard() {
  for (; in_flight() > 0; ++retired_) {
    wait_until_done(retired_);
    slot(retired_).error = nullptr;
    slot(retired_).directory.reset();
  }
}

// Wakes a sleeping thread, or starts one more, while the queued files
// outnumber what the awake threads can use. A run that probes one file
// never starts one.
void ProbePool::wake_for_backlog() {
  if (in_flight() < 2) return;
  std::uint64_t backlog = submitted_ - claimed_.load(std::memory_order_relaxed);
  std::uint64_t threads = threads_.size();
  std::uint64_t useful = disk_is_slow() ? thread_count_ : computing_threads_;
  auto wanted = [&](std::uint64_t awake) {
    return awake < useful && backlog > WAKE_STEP * awake;
  };
  bool woke = work_ready_.notify_one_if([&](int unwoken) {
    return wanted(threads - static_cast<std::uint64_t>(unwoken));
  });
  if (!woke && threads < thread_count_ && wanted(threads)) start_thread();
}

bool ProbePool::claim(std::uint64_t& index) {
  std::uint64_t next = claimed_.load(std::memory_order_relaxed);
  do {
    if (next >= published_.load(std::memory_order_seq_cst)) return false;
  } while (!claimed_.compare_exchange_weak(
      next, next + 1, std::memory_order_acq_rel, std::memory_order_relaxed));
  index = next;
  return true;
}

void ProbePool::run(std::uint64_t index, FileOpener& files) {
  Slot& file = slot(index);
  bool timed = index % TIMED_EVERY == 0;
  auto start = timed ? std::chrono::steady_clock::now()
                     : std::chrono::steady_clock::time_point();
  try {
    file.result = probe_jpeg(files, *file.directory, file.name(), file.path,
                             disk_is_slow() ? PROBE_READ_AHEAD_SIZE : 0);
  } catch (...) {
    file.error = std::current_exception();
  }
  if (timed) count_probe(std::chrono::steady_clock::now() - start > DISK_WAIT);
  file.done.store(1, std::memory_order_seq_cst);
  if (awaited_.load(std::memory_order_seq_cst) == index)
    probe_done_.notify_one();
}

// A running share; updates that race lose a sample, which is harmless.
void ProbePool::count_probe(bool slow) {
  std::uint32_t share = slow_share_.load(std::memory_order_relaxed);
  std::uint32_t updated =
      share - share / SAMPLE_WEIGHT + (slow ? SHARE_ONE / SAMPLE_WEIGHT : 0);
  // Not written when it stays the same, as it does while all is warm: a
  // line written from two processors in turn costs more than the probe.
  if (updated != share) slow_share_.store(updated, std::memory_order_relaxed);
}

void ProbePool::work() {
  std::unique_ptr<FileOpener> own;
  try {
    own = fs_.opener_for_this_thread();
  } catch (const std::bad_alloc&) {
    // The file system's own opener serves as well, only slower.
  }
  FileOpener& files = own ? *own : fs_;
  std::uint64_t index = 0;
  while (!stopping_.load(std::memory_order_relaxed)) {
    if (claim(index)) {
      run(index, files);
      continue;
    }
    work_ready_.prepare();
    if (claim(index)) {
      work_ready_.cancel();
      run(index, files);
    } else if (stopping_.load(std::memory_order_seq_cst)) {
      work_ready_.cancel();
    } else {
      work_ready_.wait();
    }
  }
}

void ProbePool::start_thread() {
  try {
    threads_.reserve(thread_count_);
    threads_.emplace_back([this] { work(); });
  } catch (const std::exception&) {
    // No more threads: the queuing thread probes what the others leave.
    thread_count_ = static_cast<unsigned>(threads_.size());
  }
}

// Probes queued files while the one awaited is under way elsewhere, and
// sleeps only when every queued file has been taken.
void ProbePool::wait_until_done(std::uint64_t index) {
  Slot& awaited = slot(index);
  std::uint64_t next = 0;
  while (awaited.done.load(std::memory_order_acquire) == 0) {
    if (claim(next)) {
      run(next, fs_);
      continue;
    }
    awaited_.store(index, std::memory_order_seq_cst);
    probe_done_.prepare();
    if (awaited.done.load(std::memory_order_seq_cst) != 0)
      probe_done_.cancel();
    else
      probe_done_.wait();
    awaited_.store(NO_FILE, std::memory_order_relaxed);
  }
}

// Hands over the results that are ready, oldest first, up to the first
// that is not.
void ProbePool::hand_over_ready(const ResultHandler& handle) {
  while (in_flight() > 0 &&
         slot(retired_).done.load(std::memory_order_acquire) != 0) {
    Slot& oldest = slot(retired_++);
    // Released on this thread, which shares the walk's descriptors: a
    // worker may hold descriptors of its own.
    DirectoryHandle directory = std::move(oldest.directory);
    if (oldest.error)
      std::rethrow_exception(std::exchange(oldest.error, nullptr));
    // A file that found no descriptor is tried again here, in its directory.
    if (oldest.result.status == ProbeStatus::out_of_handles)
      probe_again_alone(oldest, *directory);
    handle(oldest.path, oldest.result);
  }
}

// Every other probe in flight ends first, closing what it holds; a file that
// finds no descriptor even then cannot be opened.
void ProbePool::probe_again_alone(Slot& file, const OpenDirectory& directory) {
  for (std::uint64_t index = retired_; index < submitted_; ++index)
    wait_until_done(index);
  file.result = probe_jpeg(fs_, directory, file.name(), file.path);
  if (file.result.status == ProbeStatus::out_of_handles)
    file.result.status = ProbeStatus::cannot_open;
}

}  // namespace ostrel
