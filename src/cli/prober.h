// Probes the files the walk finds on a pool of threads, ahead of the walk,
// and hands each result back in the walk's order, so that whoever prints
// them prints exactly what probing one file after another would have
// printed.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "jpeg/probe.h"
#include "platform/platform.h"
#include "pool/ordered_pool.h"
#include "walk/directory_cache.h"
#include "walk/walk.h"

namespace ostrel {

// One file in flight: where it is, and what its probe found.
struct ProbeJob {
  DirectoryCache::NodeRef directory;
  // Held while a worker may open the file through the directory.
  DirectoryCache::Pin pin;
  std::string path;
  std::size_t name_start = 0;
  ProbeResult result;

  std::string_view name() const {
    return std::string_view(path).substr(name_start);
  }
};

using ResultHandler =
    std::function<void(const std::string& path, const ProbeResult& result)>;

// How the pool runs a probe: on a worker through the directory (or the
// worker's own descriptors); on the walk's thread through the directory
// cache, which alone may close directories to find a descriptor. A file
// that found none is probed again once every other probe has ended.
class ProbeRunner {
 public:
  using Job = ProbeJob;
  using Worker = std::unique_ptr<FileOpener>;

  explicit ProbeRunner(DirectoryCache& cache) : cache_(cache) {}

  Worker make_worker();
  void run(Job& job, Worker* worker, bool slow);
  bool must_run_alone(const Job& job) const {
    return job.result.status == ProbeStatus::out_of_handles;
  }
  void run_alone(Job& job);
  void hand_over(Job& job);
  void drop(Job& job);

  // Receives each result as it is handed over.
  const ResultHandler* handler = nullptr;

 private:
  ProbeResult probe_here(const Job& job, std::size_t read_ahead);

  DirectoryCache& cache_;
};

class Prober {
 public:
  using Shape = OrderedPool<ProbeRunner>::Shape;

  // Enough probes in flight to keep a disk's queue busy when the cache is
  // cold. With a warm cache only as many threads as there are processors
  // are kept awake; the rest sleep.
  static constexpr unsigned DEFAULT_THREADS = 32;
  static constexpr std::size_t DEFAULT_WINDOW = 256;
  // Where every request is a round trip (a network share), as many probes
  // in flight as the latency calls for, up to these.
  static constexpr unsigned SLOW_THREADS = 256;
  static constexpr std::size_t SLOW_WINDOW = 4096;
  static constexpr Shape DEFAULT_SHAPE{DEFAULT_THREADS, DEFAULT_WINDOW,
                                       SLOW_THREADS, SLOW_WINDOW};
  // The path texts held in flight: a tree of long names and great depth
  // would otherwise hold its deepest paths many times over.
  static constexpr std::size_t MOST_TEXT_BYTES = 4 << 20;

  // Without threads, each file is probed as the walk finds it.
  explicit Prober(DirectoryCache& cache, const Shape& shape = DEFAULT_SHAPE);

  // True while most probes wait for the disk.
  bool is_slow() const { return pool_.is_slow(); }

  // Queues one file; hands over the results that are ready.
  void submit(const FoundFile& file, const ResultHandler& handle);
  // Hands over every result still in flight.
  void drain(const ResultHandler& handle);
  // Drops everything in flight, once the probes under way have ended.
  void discard() { pool_.discard(); }

 private:
  DirectoryCache& cache_;
  ProbeRunner runner_;
  OrderedPool<ProbeRunner> pool_;
};

}  // namespace ostrel
