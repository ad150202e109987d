// Character-wise scanning of path texts under a lead-byte test, shared by the
// path operations. A lead byte takes the byte after it into its character,
// except at the very end of a text, where it stands alone. Only the first
// byte of a character is ever looked at: lead bytes are never `\`, `/`, `.`,
// `*` or `?`, so a second byte is never taken for one of them.
#pragma once

#include <cstddef>
#include <string_view>

#include "walk/path.h"

namespace ostrel::path_chars {

// `is_dbcs_lead_byte` (the fixed set) or `is_code_page_lead_byte`.
using LeadByteTest = bool (*)(const PathStyle& style, unsigned char byte);

inline std::size_t char_length(const PathStyle& style, LeadByteTest is_lead,
                               std::string_view text, std::size_t pos) {
  bool lead = is_lead(style, static_cast<unsigned char>(text[pos]));
  return lead && pos + 1 < text.size() ? 2 : 1;
}

// Where the last character of a non-empty text starts.
inline std::size_t last_char_start(const PathStyle& style,
                                   LeadByteTest is_lead,
                                   std::string_view text) {
  std::size_t start = 0;
  for (std::size_t pos = 0; pos < text.size();
       pos += char_length(style, is_lead, text, pos))
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
