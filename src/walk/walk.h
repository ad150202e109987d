// The walk of one file argument: every file it names, handed to a visitor,
// and with recursion every subdirectory below, depth first.
#pragma once

#include <climits>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "walk/path.h"

namespace ostrel {

// The walk's result when memory runs out (0x80000000).
constexpr int WALK_NO_MEMORY = INT32_MIN;

// Called once per file with its full path text, valid during the call only.
// 0 goes on; anything else stops the whole walk and becomes its result.
using FileVisitor = std::function<int(const std::string& path)>;

struct WalkContext {
  const PathStyle& style;
  FileSystem& fs;
  // Receives the walk's memory-error lines; the walk prints nothing else
  // and nothing any other way.
  std::function<void(std::string_view)> print;
};

// Visits the files that `argument` names (a directory's files matching
// `file_pattern`), in name order; with `recursive`, then walks every
// subdirectory of the argument's directory with `file_pattern`, each
// directory at most once however many links lead to it. Returns 0, the
// visitor's nonzero result, or WALK_NO_MEMORY after printing a memory-error
// line for the directory whose walk ran out of memory. Exceptions thrown by
// the visitor pass through.
int walk_pattern(const WalkContext& context, const std::string& argument,
                 std::string_view file_pattern, const FileVisitor& visitor,
                 bool recursive);

}  // namespace ostrel
