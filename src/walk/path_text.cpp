// The separator operations and the component split and join.
#include "walk/path.h"
#include "walk/path_chars.h"

namespace ostrel {

using path_chars::char_length;
using path_chars::drive_prefix_length;
using path_chars::is_any_separator;
using path_chars::last_char_start;

void strip_trailing_separator(const PathStyle& style, std::string& text) {
  if (text.empty() || is_drive_only(style, text) || is_root_only(style, text))
    return;
  if (text.back() != style.separator()) return;
  // Only a separator that is a character of its own goes; the second byte
  // of a double-byte character stays.
  std::size_t last = last_char_start(style, is_dbcs_lead_byte, text);
  if (last == text.size() - 1) text.pop_back();
}

void append_separator(const PathStyle& style, std::string& text) {
  if (text.empty() || is_drive_only(style, text) || is_root_only(style, text))
    return;
  strip_trailing_separator(style, text);
  text += style.separator();
}

PathParts split_path(const PathStyle& style, std::string_view path) {
  PathParts parts;
  std::size_t start = drive_prefix_length(style, path);
  parts.drive = path.substr(0, start);

  std::size_t rest = start;
  for (std::size_t pos = start; pos < path.size();) {
    if (is_any_separator(style, path[pos])) rest = pos + 1;
    pos += char_length(style, is_code_page_lead_byte, path, pos);
  }
  parts.directory = path.substr(start, rest - start);
  parts.file_name = path.substr(rest);
  return parts;
}

std::string join_path(const PathStyle& style, std::string_view drive,
                      std::string_view directory, std::string_view file_name) {
  std::string out;
  // POSIX texts have no drives, so there is none to write.
  if (style.windows && !drive.empty()) {
    out += drive.front();
    out += ':';
  }
  if (!directory.empty()) {
    out += directory;
    std::size_t last =
        last_char_start(style, is_code_page_lead_byte, directory);
    if (!is_any_separator(style, directory[last])) out += style.separator();
  }
  out += file_name;
  return out;
}

std::string join_dir_and_name(const PathStyle& style,
                              std::string_view search_text,
                              std::string_view name) {
  PathParts parts = split_path(style, search_text);
  return join_path(style, parts.drive, parts.directory, name);
}

}  // namespace ostrel
