// Probes the files the walk finds on a pool of threads, ahead of the walk,
// and hands each result back in the walk's order, so that whoever prints
// them prints exactly what probing one file after another would have
// printed.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "jpeg/probe.h"
#include "platform/platform.h"
#include "pool/latency.h"
#include "pool/ordered_pool.h"
#include "walk/directory_cache.h"
#include "walk/walk.h"

namespace ostrel {

// Where files had their frame headers so far: photos from one camera put
// them at about the same place, so the next probe asks for the pages there
// at once, beside the start of the file. Each directory has its own, and
// until its first file is probed, all files probed so far stand in
// (`all_files`, which each file found is added to). Written by the threads
// that probe, read by those that probe next.
class FrameHint {
 public:
  explicit FrameHint(FrameHint* all_files = nullptr) : all_files_(all_files) {}

  void plan(ReadPlan& plan) const {
    const FrameHint& known =
        furthest_.load(std::memory_order_relaxed) == 0 && all_files_
            ? *all_files_
            : *this;
    plan.furthest_frame = known.furthest_.load(std::memory_order_relaxed);
    if (known.steady_.load(std::memory_order_relaxed))
      plan.expected_frame = known.last_.load(std::memory_order_relaxed);
  }

  void found_at(std::uint64_t offset) {
    if (all_files_) all_files_->found_at(offset);
    std::uint64_t last = last_.exchange(offset, std::memory_order_relaxed);
    std::uint64_t apart = last > offset ? last - offset : offset - last;
    steady_.store(last != 0 && apart <= PROBE_EXPECTED_FRAME_MARGIN,
                  std::memory_order_relaxed);
    if (offset > furthest_.load(std::memory_order_relaxed))
      furthest_.store(offset, std::memory_order_relaxed);
  }

 private:
  FrameHint* all_files_;
  std::atomic<std::uint64_t> last_{0};
  std::atomic<std::uint64_t> furthest_{0};
  std::atomic<bool> steady_{false};
};

// One file in flight: where it is, and what its probe found.
struct ProbeJob {
  DirectoryCache::NodeRef directory;
  // Held while a worker may open the file through the directory.
  DirectoryCache::Pin pin;
  std::string path;
  std::size_t name_start = 0;
  std::shared_ptr<FrameHint> hint;
  ProbeResult result;
  // No descriptor was to be had where it ran: the cache, which alone may
  // close directories to find one, opens it when it is handed over.
  bool open_by_cache = false;

  std::string_view name() const {
    return std::string_view(path).substr(name_start);
  }
};

using ResultHandler =
    std::function<void(const std::string& path, const ProbeResult& result)>;

// How the pool runs a probe: on a worker through the directory (or the
// worker's own descriptors); on the walk's thread through the directory
// cache.
class ProbeRunner {
 public:
  using Job = ProbeJob;
  using Worker = std::unique_ptr<FileOpener>;

  ProbeRunner(DirectoryCache& cache, const Latency& latency)
      : cache_(cache), latency_(latency) {}

  Worker make_worker();
  void run(Job& job, Worker* worker);
  void hand_over(Job& job);
  void drop(Job& job);

  // Receives each result as it is handed over.
  const ResultHandler* handler = nullptr;

 private:
  ReadPlan plan_for(const Job& job) const;
  void probe(Job& job, FileResult opened, const ReadPlan& plan);

  DirectoryCache& cache_;
  const Latency& latency_;
};

class Prober {
 public:
  using Shape = OrderedPool<ProbeRunner>::Shape;

  // The path texts held in flight: a tree of long names and great depth
  // would otherwise hold its deepest paths many times over.
  static constexpr std::size_t MOST_TEXT_BYTES = 4 << 20;

  // Without threads, each file is probed as the walk finds it.
  Prober(DirectoryCache& cache, Latency& latency, const Shape& shape);

  // Queues one file; hands over the results that are ready.
  void submit(const FoundFile& file, const ResultHandler& handle);
  // Hands over every result still in flight.
  void drain(const ResultHandler& handle);
  // Drops everything in flight, once the probes under way have ended.
  void discard() { pool_.discard(); }

  // Threads started so far.
  std::size_t thread_count() const { return pool_.thread_count(); }

 private:
  std::shared_ptr<FrameHint> hint_for(const DirectoryCache::NodeRef& node);

  DirectoryCache& cache_;
  ProbeRunner runner_;
  OrderedPool<ProbeRunner> pool_;
  // Where the files probed so far had their frame headers, and the
  // directory of the files queued last with its own.
  FrameHint all_files_;
  DirectoryCache::NodeRef hinted_directory_;
  std::shared_ptr<FrameHint> hint_;
};

}  // namespace ostrel
