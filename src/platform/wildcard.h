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

// True when the text holds `*` or `?`.
bool has_wildcard(std::string_view text);

}  // namespace ostrel
