// Patterns and components that only the tests ask for, built from the path
// operations of the walk: the listing pattern of a pattern, the pattern of
// an argument's subdirectories, and a file name's extension.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"
#include "walk/path.h"

namespace ostrel::test {

// The search pattern of a pattern with "*.*": a directory-like pattern gets
// "*.*" inside it, any other is its own. Every pattern the walk makes is its
// own listing pattern.
std::string make_listing_pattern(const PathStyle& style, FileSystem& fs,
                                 const std::string& pattern);

// The pattern whose directories are an argument's subdirectories: "*.*"
// inside a directory-like argument, else in the argument's directory part.
std::string make_subdir_pattern(const PathStyle& style, FileSystem& fs,
                                const std::string& argument);

// A file name cut at its last dot that is a character of its own (under
// the code page's lead bytes): the name before it, and the extension from
// it on; no dot, no extension.
struct NameParts {
  std::string name;
  std::string extension;
};
NameParts split_extension(const PathStyle& style, std::string_view file_name);

// The name, then a dot unless the extension is empty or starts with one,
// then the extension.
std::string join_extension(std::string_view name, std::string_view extension);

}  // namespace ostrel::test
