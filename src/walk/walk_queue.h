// The directories a walk has still to walk, in walk order: each directory's
// subdirectories stand right behind it, before its next sibling. Where
// requests wait, the directories at its front are read ahead, each as soon
// as the directory above it is listed; every entry carries its read. The
// walk takes the front one at a time and waits only on its read.
#pragma once

#include <chrono>
#include <cstddef>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "walk/directory_cache.h"
#include "walk/directory_reads.h"
#include "walk/listing.h"

namespace ostrel {

class WalkQueue {
 public:
  using NodeRef = DirectoryCache::NodeRef;
  using Clock = std::chrono::steady_clock;

  struct Entry;
  using Entries = std::list<Entry>;

  // One read of a directory ahead of the walk, as the walk keeps it: it
  // lives as long as the directory stands in the queue.
  struct AheadRead {
    std::shared_ptr<DirectoryRead> request;
    Entries::iterator queued;
    // Once it ended: its directory, kept by the cache, and when it ended.
    bool ended = false;
    NodeRef node;
    Clock::time_point ended_at;
  };

  struct Entry {
    NodeRef parent;
    std::string name;
    // The length of its parent's text in the walk's path, and its depth
    // below the argument (its subdirectories queued behind it are deeper).
    std::size_t parent_length = 0;
    std::size_t depth = 0;
    std::shared_ptr<AheadRead> ahead;
    // Its subdirectories stand behind it already.
    bool children_queued = false;

    std::size_t text_length() const { return parent_length + name.size() + 1; }
  };

  // `path` is the walk's text: room is made in it for every name queued,
  // so that naming a directory taken needs none. Reads ahead only with
  // `reads`.
  WalkQueue(DirectoryCache& cache, std::string_view file_pattern,
            WalkedSet& walked, DirectoryReads* reads, std::string& path);
  // Reads under way end before what they read into goes.
  ~WalkQueue();
  WalkQueue(const WalkQueue&) = delete;
  WalkQueue& operator=(const WalkQueue&) = delete;

  bool empty() const { return entries_.empty(); }
  const Entry& front() const { return entries_.front(); }

  // Queues the subdirectories `names` of the directory `node` at the front,
  // at `depth`; their parent's text is the path's. False when there was no
  // memory to hold them; then none is queued.
  bool push_front(const NodeRef& node, const NameList& names,
                  std::size_t depth);

  // Takes in the reads that have ended and starts more: before each step.
  void read_ahead();

  // The listing of the front directory: as read ahead, where that was done
  // and is fresh; read here otherwise, from its parent by its name, as the
  // path now names it. Nothing when it cannot be opened or was walked
  // before. May throw std::bad_alloc.
  std::optional<DirectoryListing> take_front(NodeRef& node);

  // Done with the front directory: its subdirectories `names` (none when
  // it was not walked) stand at the front now. False when there was no
  // memory to queue them.
  bool pop_front(const NodeRef& node, const NameList* names);

 private:
  bool queue_children(Entries::iterator before, const NodeRef& node,
                      const NameList& names, std::size_t text_length,
                      std::size_t depth);
  bool requeue_children(Entries::iterator directory, const NodeRef& node,
                        const NameList& names, std::size_t text_length);
  void drop_children(Entries::iterator directory);
  bool usable(const AheadRead& ahead) const;
  std::optional<DirectoryListing> read_here(const Entry& next, NodeRef& node);
  void count_take();
  void start_reads();
  bool start_read(Entries::iterator directory);
  bool stale_when_taken(const AheadRead& ahead, std::size_t place,
                        Clock::time_point now, Clock::duration lifetime) const;
  bool drop_furthest_read(std::size_t places);
  void drop_read(Entries::iterator directory);
  void collect_ended_reads(bool wait);
  void keep_directory(AheadRead& ahead);
  bool first_visit(const std::optional<DirectoryId>& id);

  DirectoryCache& cache_;
  std::string_view file_pattern_;
  WalkedSet& walked_;
  DirectoryReads* reads_;
  std::string& path_;
  Entries entries_;
  // Reads started and not yet taken by the walk.
  std::size_t reads_held_ = 0;
  // The walk's pace, for how far ahead to read.
  Clock::time_point last_take_;
  std::chrono::duration<double> take_interval_{0};
};

}  // namespace ostrel
