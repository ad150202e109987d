#include "walk/walk.h"

#include <cstddef>
#include <new>
#include <optional>
#include <unordered_set>
#include <utility>
#include <vector>

#include "walk/listing.h"

namespace ostrel {
namespace {

// A directory whose subdirectories are still being walked.
struct Level {
  NameList subdirectories;
  std::size_t next = 0;
};

// The walk of one argument. The levels live on an explicit stack, so the
// depth of a tree never deepens the call stack.
class Walker {
 public:
  Walker(const PathStyle& style, FileSystem& fs, std::string_view file_pattern,
         const FileVisitor& visitor)
      : style_(style),
        fs_(fs),
        file_pattern_(file_pattern),
        visitor_(visitor) {}

  WalkResult run(const std::string& argument, bool recursive) {
    if (!visit_files(argument, false)) return no_memory(Listing::files);
    if (!recursive) return {};
    if (!list_subdirectories(argument, false))
      return no_memory(Listing::directories);
    while (!levels_.empty()) {
      std::string directory = next_subdirectory();
      if (std::optional<Listing> failed = walk_subdirectory(directory))
        return no_memory(*failed, std::move(directory));
    }
    return {};
  }

 private:
  static WalkResult no_memory(Listing listing,
                              std::optional<std::string> subdirectory = {}) {
    return {WALK_NO_MEMORY, listing, std::move(subdirectory)};
  }

  // False when memory ran out. `nested`: the argument is a subdirectory that
  // a listing reported.
  bool visit_files(const std::string& argument, bool nested) {
    std::optional<NameList> files;
    try {
      std::string pattern =
          nested ? pattern_inside(style_, argument, file_pattern_)
                 : make_search_pattern(style_, fs_, argument, file_pattern_);
      files = list_files(style_, fs_, pattern);
    } catch (const std::bad_alloc&) {
    }
    if (!files) return false;
    for (std::size_t i = 0; i < files->count(); ++i) visitor_((*files)[i]);
    return true;
  }

  // Puts the argument's subdirectories on the stack, if it has any. False
  // when memory ran out.
  bool list_subdirectories(const std::string& argument, bool nested) {
    try {
      std::string pattern;
      if (nested) {
        pattern = pattern_inside(style_, argument, "*.*");
      } else {
        pattern = make_subdir_pattern(style_, fs_, argument);
        // The starting directory counts as walked: links back to it are
        // not followed.
        first_visit(join_dir_and_name(style_, pattern, ""));
      }
      std::optional<NameList> subdirectories =
          list_matches(style_, fs_, pattern, true);
      if (!subdirectories) return false;
      if (!subdirectories->empty())
        levels_.push_back(Level{std::move(*subdirectories)});
      return true;
    } catch (const std::bad_alloc&) {
      return false;
    }
  }

  // Takes the next subdirectory of the innermost level. A level with
  // nothing left goes before the walk goes deeper, so a chain of single
  // directories holds one listing, not one per level.
  std::string next_subdirectory() {
    Level& level = levels_.back();
    std::string directory = level.subdirectories.take(level.next);
    if (++level.next == level.subdirectories.count()) levels_.pop_back();
    return directory;
  }

  // Visits a subdirectory's files and puts its own subdirectories on the
  // stack; the listing that ran out of memory, if one did.
  std::optional<Listing> walk_subdirectory(const std::string& directory) {
    try {
      if (!first_visit(directory)) return std::nullopt;
    } catch (const std::bad_alloc&) {
      return Listing::files;
    }
    if (!visit_files(directory, true)) return Listing::files;
    if (!list_subdirectories(directory, true)) return Listing::directories;
    return std::nullopt;
  }

  // False for a directory this walk has met before. One that has no
  // identity to compare is walked: the file system could not open it.
  bool first_visit(const std::string& directory) {
    std::optional<DirectoryId> id = fs_.directory_id(directory);
    return !id || walked_.insert(*id).second;
  }

  const PathStyle& style_;
  FileSystem& fs_;
  std::string_view file_pattern_;
  const FileVisitor& visitor_;
  std::unordered_set<DirectoryId, DirectoryIdHash> walked_;
  std::vector<Level> levels_;
};

}  // namespace

WalkResult walk_pattern(const PathStyle& style, FileSystem& fs,
                        const std::string& argument,
                        std::string_view file_pattern,
                        const FileVisitor& visitor, bool recursive) {
  Walker walker(style, fs, file_pattern, visitor);
  return walker.run(argument, recursive);
}

}  // namespace ostrel
