#include "walk/walk.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <new>
#include <optional>
#include <utility>

#include "walk/listing.h"
#include "walk/walk_queue.h"

namespace ostrel {
namespace {

using NodeRef = DirectoryCache::NodeRef;
using Clock = std::chrono::steady_clock;

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
        reads_(reads),
        queue_(cache, file_pattern, walked_, reads, path_) {}

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
    if (!start->directories || !queue_.push_front(node, *start->directories, 0))
      return no_memory(Listing::directories);
    while (!queue_.empty()) {
      queue_.read_ahead();
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
    if (recursive && start->id()) walked_.insert(*start->id());
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
      path_.reserve(text_length + files.longest());
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
    const WalkQueue::Entry& next = queue_.front();
    // Room was made when it was queued, so naming it needs none.
    path_.resize(next.parent_length);
    path_ += next.name;
    subdirectory_length_ = path_.size();
    append_separator(style_, path_);
    std::optional<DirectoryListing> read;
    NodeRef node;
    try {
      read = queue_.take_front(node);
    } catch (const std::bad_alloc&) {
      return Listing::files;
    }
    // Not walked: nothing queued behind it is walked either.
    if (!read) {
      queue_.pop_front(node, nullptr);
      return std::nullopt;
    }
    if (!visit_files(node, *read)) return Listing::files;
    if (!read->directories ||
        !queue_.pop_front(node, &*read->directories))
      return Listing::directories;
    return std::nullopt;
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
  WalkQueue queue_;
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
