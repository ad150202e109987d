#include "support/path_patterns.h"

#include "walk/path_chars.h"

namespace ostrel::test {

std::string make_listing_pattern(const PathStyle& style, FileSystem& fs,
                                 const std::string& pattern) {
  return make_search_pattern(style, fs, pattern, "*.*");
}

std::string make_subdir_pattern(const PathStyle& style, FileSystem& fs,
                                const std::string& argument) {
  if (classify_path(style, fs, argument) != 1)
    return join_dir_and_name(style, argument, "*.*");
  return pattern_inside(style, argument, "*.*");
}

NameParts split_extension(const PathStyle& style, std::string_view file_name) {
  std::size_t last_dot = std::string_view::npos;
  for (std::size_t pos = 0; pos < file_name.size();) {
    if (file_name[pos] == '.') last_dot = pos;
    pos += path_chars::char_length(style, is_code_page_lead_byte, file_name,
                                   pos);
  }
  if (last_dot == std::string_view::npos) return {std::string(file_name), ""};
  return {std::string(file_name.substr(0, last_dot)),
          std::string(file_name.substr(last_dot))};
}

std::string join_extension(std::string_view name, std::string_view extension) {
  std::string joined(name);
  if (!extension.empty() && extension.front() != '.') joined += '.';
  joined += extension;
  return joined;
}

}  // namespace ostrel::test
