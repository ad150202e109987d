#include "walk/walk_queue.h"

#include <algorithm>
#include <iterator>
#include <new>
#include <utility>

namespace ostrel {
namespace {

// How far one look for a read to drop goes, so that a step of the walk
// costs little however much is queued.
constexpr std::size_t MOST_LOOKED_AT = 1024;

}  // namespace

WalkQueue::WalkQueue(DirectoryCache& cache, std::string_view file_pattern,
                     WalkedSet& walked, DirectoryReads* reads,
                     std::string& path)
    : cache_(cache),
      file_pattern_(file_pattern),
      walked_(walked),
      reads_(reads),
      path_(path) {}

WalkQueue::~WalkQueue() {
  if (reads_) reads_->queue().cancel();
}

bool WalkQueue::push_front(const NodeRef& node, const NameList& names,
                           std::size_t depth) {
  return queue_children(entries_.begin(), node, names, path_.size(), depth);
}

void WalkQueue::read_ahead() {
  collect_ended_reads(false);
  start_reads();
}

std::optional<DirectoryListing> WalkQueue::take_front(NodeRef& node) {
  count_take();
  Entry& next = entries_.front();
  if (next.ahead && !next.ahead->ended &&
      reads_->queue().take_back(*next.ahead->request)) {
    // Not started yet: read here rather than wait behind other reads.
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
        requeue_children(entries_.begin(), node, *read->directories,
                         path_.size())))
    drop_children(entries_.begin());
  return read;
}

bool WalkQueue::pop_front(const NodeRef& node, const NameList* names) {
  auto front = entries_.begin();
  if (!names) drop_children(front);
  bool queued = front->children_queued;
  std::size_t depth = front->depth + 1;
  entries_.pop_front();
  return !names || queued || push_front(node, *names, depth);
}

// A read that ended with a directory, and not so long ago that the
// directory may have changed since.
bool WalkQueue::usable(const AheadRead& ahead) const {
  return ahead.node && !ahead.request->walked_before &&
         Clock::now() - ahead.ended_at < reads_->listing_lifetime();
}

// Opens and reads the subdirectory `name` of `parent`, unless it cannot be
// opened or was walked before. Timed, for the reads ahead.
std::optional<DirectoryListing> WalkQueue::read_here(const Entry& next,
                                                     NodeRef& node) {
  auto began = Clock::now();
  Result<DirectoryCache::Pin> child =
      cache_.open_subdirectory(next.parent, next.name);
  if (reads_) reads_->latency().record(Clock::now() - began);
  if (!child || !first_visit(child->id())) return std::nullopt;
  node = child->node();
  return list_directory(child->directory(), file_pattern_, true);
}

// Queues the subdirectories `names` of the directory `node`, whose text is
// `text_length` long, before `before`. False when there was no memory to
// hold them; then none is queued.
bool WalkQueue::queue_children(Entries::iterator before, const NodeRef& node,
                               const NameList& names, std::size_t text_length,
                               std::size_t depth) {
  if (names.empty()) return true;
  try {
    path_.reserve(text_length + names.longest() + 1);
    Entries children;
    for (std::size_t i = 0; i < names.count(); ++i)
      children.push_back(Entry{node, names[i], text_length, depth, nullptr,
                               false});
    entries_.splice(before, children);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// Brings the subdirectories queued behind `directory` from an older listing
// in line with `names`, its listing now, the directory's text being
// `text_length` long: those no longer listed go with all below them, the
// new ones are queued in their places, and the others stay as they are.
// False when there was no memory; then the queue may hold some of each.
bool WalkQueue::requeue_children(Entries::iterator directory,
                                 const NodeRef& node, const NameList& names,
                                 std::size_t text_length) {
  std::size_t depth = directory->depth + 1;
  auto child = std::next(directory);
  try {
    path_.reserve(text_length + names.longest() + 1);
    std::size_t i = 0;
    while (child != entries_.end() && child->depth >= depth) {
      for (; i < names.count() && sorts_before(names[i], child->name); ++i)
        entries_.insert(
            child, Entry{node, names[i], text_length, depth, nullptr, false});
      auto next_child = std::next(child);
      while (next_child != entries_.end() && next_child->depth > depth)
        ++next_child;
      if (i < names.count() && names[i] == child->name) {
        ++i;
      } else {
        drop_children(child);
        if (child->ahead) --reads_held_;
        entries_.erase(child);
      }
      child = next_child;
    }
    for (; i < names.count(); ++i)
      entries_.insert(child,
                      Entry{node, names[i], text_length, depth, nullptr, false});
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// Drops what stands behind `directory` in the queue because it was queued
// from its listing: the deeper directories that follow it.
void WalkQueue::drop_children(Entries::iterator directory) {
  directory->children_queued = false;
  auto first = std::next(directory);
  auto last = first;
  while (last != entries_.end() && last->depth > directory->depth) {
    if (last->ahead) --reads_held_;
    ++last;
  }
  entries_.erase(first, last);
}

// The walk's pace: a running mean of the time between two directories
// taken, each counting for a sixteenth.
void WalkQueue::count_take() {
  Clock::time_point now = Clock::now();
  if (last_take_ != Clock::time_point()) {
    std::chrono::duration<double> since = now - last_take_;
    take_interval_ = take_interval_.count() == 0
                         ? since
                         : take_interval_ + (since - take_interval_) / 16;
  }
  last_take_ = now;
}

// Starts reads of the directories that stand within the first places of
// the queue, as many as the walk takes in half a listing's lifetime, and
// have none. The queue grows in front of reads started earlier, as
// subdirectories are queued; when too many are held, the one furthest back
// makes room.
void WalkQueue::start_reads() {
  if (!reads_ || !reads_->wanted()) return;
  std::size_t places = reads_->places_to_read(take_interval_);
  const Clock::time_point now = Clock::now();
  const Clock::duration lifetime = reads_->listing_lifetime();
  std::size_t place = 0;
  for (auto at = entries_.begin(); at != entries_.end() && place < places;
       ++at, ++place) {
    if (at->ahead) {
      // The front is the walk's to wait for, or to read itself.
      if (place > 0 && stale_when_taken(*at->ahead, place, now, lifetime) &&
          !start_read(at))
        return;
      continue;
    }
    if (reads_held_ >= DirectoryReads::HELD_PER_PLACE * places &&
        !drop_furthest_read(place))
      return;
    if (!start_read(at)) return;
    ++reads_held_;
  }
}

// A read that ended so long ago that, at the walk's pace, its listing will
// have gone stale by the time the walk gets to its place: it is read again
// now, so that the walk does not wait for that then. Not before half its
// life, so that a read is not read again and again.
bool WalkQueue::stale_when_taken(const AheadRead& ahead, std::size_t place,
                                 Clock::time_point now,
                                 Clock::duration lifetime) const {
  if (!ahead.ended || !ahead.node) return false;
  Clock::duration waited = now - ahead.ended_at;
  if (waited < lifetime / 2) return false;
  auto to_come = std::chrono::duration_cast<Clock::duration>(
      take_interval_ * static_cast<double>(place));
  return waited + to_come >= lifetime;
}

// Starts a read of `directory`, in place of the one it has, if any. False
// when there was no room to start it.
bool WalkQueue::start_read(Entries::iterator directory) {
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
    request->owner = ahead;
    reads_->queue().push(request);
    directory->ahead = std::move(ahead);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// Drops the read furthest back in the queue, behind its first `places`
// places, one that has ended if there is one: it is read again when the
// walk gets there. False when none was found within a short look.
bool WalkQueue::drop_furthest_read(std::size_t places) {
  std::size_t place = entries_.size();
  std::size_t looked_at = 0;
  auto under_way = entries_.end();
  for (auto at = entries_.end();
       at != entries_.begin() && place > places && looked_at < MOST_LOOKED_AT;
       ++looked_at) {
    --at;
    --place;
    if (!at->ahead) continue;
    if (!at->ahead->ended) {
      if (under_way == entries_.end()) under_way = at;
      continue;
    }
    drop_read(at);
    return true;
  }
  if (under_way == entries_.end()) return false;
  drop_read(under_way);
  return true;
}

void WalkQueue::drop_read(Entries::iterator directory) {
  drop_children(directory);
  directory->ahead.reset();
  --reads_held_;
}

// Takes in the reads that have ended: each keeps its directory in the cache
// and queues its subdirectories behind it. With `wait`, sleeps until one
// ends.
void WalkQueue::collect_ended_reads(bool wait) {
  if (!reads_) return;
  while (std::shared_ptr<IoRequest> ended = reads_->queue().pop(wait)) {
    wait = false;
    auto request = std::static_pointer_cast<DirectoryRead>(ended);
    request->parent = DirectoryCache::Pin();
    auto ahead = std::static_pointer_cast<AheadRead>(request->owner.lock());
    // Dropped from the queue meanwhile: its directory closes.
    if (!ahead) continue;
    ahead->ended = true;
    ahead->ended_at = Clock::now();
    keep_directory(*ahead);
  }
}

void WalkQueue::keep_directory(AheadRead& ahead) {
  DirectoryRead& request = *ahead.request;
  if (!request.directory) return;
  Entries::iterator queued = ahead.queued;
  try {
    ahead.node = cache_.keep(queued->parent, request.name,
                             std::move(request.directory),
                             std::move(request.room));
  } catch (const std::bad_alloc&) {
    return;
  }
  if (request.walked_before) return;
  const std::optional<NameList>& names = request.listing.directories;
  bool queued_now =
      request.listing.files && names &&
      (queued->children_queued
           ? requeue_children(queued, ahead.node, *names, queued->text_length())
           : queue_children(std::next(queued), ahead.node, *names,
                            queued->text_length(), queued->depth + 1));
  // What stands behind it from an older listing goes where the new one
  // could not be queued; the walk lists the directory again when it gets
  // there.
  if (!queued_now && queued->children_queued) drop_children(queued);
  queued->children_queued = queued_now;
}

// False for a directory this walk has met before. One that has no identity
// to compare is walked.
bool WalkQueue::first_visit(const std::optional<DirectoryId>& id) {
  return !id || walked_.insert(*id);
}

}  // namespace ostrel
