// Directories read ahead of the walk where every request waits (a network
// share): the next directories in walk order are opened and read on threads
// of their own, several at once, and their sorted listings held until the
// walk reaches them. The walk still takes each in its own order, so what it
// prints, each directory walked once and each memory error in its place are
// as if it had read them itself.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <unordered_set>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "pool/ordered_pool.h"
#include "walk/listing.h"

namespace ostrel {

// Directories read ahead at most, each holding a descriptor until the walk
// takes it, and what their listings may hold: a share's latency is covered
// by a few dozen requests in flight, and 10^6 small files stay within a
// few MiB.
inline constexpr unsigned MOST_READ_AHEAD = 32;
inline constexpr std::size_t READ_AHEAD_BYTES = 4 << 20;

// The directories one walk has walked, by identity; read by the threads
// that read ahead, so that they leave alone a directory already walked.
class WalkedSet {
 public:
  // False when it was there already.
  bool insert(const DirectoryId& id) {
    std::lock_guard lock(mutex_);
    return ids_.insert(id).second;
  }
  bool contains(const DirectoryId& id) const {
    std::lock_guard lock(mutex_);
    return ids_.count(id) > 0;
  }

 private:
  mutable std::mutex mutex_;
  std::unordered_set<DirectoryId, DirectoryIdHash> ids_;
};

// One directory read ahead: written by the thread that reads it, read by
// the walk once the read is done.
struct AheadRead {
  // Open, or none with why not.
  std::shared_ptr<const Directory> directory;
  Failure failure = Failure::other;
  // Its files and subdirectories; a listing that ran out of memory is
  // missing, as `list_directory` leaves it.
  DirectoryListing listing;
  // Memory ran out before the listing could be made at all.
  bool out_of_memory = false;
  // Walked already by the time it was opened: not read.
  bool walked = false;
  // What the listing holds, counted against the bytes held ahead.
  std::size_t bytes = 0;
  // The pool's number for the read, and whether it is done.
  std::uint64_t job = 0;
  std::atomic<bool> done{false};
  // The walk's own: reads ahead of this directory's subdirectories.
  std::vector<std::shared_ptr<AheadRead>> children;
  // Counts what is held ahead while this lives.
  std::atomic<std::size_t>* held_bytes = nullptr;
  std::atomic<std::size_t>* held_reads = nullptr;

  ~AheadRead();
};

// How the read pool runs a read: opens the subdirectory through its
// parent, then reads it.
struct ReadJob {
  std::shared_ptr<AheadRead> read;
  std::shared_ptr<const Directory> parent;
  std::string name;
  const WalkedSet* walked = nullptr;
};

class ReadRunner {
 public:
  using Job = ReadJob;
  struct Worker {};

  explicit ReadRunner(std::string_view file_pattern)
      : file_pattern_(file_pattern) {}
  Worker make_worker() { return {}; }
  void run(Job& job, Worker*, bool slow);
  bool must_run_alone(const Job&) const { return false; }
  void run_alone(Job&) {}
  void hand_over(Job& job) { drop(job); }
  void drop(Job& job) { job = ReadJob{}; }

 private:
  std::string_view file_pattern_;
};

class ReadAhead {
 public:
  // `most_reads`: directories read ahead and not yet walked, each holding
  // a descriptor; `most_bytes`: what their listings may hold. Reads start
  // only while `wanted()` says requests wait.
  ReadAhead(std::string_view file_pattern, unsigned most_reads,
            std::size_t most_bytes, std::function<bool()> wanted);
  ~ReadAhead();

  // How many more reads may start now: none unless wanted.
  std::size_t room() const;

  // Starts reading the subdirectory `name` of `parent`, unless it proves
  // to be among what `walked` holds; `walked` outlives the read.
  std::shared_ptr<AheadRead> request(std::shared_ptr<const Directory> parent,
                                     const std::string& name,
                                     const WalkedSet& walked);

  // Waits until the read is done, reading others meanwhile.
  void wait(const AheadRead& read);

  // Lets the reads under way end and forgets them.
  void finish() { pool_.discard(); }

 private:
  ReadRunner runner_;
  OrderedPool<ReadRunner> pool_;
  const std::size_t most_reads_;
  const std::size_t most_bytes_;
  std::function<bool()> wanted_;
  std::atomic<std::size_t> held_bytes_{0};
  std::atomic<std::size_t> held_reads_{0};
};

}  // namespace ostrel
