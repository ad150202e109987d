#include "walk/walk.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <iterator>
#include <list>
#include <memory>
#include <new>
#include <optional>
#include <unordered_map>
#include <utility>

#include "walk/listing.h"

namespace ostrel {
namespace {

using NodeRef = DirectoryCache::NodeRef;
using Clock = std::chrono::steady_clock;

// How far one look for a read to drop goes, so that a step of the walk
// costs little however much is queued.
constexpr std::size_t MOST_LOOKED_AT = 1024;


struct QueuedDirectory;
using Queue = std::list<QueuedDirectory>;

// One read of a directory ahead of the walk, as the walk keeps it: it lives
// as long as the directory stands in the queue.
struct AheadRead {
  std::shared_ptr<DirectoryRead> request;
  Queue::iterator queued;
  // Once it ended: its directory, kept by the cache, and when it ended.
  bool ended = false;
  NodeRef node;
  Clock::time_point ended_at;
};

// A directory of the walk's queue, which holds every directory still to
// walk in walk order: each directory's subdirectories stand right behind
// it, before its next sibling.
struct QueuedDirectory {
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

// The length of the longest name of a listing.
std::size_t longest_name(const NameList& names) {
  std::size_t longest = 0;
  for (std::size_t i = 0; i < names.count(); ++i)
    longest = std::max(longest, names[i].size());
  return longest;
}

// The walk of one argument. The directories still to walk live in one
// queue, so the depth of a tree never deepens the call stack.
class Walker {
 public:
  Walker(const PathStyle& style, DirectoryCache& cache,
         std::string_view file_pattern, const FileVisitor& visitor,
         DirectoryReads* reads)
      : style_(style),
        cache_(cache),
        file_pattern_(file_pattern),
        visitor_(visitor),
        reads_(reads) {}

  // Reads under way end before what they read into goes.
  ~Walker() {
    if (reads_) reads_->queue().cancel();
  }

  WalkResult run(const std::string& argument, bool recursive) {
    std::optional<DirectoryListing> start;
    NodeRef node;
    try {
      start = read_start(argument, recursive, node);
    } catch (const std::bad_alloc&) {
      return no_memory(Listing::files);
    }
    if (!start) return {};
    if (!visit_files(node, *start)) return no_memory(Listing::files);
    if (!recursive) return {};
    if (!start->directories ||
        !queue_children(queue_.begin(), node, *start->directories,
                        path_.size(), 0))
      return no_memory(Listing::directories);
    while (!queue_.empty()) {
      collect_ended_reads(false);
      start_reads();
      if (std::optional<Listing> failed = walk_next()) {
        path_.resize(subdirectory_length_);
        return no_memory(*failed, std::move(path_));
      }
    }
    return {};
  }

 private:
  static WalkResult no_memory(Listing listing,
                              std::optional<std::string> subdirectory = {}) {
    return {WALK_NO_MEMORY, listing, std::move(subdirectory)};
  }

  // The argument's directory, read for the files the argument names (and
  // its subdirectories). Nothing when it cannot be opened: then it has no
  // entries to walk. Its opening is timed: the first request of a run tells
  // whether the file system makes requests wait.
  std::optional<DirectoryListing> read_start(const std::string& argument,
                                             bool recursive, NodeRef& node) {
    std::string search = make_search_pattern(style_, cache_.file_system(),
                                             argument, file_pattern_);
    path_ = join_dir_and_name(style_, search, "");
    auto began = Clock::now();
    Result<DirectoryCache::Pin> start = cache_.open(path_);
    if (reads_) reads_->latency().record(Clock::now() - began);
    if (!start) return std::nullopt;
    // The starting directory counts as walked: links back to it are not
    // followed.
    if (recursive) first_visit(start->id());
    node = start->node();
    std::string_view pattern = std::string_view(search).substr(path_.size());
    return list_directory(start->directory(), pattern, recursive);
  }

  // False when the files could not be listed for want of memory; then none
  // is visited. Room for the longest text is made first, so building each
  // file's text needs none. The directory's text is the path's.
  bool visit_files(const NodeRef& node, const DirectoryListing& listing) {
    if (!listing.files) return false;
    const NameList& files = *listing.files;
    std::size_t text_length = path_.size();
    try {
      path_.reserve(text_length + longest_name(files));
    } catch (const std::bad_alloc&) {
      return false;
    }
    for (std::size_t i = 0; i < files.count(); ++i) {
      path_.resize(text_length);
      path_ += files[i];
      visitor_(FoundFile{node, files[i], path_});
    }
    path_.resize(text_length);
    return true;
  }

  // Takes the next directory of the queue and walks it: its files, then
  // its subdirectories go to the front of the queue. The listing that ran
  // out of memory, if one did; the path then names the directory up to
  // `subdirectory_length_`.
  std::optional<Listing> walk_next() {
    count_take();
    QueuedDirectory& next = queue_.front();
    // Room was made when it was queued, so naming it needs none.
    path_.resize(next.parent_length);
    path_ += next.name;
    subdirectory_length_ = path_.size();
    append_separator(style_, path_);
    std::optional<DirectoryListing> read;
    NodeRef node;
    try {
      read = take(next, node);
    } catch (const std::bad_alloc&) {
      return Listing::files;
    }
    if (!read) {
      // Not walked: nothing queued behind it is walked either.
      drop_children(queue_.begin());
      queue_.pop_front();
      return std::nullopt;
    }
    if (!visit_files(node, *read)) return Listing::files;
    if (!read->directories) return Listing::directories;
    if (next.children_queued) {
      queue_.pop_front();
      return std::nullopt;
    }
    std::size_t depth = next.depth;
    queue_.pop_front();
    if (!queue_children(queue_.begin(), node, *read->directories,
                        path_.size(), depth + 1))
      return Listing::directories;
    return std::nullopt;
  }

  // The listing of the queue's next directory: as read ahead, where that
  // was done and is fresh; read here otherwise. Nothing when it cannot be
  // opened or was walked before.
  std::optional<DirectoryListing> take(QueuedDirectory& next, NodeRef& node) {
    if (next.ahead && !next.ahead->ended &&
        reads_->queue().take_back(*next.ahead->request)) {
      // Not started yet: read here rather than wait behind other reads.
      started_.erase(next.ahead->request.get());
      next.ahead.reset();
      --reads_held_;
    }
    if (next.ahead) {
      while (!next.ahead->ended) {
        collect_ended_reads(true);
        start_reads();
      }
      std::shared_ptr<AheadRead> ahead = std::move(next.ahead);
      --reads_held_;
      if (usable(*ahead)) {
        Result<DirectoryCache::Pin> entered = cache_.enter(ahead->node);
        if (entered) {
          if (!first_visit(entered->id())) return std::nullopt;
          node = ahead->node;
          return std::move(ahead->request->listing);
        }
      }
    }
    // Read afresh. What stands behind it was queued from an older listing:
    // what is still there stays, with whatever was read of it meanwhile.
    std::optional<DirectoryListing> read = read_here(next, node);
    if (next.children_queued &&
        !(read && read->directories &&
          requeue_children(queue_.begin(), node, *read->directories)))
      drop_children(queue_.begin());
    return read;
  }

  // A read that ended with a directory, and not so long ago that the
  // directory may have changed since.
  bool usable(const AheadRead& ahead) const {
    return ahead.node && !ahead.request->walked_before &&
           Clock::now() - ahead.ended_at < reads_->listing_lifetime();
  }

  // Opens and reads the subdirectory `name` of `parent`, unless it cannot
  // be opened or was walked before. Timed, for the reads ahead.
  std::optional<DirectoryListing> read_here(const QueuedDirectory& next,
                                            NodeRef& node) {
    auto began = Clock::now();
    Result<DirectoryCache::Pin> child =
        cache_.open_subdirectory(next.parent, next.name);
    if (reads_) reads_->latency().record(Clock::now() - began);
    if (!child || !first_visit(child->id())) return std::nullopt;
    node = child->node();
    return list_directory(child->directory(), file_pattern_, true);
  }

  // Queues the subdirectories `names` of the directory `node`, whose text
  // is `text_length` long, before `before`. False when there was no memory
  // to hold them; then none is queued.
  bool queue_children(Queue::iterator before, const NodeRef& node,
                      const NameList& names, std::size_t text_length,
                      std::size_t depth) {
    if (names.empty()) return true;
    try {
      path_.reserve(text_length + longest_name(names) + 1);
      Queue children;
      for (std::size_t i = 0; i < names.count(); ++i)
        children.push_back(QueuedDirectory{node, names[i], text_length,
                                           depth, nullptr, false});
      queue_.splice(before, children);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  // Brings the subdirectories queued behind `directory` from an older
  // listing in line with `names`, its listing now: those no longer listed
  // go with all below them, the new ones are queued in their places, and
  // the others stay as they are. False when there was no memory; then the
  // queue may hold some of each.
  bool requeue_children(Queue::iterator directory, const NodeRef& node,
                        const NameList& names) {
    std::size_t text_length = path_.size();
    std::size_t depth = directory->depth + 1;
    auto child = std::next(directory);
    try {
      path_.reserve(text_length + longest_name(names) + 1);
      std::size_t i = 0;
      while (child != queue_.end() && child->depth >= depth) {
        for (; i < names.count() && sorts_before(names[i], child->name); ++i)
          queue_.insert(child, QueuedDirectory{node, names[i], text_length,
                                               depth, nullptr, false});
        auto next_child = std::next(child);
        while (next_child != queue_.end() && next_child->depth > depth)
          ++next_child;
        if (i < names.count() && names[i] == child->name) {
          ++i;
        } else {
          drop_children(child);
          if (child->ahead) --reads_held_;
          queue_.erase(child);
        }
        child = next_child;
      }
      for (; i < names.count(); ++i)
        queue_.insert(child, QueuedDirectory{node, names[i], text_length,
                                             depth, nullptr, false});
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  // Drops what stands behind `directory` in the queue because it was
  // queued from its listing: the deeper directories that follow it.
  void drop_children(Queue::iterator directory) {
    directory->children_queued = false;
    auto first = std::next(directory);
    auto last = first;
    while (last != queue_.end() && last->depth > directory->depth) {
      if (last->ahead) --reads_held_;
      ++last;
    }
    queue_.erase(first, last);
  }

  // Starts reads of the directories that stand within the first
  // `most_reads` places of the queue and have none. The queue grows in
  // front of reads started earlier, as subdirectories are queued; when too
  // many are held, the one furthest back makes room.
  void start_reads() {
    if (!reads_ || !reads_->wanted()) return;
    std::size_t places = reads_->places_to_read(take_interval_);
    std::size_t place = 0;
    for (auto at = queue_.begin(); at != queue_.end() && place < places;
         ++at, ++place) {
      if (at->ahead) continue;
      if (reads_held_ >= DirectoryReads::HELD_PER_PLACE * places &&
          !drop_furthest_read(place))
        return;
      if (!start_read(at)) return;
    }
  }

  // The walk's pace: a running mean of the time between two directories
  // taken, each counting for a sixteenth.
  void count_take() {
    Clock::time_point now = Clock::now();
    if (last_take_ != Clock::time_point()) {
      std::chrono::duration<double> since = now - last_take_;
      take_interval_ = take_interval_.count() == 0
                           ? since
                           : take_interval_ + (since - take_interval_) / 16;
    }
    last_take_ = now;
  }

  // Drops the read furthest back in the queue, behind its first `places`
  // places, one that has ended if there is one: it is read again when the
  // walk gets there. False when none was found within a short look.
  bool drop_furthest_read(std::size_t places) {
    std::size_t place = queue_.size();
    std::size_t looked_at = 0;
    auto under_way = queue_.end();
    for (auto at = queue_.end(); at != queue_.begin() && place > places &&
                                 looked_at < MOST_LOOKED_AT;
         ++looked_at) {
      --at;
      --place;
      if (!at->ahead) continue;
      if (!at->ahead->ended) {
        if (under_way == queue_.end()) under_way = at;
        continue;
      }
      drop_read(at);
      return true;
    }
    if (under_way == queue_.end()) return false;
    drop_read(under_way);
    return true;
  }

  void drop_read(Queue::iterator directory) {
    drop_children(directory);
    directory->ahead.reset();
    --reads_held_;
  }

  // False when there was no room to start it.
  bool start_read(Queue::iterator directory) {
    DirectoryCache::Reservation room = cache_.reserve();
    if (!room) return false;
    try {
      Result<DirectoryCache::Pin> parent = cache_.pin(directory->parent);
      if (!parent) return false;
      auto request = std::make_shared<DirectoryRead>();
      request->parent = std::move(*parent);
      request->name = directory->name;
      request->file_pattern = file_pattern_;
      request->walked = &walked_;
      request->room = std::move(room);
      request->latency = &reads_->latency();
      auto ahead = std::make_shared<AheadRead>();
      ahead->request = request;
      ahead->queued = directory;
      started_.emplace(request.get(), ahead);
      try {
        reads_->queue().push(request);
      } catch (const std::bad_alloc&) {
        started_.erase(request.get());
        throw;
      }
      directory->ahead = std::move(ahead);
    } catch (const std::bad_alloc&) {
      return false;
    }
    ++reads_held_;
    return true;
  }

  // Takes in the reads that have ended: each keeps its directory in the
  // cache and queues its subdirectories behind it. With `wait`, sleeps
  // until one ends.
  void collect_ended_reads(bool wait) {
    if (!reads_) return;
    while (std::shared_ptr<IoRequest> ended = reads_->queue().pop(wait)) {
      wait = false;
      auto request = std::static_pointer_cast<DirectoryRead>(ended);
      request->parent = DirectoryCache::Pin();
      auto found = started_.find(request.get());
      std::shared_ptr<AheadRead> ahead = found->second.lock();
      started_.erase(found);
      // Dropped from the queue meanwhile: its directory closes.
      if (!ahead) continue;
      ahead->ended = true;
      ahead->ended_at = Clock::now();
      keep_directory(*ahead);
    }
  }

  void keep_directory(AheadRead& ahead) {
    DirectoryRead& request = *ahead.request;
    if (!request.directory) return;
    Queue::iterator queued = ahead.queued;
    try {
      ahead.node = cache_.keep(queued->parent, request.name,
                               std::move(request.directory),
                               std::move(request.room));
    } catch (const std::bad_alloc&) {
      return;
    }
    if (request.walked_before || !request.listing.files ||
        !request.listing.directories)
      return;
    queued->children_queued = queue_children(
        std::next(queued), ahead.node, *request.listing.directories,
        queued->text_length(), queued->depth + 1);
  }

  // False for a directory this walk has met before. One that has no
  // identity to compare is walked.
  bool first_visit(const std::optional<DirectoryId>& id) {
    return !id || walked_.insert(*id);
  }

  const PathStyle& style_;
  DirectoryCache& cache_;
  std::string_view file_pattern_;
  const FileVisitor& visitor_;
  DirectoryReads* reads_;
  // The text of the directory walked now; a file's text while it is visited.
  std::string path_;
  std::size_t subdirectory_length_ = 0;
  WalkedSet walked_;
  Queue queue_;
  // Reads started and not yet taken by the walk, and the reads under way,
  // by their requests.
  std::size_t reads_held_ = 0;
  Clock::time_point last_take_;
  std::chrono::duration<double> take_interval_{0};
  std::unordered_map<const DirectoryRead*, std::weak_ptr<AheadRead>> started_;
};

}  // namespace

WalkResult walk_pattern(const PathStyle& style, DirectoryCache& cache,
                        const std::string& argument,
                        std::string_view file_pattern,
                        const FileVisitor& visitor, bool recursive,
                        DirectoryReads* reads) {
  Walker walker(style, cache, file_pattern, visitor, reads);
  return walker.run(argument, recursive);
}

}  // namespace ostrel
