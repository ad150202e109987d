// Classification of path texts and the patterns built from them.
#include "walk/path.h"

#include "walk/path_chars.h"

namespace ostrel {

using path_chars::char_length;
using path_chars::drive_prefix_length;
using path_chars::is_any_separator;

namespace {

// True when the text holds one of `bytes` as a character of its own, under
// the code page's lead bytes.
bool holds_single(const PathStyle& style, std::string_view text,
                  std::string_view bytes) {
  for (std::size_t pos = 0; pos < text.size();) {
    if (bytes.find(text[pos]) != std::string_view::npos) return true;
    pos += char_length(style, is_code_page_lead_byte, text, pos);
  }
  return false;
}

// The text without the separators it ends in.
std::string_view without_trailing_separators(const PathStyle& style,
                                             std::string_view text) {
  std::size_t keep = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    bool separator = is_any_separator(style, text[pos]);
    pos += char_length(style, is_code_page_lead_byte, text, pos);
    if (!separator) keep = pos;
  }
  return text.substr(0, keep);
}

// `X:\`, `X:/`, `\` and `/`: a root, which the lookup may find without
// reporting it as a directory.
bool names_a_root(const PathStyle& style, std::string_view text) {
  std::string_view rest = text.substr(drive_prefix_length(style, text));
  return rest.size() == 1 && is_any_separator(style, rest[0]);
}

// A name given with trailing separators is taken for the directory it names,
// as a shell's completion writes it (`photos\`).
bool names_directory_with_separators(const PathStyle& style, FileSystem& fs,
                                     const std::string& text) {
  std::string_view stem = without_trailing_separators(style, text);
  if (stem.size() == text.size() || stem.empty() || is_drive_only(style, stem))
    return false;
  Result<bool> entry = fs.lookup(std::string(stem));
  return entry && *entry;
}

// Drive roots and share roots, which the directory search never finds; only
// a text with a dot or a separator may name one.
bool is_reachable_root(const PathStyle& style, FileSystem& fs,
                       const std::string& text) {
  return style.windows && holds_single(style, text, "./\\") &&
         fs.is_reachable_root(text);
}

}  // namespace

PathStatus query_path_status(const PathStyle& style, FileSystem& fs,
                             const std::string& text) {
  // A pattern is never classified by an entry that bears its literal name.
  if (holds_single(style, text, "*?")) return {};
  if (is_drive_only(style, text)) return {};
  if (Result<bool> entry = fs.lookup(text))
    return {true, *entry || (style.windows && names_a_root(style, text))};
  if (names_directory_with_separators(style, fs, text) ||
      is_reachable_root(style, fs, text))
    return {true, true};
  return {};
}

int classify_path(const PathStyle& style, FileSystem& fs,
                  const std::string& text) {
  if (text.empty() || is_drive_only(style, text) || is_root_only(style, text))
    return 1;
  PathStatus status = query_path_status(style, fs, text);
  if (!status.found) return -1;
  return status.is_directory ? 1 : 0;
}

std::string pattern_inside(const PathStyle& style, const std::string& directory,
                           std::string_view name_pattern) {
  std::string pattern = directory;
  append_separator(style, pattern);
  pattern += name_pattern;
  return pattern;
}

std::string make_search_pattern(const PathStyle& style, FileSystem& fs,
                                const std::string& argument,
                                std::string_view file_pattern) {
  if (classify_path(style, fs, argument) != 1) return argument;
  return pattern_inside(style, argument, file_pattern);
}

}  // namespace ostrel
