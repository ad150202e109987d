// The walk of one file argument: every file it names, handed to a visitor,
// and with recursion every subdirectory below, depth first.
#pragma once

#include <climits>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "walk/directory_cache.h"
#include "walk/path.h"
#include "walk/directory_reads.h"

namespace ostrel {

// The walk's result when memory runs out (0x80000000).
constexpr int WALK_NO_MEMORY = INT32_MIN;

enum class Listing { files, directories };

// How a walk ended: `code` 0, or WALK_NO_MEMORY when a listing could not be
// made for want of memory, which stopped the walk there.
struct WalkResult {
  int code = 0;
  // With WALK_NO_MEMORY: which listing, and whose: a subdirectory's full
  // path text, or none for the argument's own.
  Listing listing = Listing::files;
  std::optional<std::string> subdirectory;
};

// A file the walk found: its directory, its name there, and its full path
// text. Valid during the visitor's call only.
struct FoundFile {
  const DirectoryCache::NodeRef& directory;
  std::string_view name;
  const std::string& path;
};

// Called once per file.
using FileVisitor = std::function<void(const FoundFile& file)>;

// Visits the files that `argument` names (a directory's files matching
// `file_pattern`), in name order; with `recursive`, then walks every
// subdirectory of the argument's directory with `file_pattern`, each
// directory at most once however many links lead to it. Every directory is
// read once, through `cache`, so no depth of tree or length of text is
// beyond it, and the walk holds the current path once and the names still
// to walk. With `reads`, the next directories in walk order are read
// ahead of it while requests wait. Prints nothing. Exceptions thrown by the
// visitor pass through.
WalkResult walk_pattern(const PathStyle& style, DirectoryCache& cache,
                        const std::string& argument,
                        std::string_view file_pattern,
                        const FileVisitor& visitor, bool recursive,
                        DirectoryReads* reads = nullptr);

}  // namespace ostrel
