// Path texts: how an argument is classified and turned into the texts that
// the directory search is given. Every rule depends on a path style, so the
// Windows rules are tested on POSIX and the POSIX rules on Windows.
#pragma once

#include <bitset>
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace ostrel {

using LeadByteSet = std::bitset<256>;

// The path rules of one platform.
struct PathStyle {
  // Windows: `\` written, `\` and `/` accepted where splitting, joining and
  // the status query look; two-byte drive prefixes; `\` and `X:\` are roots.
  // POSIX: `/` only; no drives; `/` is the root.
  bool windows = false;
  // Lead bytes of double-byte characters: the fixed set that the separator
  // operations use, and the ANSI code page's set that splitting, joining and
  // the status query use. Both empty in POSIX style.
  LeadByteSet fixed_lead_bytes;
  LeadByteSet code_page_lead_bytes;

  char separator() const { return windows ? '\\' : '/'; }
};

PathStyle windows_path_style(const LeadByteSet& code_page_lead_bytes);
PathStyle posix_path_style();

// The lead bytes of a code page as the platform describes it.
LeadByteSet lead_bytes_for_code_page(const CodePageInfo& code_page);

// The style of this platform, with the code page read once at start-up.
const PathStyle& native_path_style();

// 1 directory-like, 0 an existing entry that is not a directory, -1 anything
// else (missing, a wildcard pattern, refused by the platform). The empty
// text, a bare drive and a root are directory-like without a lookup.
int classify_path(const PathStyle& style, FileSystem& fs,
                  const std::string& text);

bool is_drive_only(const PathStyle& style, std::string_view text);
bool is_root_only(const PathStyle& style, std::string_view text);
// A lead byte of the fixed set, which the separator operations use.
bool is_dbcs_lead_byte(const PathStyle& style, unsigned char byte);
// A lead byte of the code page, which splitting, joining and the status
// query use.
bool is_code_page_lead_byte(const PathStyle& style, unsigned char byte);

void strip_trailing_separator(const PathStyle& style, std::string& text);
void append_separator(const PathStyle& style, std::string& text);

// For a directory-like argument, the file pattern inside it; for any other,
// the argument itself, which a search then takes as it is.
std::string make_search_pattern(const PathStyle& style, FileSystem& fs,
                                const std::string& argument,
                                std::string_view file_pattern);
// The directory, a separator unless it already ends in one (or is empty, a
// bare drive or a root), then the name pattern.
std::string pattern_inside(const PathStyle& style, const std::string& directory,
                           std::string_view name_pattern);
// The drive and directory part of the search text, then the name.
std::string join_dir_and_name(const PathStyle& style,
                              std::string_view search_text,
                              std::string_view name);

struct PathParts {
  std::string drive;
  std::string directory;
  std::string file_name;  // the rest: the name with its extension
};
// Components are never cut: a shorter directory would name another one.
PathParts split_path(const PathStyle& style, std::string_view path);
// An empty component is left out; in POSIX style so is the drive.
std::string join_path(const PathStyle& style, std::string_view drive,
                      std::string_view directory, std::string_view file_name);

// The status of a text: found or not, and the directory flag. A wildcard
// text and a bare drive fail without a lookup. A name that the lookup misses
// only for its trailing separators (`photos\`) is the directory it names;
// in Windows style, drive roots and reachable share roots are directories.
struct PathStatus {
  bool found = false;
  bool is_directory = false;
};
PathStatus query_path_status(const PathStyle& style, FileSystem& fs,
                             const std::string& text);

}  // namespace ostrel
