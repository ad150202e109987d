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

enum class ListingKind { files, directories };

void print_memory_error(const WalkContext& context, ListingKind kind,
                        const std::string& argument) {
  std::string_view head = kind == ListingKind::files
                              ? "memory error for wildcard \""
                              : "memory error for wildcard (dir) \"";
  std::string line;
  try {
    line.reserve(head.size() + argument.size() + 2);
    line += head;
    line += argument;
    line += "\"\n";
  } catch (const std::bad_alloc&) {
    // No room even for the line: it goes out in pieces.
    context.print(head);
    context.print(argument);
    context.print("\"\n");
    return;
  }
  context.print(line);
}

// The pattern for the entries of a directory known to be one. Its name is
// not classified again, so a name holding '*' or '?' still means the
// directory and is never read as a wildcard.
std::string pattern_inside(const PathStyle& style, const std::string& directory,
                           std::string_view name_pattern) {
  std::string pattern = directory;
  append_separator(style, pattern);
  pattern += name_pattern;
  return pattern;
}

// A directory whose subdirectories are still being walked.
struct Level {
  Level(const std::string& argument, NameList subdirectories)
      : argument(argument), subdirectories(std::move(subdirectories)) {}

  std::string argument;
  NameList subdirectories;
  std::size_t next = 0;
};

// The walk of one argument. The levels live on an explicit stack, so the
// depth of a tree never deepens the call stack.
class Walker {
 public:
  Walker(const WalkContext& context, std::string_view file_pattern,
         const FileVisitor& visitor)
      : context_(context), file_pattern_(file_pattern), visitor_(visitor) {}

  int run(const std::string& argument, bool recursive) {
    int result = visit_files(argument, false);
    if (result != 0 || !recursive) return result;
    result = list_subdirectories(argument, false);
    while (result == 0 && !levels_.empty()) result = walk_next_subdirectory();
    return result;
  }

 private:
  // `nested`: the argument is a subdirectory that a listing reported.
  int visit_files(const std::string& argument, bool nested) {
    std::optional<NameList> files;
    try {
      std::string pattern =
          nested ? pattern_inside(context_.style, argument, file_pattern_)
                 : make_search_pattern(context_.style, context_.fs, argument,
                                       file_pattern_);
      files = list_files(context_.style, context_.fs, pattern, true);
    } catch (const std::bad_alloc&) {
    }
    if (!files) {
      print_memory_error(context_, ListingKind::files, argument);
      return WALK_NO_MEMORY;
    }
    for (std::size_t i = 0; i < files->count(); ++i)
      if (int result = visitor_((*files)[i])) return result;
    return 0;
  }

  // Puts the argument's subdirectories on the stack, if it has any.
  int list_subdirectories(const std::string& argument, bool nested) {
    try {
      std::string pattern;
      if (nested) {
        pattern = pattern_inside(context_.style, argument, "*.*");
      } else {
        pattern = make_subdir_pattern(context_.style, context_.fs, argument);
        // The starting directory counts as walked: links back to it are
        // not followed.
        first_visit(join_dir_and_name(context_.style, pattern, ""));
      }
      std::optional<NameList> subdirectories =
          list_matches(context_.style, context_.fs, pattern, true, true);
      if (subdirectories) {
        if (!subdirectories->empty())
          levels_.emplace_back(argument, std::move(*subdirectories));
        return 0;
      }
    } catch (const std::bad_alloc&) {
    }
    print_memory_error(context_, ListingKind::directories, argument);
    return WALK_NO_MEMORY;
  }

  // Walks the next subdirectory of the innermost level: its files, then
  // its own subdirectories go on the stack.
  int walk_next_subdirectory() {
    Level& level = levels_.back();
    const std::string& entry = level.subdirectories[level.next];
    std::string directory;
    try {
      directory = entry;
    } catch (const std::bad_alloc&) {
      print_memory_error(context_, ListingKind::files, entry);
      return WALK_NO_MEMORY;
    }
    // A level with nothing left goes before the walk goes deeper, so a
    // chain of single directories holds one listing, not one per level.
    if (++level.next == level.subdirectories.count()) levels_.pop_back();
    try {
      if (!first_visit(directory)) return 0;
    } catch (const std::bad_alloc&) {
      print_memory_error(context_, ListingKind::files, directory);
      return WALK_NO_MEMORY;
    }
    if (int result = visit_files(directory, true)) return result;
    return list_subdirectories(directory, true);
  }

  // False for a directory this walk has met before. One that has no
  // identity to compare is walked: the file system could not open it.
  bool first_visit(const std::string& directory) {
    std::optional<DirectoryId> id = context_.fs.directory_id(directory);
    return !id || walked_.insert(*id).second;
  }

  const WalkContext& context_;
  std::string_view file_pattern_;
  const FileVisitor& visitor_;
  std::unordered_set<DirectoryId, DirectoryIdHash> walked_;
  std::vector<Level> levels_;
};

}  // namespace

int walk_pattern(const WalkContext& context, const std::string& argument,
                 std::string_view file_pattern, const FileVisitor& visitor,
                 bool recursive) {
  Walker walker(context, file_pattern, visitor);
  return walker.run(argument, recursive);
}

}  // namespace ostrel
