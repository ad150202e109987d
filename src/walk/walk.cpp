#include "walk/walk.h"

#include <algorithm>
#include <cstddef>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "walk/listing.h"

namespace ostrel {
namespace {

using NodeRef = DirectoryCache::NodeRef;
using Ahead = std::shared_ptr<AheadRead>;

// A directory whose subdirectories are still being walked: its node, the
// names still to walk, the length of its text in the walk's path, and the
// reads ahead of its subdirectories, where there are any.
struct Level {
  NodeRef node;
  NameList subdirectories;
  std::size_t next = 0;
  std::size_t text_length = 0;
  std::vector<Ahead> ahead;
};

// How far one look for directories to read ahead goes, so that a step of
// the walk costs little however much is held ahead.
constexpr std::size_t MOST_LOOKED_AT = 1024;

// The length of the longest name of a listing.
std::size_t longest_name(const NameList& names) {
  std::size_t longest = 0;
  for (std::size_t i = 0; i < names.count(); ++i)
    longest = std::max(longest, names[i].size());
  return longest;
}

// The walk of one argument. The levels live on an explicit stack, so the
// depth of a tree never deepens the call stack.
class Walker {
 public:
  Walker(const PathStyle& style, DirectoryCache& cache,
         std::string_view file_pattern, const FileVisitor& visitor,
         ReadAhead* ahead)
      : style_(style),
        cache_(cache),
        file_pattern_(file_pattern),
        visitor_(visitor),
        ahead_(ahead) {}

  // Reads ahead that are under way end before what they read into goes.
  ~Walker() {
    if (ahead_) ahead_->finish();
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
    if (!start->directories || !push_level(std::move(node), *start, {}))
      return no_memory(Listing::directories);
    while (!levels_.empty()) {
      read_ahead();
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
  // entries to walk.
  std::optional<DirectoryListing> read_start(const std::string& argument,
                                             bool recursive, NodeRef& node) {
    std::string search = make_search_pattern(style_, cache_.file_system(),
                                             argument, file_pattern_);
    path_ = join_dir_and_name(style_, search, "");
    Result<DirectoryCache::Pin> start = cache_.open(path_);
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

  // Takes the next subdirectory of the innermost level and walks it: its
  // files, then its own subdirectories go on the stack. The listing that
  // ran out of memory, if one did; the path then names the subdirectory up
  // to `subdirectory_length_`.
  std::optional<Listing> walk_next() {
    Level& top = levels_.back();
    const std::string& name = top.subdirectories[top.next];
    // Room was made when the level was stored, so naming it needs none.
    path_.resize(top.text_length);
    path_ += name;
    subdirectory_length_ = path_.size();
    append_separator(style_, path_);
    NodeRef parent = top.node;
    Ahead ahead;
    if (!top.ahead.empty()) ahead = std::move(top.ahead[top.next]);
    bool last = ++top.next == top.subdirectories.count();
    std::optional<DirectoryListing> read;
    NodeRef node;
    std::vector<Ahead> below;
    try {
      read = ahead ? take_ahead(parent, name, *ahead, node, below)
                   : open_next(parent, name, node);
    } catch (const std::bad_alloc&) {
      return Listing::files;
    }
    // A level with nothing left goes before the walk goes deeper, so a
    // chain of single directories holds one level, not one per level; so
    // does one whose directory is gone.
    if (last || (!read && DirectoryCache::is_gone(parent))) levels_.pop_back();
    if (!read) return std::nullopt;
    if (!visit_files(node, *read)) return Listing::files;
    if (!read->directories ||
        !push_level(std::move(node), *read, std::move(below)))
      return Listing::directories;
    return std::nullopt;
  }

  // The subdirectory `name` of `parent` as it was read ahead; read here
  // after all where that could not be done.
  std::optional<DirectoryListing> take_ahead(const NodeRef& parent,
                                             const std::string& name,
                                             AheadRead& ahead, NodeRef& node,
                                             std::vector<Ahead>& below) {
    ahead_->wait(ahead);
    if (ahead.walked) return std::nullopt;
    if (!ahead.directory) return open_next(parent, name, node);
    DirectoryCache::Pin child =
        cache_.adopt(parent, name, std::move(ahead.directory));
    if (!first_visit(child.id())) return std::nullopt;
    node = child.node();
    below = std::move(ahead.children);
    return std::move(ahead.listing);
  }

  // Starts reads of the next directories in walk order, from the innermost
  // level out, as many as there is room for: below a directory already
  // read, its own subdirectories come first.
  void read_ahead() {
    if (!ahead_) return;
    std::size_t room = ahead_->room();
    std::size_t looked_at = 0;
    try {
      for (auto level = levels_.rbegin();
           level != levels_.rend() && room > 0 && looked_at < MOST_LOOKED_AT;
           ++level) {
        std::shared_ptr<const Directory> parent;
        if (level->ahead.empty())
          level->ahead.resize(level->subdirectories.count());
        for (std::size_t i = level->next;
             i < level->ahead.size() && room > 0 && looked_at < MOST_LOOKED_AT;
             ++i) {
          if (!level->ahead[i] && !parent) {
            Result<std::shared_ptr<const Directory>> shared =
                cache_.share(level->node);
            if (!shared) break;
            parent = std::move(*shared);
          }
          read_ahead_of(level->ahead[i], parent, level->subdirectories[i],
                        room, looked_at);
        }
      }
    } catch (const std::bad_alloc&) {
      // No memory to read ahead: the walk reads for itself.
    }
  }

  // Starts the read of one directory, or of those below it once it is read.
  void read_ahead_of(Ahead& slot, const std::shared_ptr<const Directory>& parent,
                     const std::string& name, std::size_t& room,
                     std::size_t& looked_at) {
    ++looked_at;
    if (!slot) {
      slot = ahead_->request(parent, name, walked_);
      --room;
      return;
    }
    AheadRead& read = *slot;
    if (!read.done.load(std::memory_order_acquire) || !read.directory ||
        read.walked || !read.listing.directories)
      return;
    const NameList& names = *read.listing.directories;
    if (read.children.empty()) read.children.resize(names.count());
    for (std::size_t i = 0;
         i < names.count() && room > 0 && looked_at < MOST_LOOKED_AT; ++i)
      read_ahead_of(read.children[i], read.directory, names[i], room,
                    looked_at);
  }

  // Opens and reads the subdirectory `name` of `parent`, unless it cannot
  // be opened or was walked before.
  std::optional<DirectoryListing> open_next(const NodeRef& parent,
                                            const std::string& name,
                                            NodeRef& node) {
    Result<DirectoryCache::Pin> child = cache_.open_subdirectory(parent, name);
    if (!child || !first_visit(child->id())) return std::nullopt;
    node = child->node();
    return list_directory(child->directory(), file_pattern_, true);
  }

  // False when there was no memory to hold the level. `ahead`: the reads
  // ahead of its subdirectories, where it was read ahead itself.
  bool push_level(NodeRef node, DirectoryListing& read,
                  std::vector<Ahead> ahead) {
    if (read.directories->empty()) return true;
    try {
      path_.reserve(path_.size() + longest_name(*read.directories) + 1);
      levels_.push_back(Level{std::move(node), std::move(*read.directories),
                              0, path_.size(), std::move(ahead)});
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
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
  ReadAhead* ahead_;
  // The text of the directory walked now; a file's text while it is visited.
  std::string path_;
  std::size_t subdirectory_length_ = 0;
  WalkedSet walked_;
  std::vector<Level> levels_;
};

}  // namespace

WalkResult walk_pattern(const PathStyle& style, DirectoryCache& cache,
                        const std::string& argument,
                        std::string_view file_pattern,
                        const FileVisitor& visitor, bool recursive,
                        ReadAhead* ahead) {
  Walker walker(style, cache, file_pattern, visitor, ahead);
  return walker.run(argument, recursive);
}

}  // namespace ostrel
