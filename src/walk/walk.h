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

// A file the walk found: its directory, held open, its name there, and its
// full path text. Valid during the visitor's call only.
struct FoundFile {
  const DirectoryHandle& directory;
  std::string_view name;
  const std::string& path;
};

// Called once per file.
using FileVisitor = std::function<void(const FoundFile& file)>;

// How many directories the walk may hold open at once, and how it asks its
// caller to close what the caller holds (files queued for probing keep their
// directories open) when the process runs out of descriptors.
inline constexpr std::size_t DEFAULT_OPEN_LEVELS = 64;
struct WalkHandles {
  std::size_t most_open_levels = DEFAULT_OPEN_LEVELS;
  std::function<void()> release;
};

// Visits the files that `argument` names (a directory's files matching
// `file_pattern`), in name order; with `recursive`, then walks every
// subdirectory of the argument's directory with `file_pattern`, each
// directory at most once however many links lead to it. Every directory is
// read once and held open while the walk needs it, so no depth of tree or
// length of text is beyond it. Prints nothing. Exceptions thrown by the
// visitor pass through.
WalkResult walk_pattern(const PathStyle& style, FileSystem& fs,
                        const std::string& argument,
                        std::string_view file_pattern,
                        const FileVisitor& visitor, bool recursive,
                        const WalkHandles& handles = {});

}  // namespace ostrel
