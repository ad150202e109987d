#include "walk/listing.h"

#include <algorithm>
#include <new>

#include "platform/wildcard.h"

namespace ostrel {
namespace {

bool is_dot_or_dot_dot(std::string_view name) {
  return name == "." || name == "..";
}

}  // namespace

NameList::NameList(std::vector<std::string> texts, std::size_t shared_prefix)
    : texts_(std::move(texts)) {
  slots_.reserve(texts_.size());
  for (std::string& text : texts_) slots_.push_back(&text);
  std::sort(slots_.begin(), slots_.end(),
            [shared_prefix](const std::string* a, const std::string* b) {
              return sorts_before(std::string_view(*a).substr(shared_prefix),
                                  std::string_view(*b).substr(shared_prefix));
            });
}

int compare_names(std::string_view a, std::string_view b) {
  std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    if (a[i] == b[i]) continue;
    unsigned char x = fold_case(a[i]);
    unsigned char y = fold_case(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool sorts_before(std::string_view a, std::string_view b) {
  int order = compare_names(a, b);
  if (order != 0) return order < 0;
  // string_view compares through char_traits<char>, whose order is that of
  // unsigned bytes.
  return a < b;
}

std::optional<NameList> list_matches(const PathStyle& style, FileSystem& fs,
                                     const std::string& pattern,
                                     bool directories) {
  try {
    std::string search_text = make_listing_pattern(style, fs, pattern);
    // Every entry's text is the search text's drive and directory followed
    // by the entry's name, so that leading part is worked out once.
    std::string leading_part = join_dir_and_name(style, search_text, "");
    std::vector<std::string> texts;
    fs.search(search_text, [&](const DirectoryEntry& entry) {
      if (entry.is_directory != directories) return true;
      if (directories && is_dot_or_dot_dot(entry.name)) return true;
      std::string text;
      text.reserve(leading_part.size() + entry.name.size());
      text += leading_part;
      text += entry.name;
      texts.push_back(std::move(text));
      return true;
    });
    return NameList(std::move(texts), leading_part.size());
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

std::optional<NameList> list_files(const PathStyle& style, FileSystem& fs,
                                   const std::string& pattern) {
  return list_matches(style, fs, pattern, false);
}

}  // namespace ostrel
