// Name matching with `*` and `?` as the directory searches of both platforms
// do it, for the POSIX search and for the in-memory file system of the tests.
#pragma once

#include <string_view>

namespace ostrel {

// True when `name` matches `pattern`: `*` matches any run of bytes (the empty
// one too), `?` exactly one byte, every other byte itself, with ASCII letters
// matched without regard to case. "*.*" matches every name, with or without
// a dot. Takes at most O(|pattern| * |name|) steps.
bool wildcard_match(std::string_view pattern, std::string_view name);

// 'A' to 'Z' as 'a' to 'z'; every other byte as itself, taken unsigned. The
// only case folding of names, in matching and in the order of listings.
inline unsigned char fold_case(char byte) {
  auto value = static_cast<unsigned char>(byte);
  return value >= 'A' && value <= 'Z' ? static_cast<unsigned char>(value + 0x20)
                                      : value;
}

// True when the text holds `*` or `?`.
bool has_wildcard(std::string_view text);

}  // namespace ostrel
