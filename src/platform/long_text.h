// How a text longer than the system takes whole is resolved: a piece at a
// time, each piece taken relative to the directory the pieces before it
// reached, as the kernel walks a whole text component by component.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace ostrel {

// Cuts `text` into pieces of at most `longest` bytes, each but the last
// ending at a `/`. A run of separators counts as one wherever a cut falls:
// the piece after a cut starts past the whole run, so no piece but the
// first can start at the root. The last piece may be empty (the directory
// the others reached) or, where a single name is longer than `longest`,
// longer than that, for the system to refuse.
std::vector<std::string_view> long_text_pieces(std::string_view text,
                                               std::size_t longest);

}  // namespace ostrel
