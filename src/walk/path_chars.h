// Character-wise scanning of path texts under a lead-byte set, shared by the
// path operations. A lead byte takes the byte after it into its character,
// except at the very end of a text, where it stands alone. Only the first
// byte of a character is ever looked at: lead bytes are never `\`, `/`, `.`,
// `*` or `?`, so a second byte is never taken for one of them.
#pragma once

#include <cstddef>
#include <string_view>

#include "walk/path.h"

namespace ostrel::path_chars {

inline std::size_t char_length(std::string_view text, std::size_t pos,
                               const LeadByteSet& lead_bytes) {
  bool lead = lead_bytes[static_cast<unsigned char>(text[pos])];
  return lead && pos + 1 < text.size() ? 2 : 1;
}

// Where the last character of a non-empty text starts.
inline std::size_t last_char_start(std::string_view text,
                                   const LeadByteSet& lead_bytes) {
  std::size_t start = 0;
  for (std::size_t pos = 0; pos < text.size();
       pos += char_length(text, pos, lead_bytes))
    start = pos;
  return start;
}

// `\` and `/` in Windows style, `/` alone in POSIX style.
inline bool is_any_separator(const PathStyle& style, char byte) {
  return byte == '/' || (style.windows && byte == '\\');
}

// The length of the drive prefix: 2 for `X:` in Windows style, else 0.
inline std::size_t drive_prefix_length(const PathStyle& style,
                                       std::string_view text) {
  return style.windows && text.size() >= 2 && text[1] == ':' ? 2 : 0;
}

}  // namespace ostrel::path_chars
