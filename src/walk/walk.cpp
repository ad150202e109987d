#include "walk/walk.h"

#include <algorithm>
#include <cstddef>
#include <new>
#include <optional>
#include <unordered_set>
#include <utility>
#include <vector>

#include "walk/listing.h"

namespace ostrel {
namespace {

using NodeRef = DirectoryCache::NodeRef;

// A directory whose subdirectories are still being walked: its node, the
// names still to walk, and the length of its text in the walk's path.
struct Level {
  NodeRef node;
  NameList subdirectories;
  std::size_t next = 0;
  std::size_t text_length = 0;
};

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
         std::string_view file_pattern, const FileVisitor& visitor)
      : style_(style),
        cache_(cache),
        file_pattern_(file_pattern),
        visitor_(visitor) {}

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
    if (!start->directories || !push_level(std::move(node), *start))
      return no_memory(Listing::directories);
    while (!levels_.empty()) {
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
    bool last = ++top.next == top.subdirectories.count();
    std::optional<DirectoryListing> read;
    NodeRef node;
    try {
      read = open_next(parent, name, node);
    } catch (const std::bad_alloc&) {
      return Listing::files;
    }
    // A level with nothing left goes before the walk goes deeper, so a
    // chain of single directories holds one level, not one per level; so
    // does one whose directory is gone.
    if (last || (!read && DirectoryCache::is_gone(parent))) levels_.pop_back();
    if (!read) return std::nullopt;
    if (!visit_files(node, *read)) return Listing::files;
    if (!read->directories || !push_level(std::move(node), *read))
      return Listing::directories;
    return std::nullopt;
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

  // False when there was no memory to hold the level.
  bool push_level(NodeRef node, DirectoryListing& read) {
    if (read.directories->empty()) return true;
    try {
      path_.reserve(path_.size() + longest_name(*read.directories) + 1);
      levels_.push_back(Level{std::move(node),
                              std::move(*read.directories), 0, path_.size()});
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  // False for a directory this walk has met before. One that has no
  // identity to compare is walked.
  bool first_visit(const std::optional<DirectoryId>& id) {
    return !id || walked_.insert(*id).second;
  }

  const PathStyle& style_;
  DirectoryCache& cache_;
  std::string_view file_pattern_;
  const FileVisitor& visitor_;
  // The text of the directory walked now; a file's text while it is visited.
  std::string path_;
  std::size_t subdirectory_length_ = 0;
  std::unordered_set<DirectoryId, DirectoryIdHash> walked_;
  std::vector<Level> levels_;
};

}  // namespace

WalkResult walk_pattern(const PathStyle& style, DirectoryCache& cache,
                        const std::string& argument,
                        std::string_view file_pattern,
                        const FileVisitor& visitor, bool recursive) {
  Walker walker(style, cache, file_pattern, visitor);
  return walker.run(argument, recursive);
}

}  // namespace ostrel
