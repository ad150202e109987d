// Splits a fuzz input into NUL-separated fields, at most `limit` of them;
// the last field takes the rest of the input.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace ostrel::fuzz {

inline std::vector<std::string_view> split_fields(std::string_view input,
                                                  std::size_t limit) {
  std::vector<std::string_view> fields;
  while (fields.size() + 1 < limit) {
    std::size_t end = input.find('\0');
    if (end == std::string_view::npos) break;
    fields.push_back(input.substr(0, end));
    input.remove_prefix(end + 1);
  }
  fields.push_back(input);
  return fields;
}

}  // namespace ostrel::fuzz
