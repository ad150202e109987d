// Probes files on worker threads ahead of the walk and hands the results
// back in the order the files were queued, so that whoever prints them
// prints exactly what probing one file after another would have printed.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "cli/wake_signal.h"
#include "jpeg/probe.h"
#include "walk/walk.h"

namespace ostrel {

class ProbePool {
 public:
  // Receives one result, on the thread that queued the file.
  using ResultHandler =
      std::function<void(const std::string& path, const ProbeResult& result)>;

  // Enough probes in flight to keep a disk's queue busy when the cache is
  // cold. With a warm cache only as many threads as there are processors
  // are kept awake; the rest sleep.
  static constexpr unsigned DEFAULT_THREADS = 32;
  static constexpr std::size_t DEFAULT_WINDOW = 256;

  // Probes with `probe_jpeg` through `fs`. `window` files at most are
  // queued or held as results (rounded up to a power of two); at most
  // `threads` + 1 are open at once. Threads start as the queued files call
  // for them, from the second file in flight, so a run that probes one file
  // never starts one. While it waits for a result the queuing thread probes
  // queued files itself, and without threads it probes them all.
  explicit ProbePool(FileSystem& fs, unsigned threads = DEFAULT_THREADS,
                     std::size_t window = DEFAULT_WINDOW);
  ~ProbePool();
  ProbePool(const ProbePool&) = delete;
  ProbePool& operator=(const ProbePool&) = delete;

  // Queues one file. When the window is full, first waits for its oldest
  // quarter (probing queued files meanwhile) and hands those results over;
  // afterwards hands over every result that is ready, oldest first.
  void submit(const FoundFile& file, const ResultHandler& handle);

  // Hands over every result still in flight, oldest first. An exception
  // thrown by a probe comes out here or in `submit`, where that file's
  // result would have been handed over.
  void drain(const ResultHandler& handle);

  // Drops everything in flight, once the probes under way have ended.
  void discard();

  std::size_t in_flight() const {
    return static_cast<std::size_t>(submitted_ - retired_);
  }

 private:
  // A line of its own each, so that the threads finishing neighbouring
  // files do not write to one line.
  struct alignas(64) Slot {
    std::string path;
    // Held until the result is handed over, so the file opens where it was
    // found.
    DirectoryHandle directory;
    std::size_t name_start = 0;
    ProbeResult result;
    std::exception_ptr error;
    std::atomic<std::uint32_t> done{0};

    std::string_view name() const {
      return std::string_view(path).substr(name_start);
    }
  };

  bool disk_is_slow() const;
  void count_probe(bool slow);
  void probe_again_alone(Slot& file, const OpenDirectory& directory);
  Slot& slot(std::uint64_t index) { return slots_[index & mask_]; }
  bool claim(std::uint64_t& index);
  void run(std::uint64_t index, FileOpener& files);
  void work();
  void start_thread();
  void wake_for_backlog();
  void wait_until_done(std::uint64_t index);
  void hand_over_ready(const ResultHandler& handle);

  FileSystem& fs_;
  unsigned thread_count_;
  std::size_t mask_;
  std::unique_ptr<Slot[]> slots_;
  unsigned computing_threads_;

  // Only the queuing thread touches these.
  std::uint64_t submitted_ = 0;
  std::uint64_t retired_ = 0;

  // Files below `published_` may be probed; `claimed_` is the next one that
  // no thread has taken yet. Each on a line apart from what other threads
  // write.
  alignas(64) std::atomic<std::uint64_t> published_{0};
  alignas(64) std::atomic<std::uint64_t> claimed_{0};
  // Read for every file, written seldom.
  alignas(64) std::atomic<std::uint64_t> awaited_{~std::uint64_t{0}};
  std::atomic<bool> stopping_{false};
  // The share of recent probes that waited for the disk, of 1024.
  std::atomic<std::uint32_t> slow_share_{0};
  alignas(64) WakeSignal work_ready_;
  WakeSignal probe_done_;
  std::vector<std::thread> threads_;
};

}  // namespace ostrel
