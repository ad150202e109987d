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
#include "walk/path.h"

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

// Called once per file with its full path text, valid during the call only.
using FileVisitor = std::function<void(const std::string& path)>;

// Visits the files that `argument` names (a directory's files matching
// `file_pattern`), in name order; with `recursive`, then walks every
// subdirectory of the argument's directory with `file_pattern`, each
// directory at most once however many links lead to it. Prints nothing.
// Exceptions thrown by the visitor pass through.
WalkResult walk_pattern(const PathStyle& style, FileSystem& fs,
                        const std::string& argument,
                        std::string_view file_pattern,
                        const FileVisitor& visitor, bool recursive);

}  // namespace ostrel
