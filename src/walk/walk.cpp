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

// One name on the way down from one held level to the next, with the length
// of its directory text (every text below extends the one above it).
struct Step {
  std::string name;
  std::size_t text_length;
};

// A directory whose subdirectories are still being walked. Its handle may be
// closed to stay within the descriptors the walk may hold; it is then opened
// again from the nearest level below that is open, by the names that led
// from there, and only if it is still the same directory.
struct Level {
  std::string text;  // its directory text: its path and a separator
  std::vector<Step> route;  // from the level below, or from the start
  std::optional<DirectoryId> id;
  DirectoryHandle handle;
  NameList subdirectories;
  std::size_t next = 0;
};

// The length of the longest name of a listing.
std::size_t longest_name(const NameList& names) {
  std::size_t longest = 0;
  for (std::size_t i = 0; i < names.count(); ++i)
    longest = std::max(longest, names[i].size());
  return longest;
}

// A directory just opened, with what one read of it found.
struct ReadLevel {
  std::string text;
  DirectoryHandle handle;
  DirectoryListing listing;
};

// The walk of one argument. The levels live on an explicit stack, so the
// depth of a tree never deepens the call stack.
class Walker {
 public:
  Walker(const PathStyle& style, FileSystem& fs, std::string_view file_pattern,
         const FileVisitor& visitor, const WalkHandles& handles)
      : style_(style),
        fs_(fs),
        file_pattern_(file_pattern),
        visitor_(visitor),
        handles_(handles) {}

  WalkResult run(const std::string& argument, bool recursive) {
    std::optional<ReadLevel> start;
    try {
      start = read_start(argument, recursive);
    } catch (const std::bad_alloc&) {
      return no_memory(Listing::files);
    }
    if (!start) return {};
    if (!visit_files(*start)) return no_memory(Listing::files);
    if (!recursive) return {};
    if (!start->listing.directories) return no_memory(Listing::directories);
    start_ = start->handle;
    if (!push_level(std::move(*start), {}))
      return no_memory(Listing::directories);
    while (!levels_.empty()) {
      if (std::optional<Listing> failed = walk_next())
        return no_memory(*failed, std::move(next_text_));
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
  std::optional<ReadLevel> read_start(const std::string& argument,
                                      bool recursive) {
    std::string search = make_listing_pattern(
        style_, fs_, make_search_pattern(style_, fs_, argument, file_pattern_));
    ReadLevel start;
    start.text = join_dir_and_name(style_, search, "");
    start.handle = open_directory([&] { return fs_.open_directory(start.text); });
    if (!start.handle) return std::nullopt;
    // The starting directory counts as walked: links back to it are not
    // followed.
    if (recursive) first_visit(*start.handle);
    std::string_view pattern = std::string_view(search).substr(start.text.size());
    start.listing = list_directory(fs_, *start.handle, pattern, recursive);
    return start;
  }

  // False when the files could not be listed for want of memory; then none
  // is visited. Room for the longest text is made first, so building each
  // file's text needs none.
  bool visit_files(const ReadLevel& level) {
    if (!level.listing.files) return false;
    const NameList& files = *level.listing.files;
    try {
      file_text_.reserve(level.text.size() + longest_name(files));
    } catch (const std::bad_alloc&) {
      return false;
    }
    for (std::size_t i = 0; i < files.count(); ++i) {
      file_text_.assign(level.text);
      file_text_ += files[i];
      visitor_(FoundFile{level.handle, files[i], file_text_});
    }
    return true;
  }

  // Takes the next subdirectory of the innermost level and walks it: its
  // files, then its own subdirectories go on the stack. The listing that
  // ran out of memory, if one did; `next_text_` then names the subdirectory.
  std::optional<Listing> walk_next() {
    const Level& next = levels_.back();
    // Room was made when the level was stored, so naming it needs none.
    next_text_.assign(next.text);
    next_text_ += next.subdirectories[next.next];
    std::optional<ReadLevel> read;
    std::vector<Step> route;
    try {
      if (!hold_top()) return std::nullopt;
      read = open_next(levels_.back(), route);
    } catch (const std::bad_alloc&) {
      return Listing::files;
    }
    if (!read) return std::nullopt;
    if (!visit_files(*read)) return Listing::files;
    if (!read->listing.directories ||
        !push_level(std::move(*read), std::move(route)))
      return Listing::directories;
    return std::nullopt;
  }

  // Opens and reads the next subdirectory of `top`, unless it cannot be
  // opened or was walked before. A level with nothing left goes before the
  // walk goes deeper, so a chain of single directories holds one level,
  // not one per level; what led to it then leads on from the level below.
  std::optional<ReadLevel> open_next(Level& top, std::vector<Step>& route) {
    std::string name = top.subdirectories[top.next];
    ReadLevel read;
    read.text = join_dir_and_name(
        style_, pattern_inside(style_, top.text + name, file_pattern_), "");
    DirectoryHandle parent = top.handle;
    read.handle = open_directory(
        [&] { return fs_.open_subdirectory(*parent, name, read.text); });
    if (++top.next == top.subdirectories.count()) {
      route = std::move(top.route);
      levels_.pop_back();
    }
    route.push_back(Step{std::move(name), read.text.size()});
    if (!read.handle || !first_visit(*read.handle)) return std::nullopt;
    read.listing = list_directory(fs_, *read.handle, file_pattern_, true);
    return read;
  }

  // False when there was no memory to hold the level.
  bool push_level(ReadLevel read, std::vector<Step> route) {
    if (read.listing.directories->empty()) return true;
    try {
      next_text_.reserve(read.text.size() +
                         longest_name(*read.listing.directories));
      levels_.push_back(Level{std::move(read.text), std::move(route),
                              read.handle->id(), std::move(read.handle),
                              std::move(*read.listing.directories)});
    } catch (const std::bad_alloc&) {
      return false;
    }
    close_spare_levels(handles_.most_open_levels);
    return true;
  }

  // The innermost level, open; false when it cannot be opened again as the
  // directory it was: that level counts as removed, with what was left of
  // it and every level inside it.
  bool hold_top() {
    if (levels_.back().handle) return true;
    std::size_t open_below = levels_.size() - 1;
    while (open_below > 0 && !levels_[open_below - 1].handle) --open_below;
    DirectoryHandle from = open_below > 0 ? levels_[open_below - 1].handle
                                          : start_;
    for (std::size_t i = open_below; i < levels_.size(); ++i) {
      Level& level = levels_[i];
      for (const Step& step : level.route) {
        std::string text = level.text.substr(0, step.text_length);
        DirectoryHandle parent = from;
        from = open_directory(
            [&] { return fs_.open_subdirectory(*parent, step.name, text); });
        if (!from) break;
      }
      if (!from || from->id() != level.id) {
        levels_.erase(levels_.begin() + static_cast<std::ptrdiff_t>(i), levels_.end());
        return false;
      }
      level.handle = from;
      close_spare_levels(handles_.most_open_levels);
    }
    return true;
  }

  // Closes the handles of the outermost levels beyond `most` open ones: the
  // walk returns to them last.
  void close_spare_levels(std::size_t most) {
    std::size_t open = 0;
    for (const Level& level : levels_) open += level.handle ? 1 : 0;
    for (std::size_t i = 0; open > most && i + 1 < levels_.size(); ++i) {
      if (!levels_[i].handle) continue;
      levels_[i].handle.reset();
      --open;
    }
  }

  // An open that ran out of descriptors is tried once more after the
  // caller and the walk have let go of all they can.
  template <typename Open>
  DirectoryHandle open_directory(Open&& open) {
    DirectoryOpening opening = open();
    if (opening.out_of_handles) {
      if (handles_.release) handles_.release();
      close_spare_levels(1);
      opening = open();
    }
    return std::move(opening.directory);
  }

  // False for a directory this walk has met before. One that has no
  // identity to compare is walked.
  bool first_visit(const OpenDirectory& directory) {
    std::optional<DirectoryId> id = directory.id();
    return !id || walked_.insert(*id).second;
  }

  const PathStyle& style_;
  FileSystem& fs_;
  std::string_view file_pattern_;
  const FileVisitor& visitor_;
  const WalkHandles& handles_;
  DirectoryHandle start_;
  std::string next_text_;  // the text of the subdirectory walked last
  std::string file_text_;  // the text of the file visited last
  std::unordered_set<DirectoryId, DirectoryIdHash> walked_;
  std::vector<Level> levels_;
};

}  // namespace

WalkResult walk_pattern(const PathStyle& style, FileSystem& fs,
                        const std::string& argument,
                        std::string_view file_pattern,
                        const FileVisitor& visitor, bool recursive,
                        const WalkHandles& handles) {
  Walker walker(style, fs, file_pattern, visitor, handles);
  return walker.run(argument, recursive);
}

}  // namespace ostrel
