// Directories opened and listed on threads of their own, ahead of the walk,
// where every request waits (a network share, a cold disk). The walk starts
// a read for each directory of its queue as soon as its parent is listed,
// as many as there is room for, and takes each in walk order when it gets
// there; reads end in any order. What the walk prints is what it would
// print reading each directory as it reaches it: a listing that waited too
// long is read again, and each memory error stands where it was met.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "platform/platform.h"
#include "pool/io_queue.h"
#include "pool/latency.h"
#include "walk/directory_cache.h"
#include "walk/listing.h"

namespace ostrel {

// The directories one walk has walked, by identity; read by the threads
// that list directories, so that they leave alone one already walked.
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

// One subdirectory opened through its parent and listed on another thread.
// The walk fills in what to read and holds the parent pinned and the room
// for the new directory reserved; the thread that runs it writes what it
// found; then it is the walk's again.
struct DirectoryRead final : IoRequest {
  DirectoryCache::Pin parent;
  std::string name;
  std::string_view file_pattern;
  const WalkedSet* walked = nullptr;
  DirectoryCache::Reservation room;
  Latency* latency = nullptr;
  // The walk's own record of the read, gone when the walk dropped it.
  std::weak_ptr<void> owner;

  // What the read found: the directory, or none when it did not open (or
  // there was no memory to open it); with it, unless it proved walked
  // already, its listing, whose parts are missing where memory ran out.
  std::unique_ptr<Directory> directory;
  bool walked_before = false;
  DirectoryListing listing;

  void run() noexcept override;
};

class DirectoryReads {
 public:
  // Reads held at most, for each place of the queue's front that is read
  // ahead: those started and then pushed back by subdirectories queued in
  // front of them.
  static constexpr std::size_t HELD_PER_PLACE = 2;

  // `most_reads`: the places at the front of the walk's queue that are
  // read ahead; each read holds a directory open until the walk takes it.
  // `most_threads`: threads reading at once, as many of them as the
  // latency calls for.
  DirectoryReads(Latency& latency, unsigned most_reads, unsigned most_threads);

  Latency& latency() { return latency_; }
  IoQueue& queue() { return queue_; }
  unsigned most_reads() const { return most_reads_; }

  // The places at the front of the walk's queue to read ahead, for a walk
  // that takes a directory every `take_interval`: no more than it takes
  // in half a listing's lifetime, so that what is read is taken fresh.
  std::size_t places_to_read(std::chrono::duration<double> take_interval) const;

  // Whether reading ahead is worth its threads: only while requests wait.
  bool wanted() const {
    return most_reads_ > 0 && (always_ || latency_.is_slow());
  }

  // How long a listing read ahead may wait for the walk before it is read
  // again: about a second, or a few round trips, whichever is longer.
  std::chrono::steady_clock::duration listing_lifetime() const;

  // Tests fix the lifetime, and read ahead where every request is quick.
  void set_listing_lifetime(std::chrono::steady_clock::duration lifetime) {
    fixed_lifetime_ = lifetime;
  }
  void read_ahead_always() { always_ = true; }

 private:
  static constexpr std::chrono::seconds SHORTEST_LIFETIME{1};
  static constexpr int ROUND_TRIPS_KEPT = 4;
  // Read ahead however fast the walk goes: a few levels of a tree.
  static constexpr std::size_t FEWEST_PLACES = 16;

  Latency& latency_;
  const unsigned most_reads_;
  bool always_ = false;
  std::optional<std::chrono::steady_clock::duration> fixed_lifetime_;
  IoQueue queue_;
};

}  // namespace ostrel
