#include "walk/listing.h"

#include <algorithm>
#include <new>

#include "platform/wildcard.h"

namespace ostrel {

NameList::NameList(std::vector<std::string> texts) : texts_(std::move(texts)) {
  slots_.reserve(texts_.size());
  for (std::string& text : texts_) slots_.push_back(&text);
  std::sort(slots_.begin(), slots_.end(),
            [](const std::string* a, const std::string* b) {
              return sorts_before(*a, *b);
            });
}

std::size_t NameList::longest() const {
  std::size_t longest = 0;
  for (const std::string& text : texts_) longest = std::max(longest, text.size());
  return longest;
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

namespace {

// Collects the names one read hands over. A directory name that finds no
// memory loses the directories listing, and the read goes on for the files.
class NameCollector final : public EntrySink {
 public:
  explicit NameCollector(bool directories) : keep_directories_(directories) {}

  void add_file(std::string_view name) override { files.emplace_back(name); }

  void add_directory(std::string_view name) override {
    if (!keep_directories_) return;
    try {
      directories.emplace_back(name);
    } catch (const std::bad_alloc&) {
      lose_directories();
    }
  }

  void lose_directories() override {
    keep_directories_ = false;
    directories_lost = true;
    std::vector<std::string>().swap(directories);
  }

  std::vector<std::string> files;
  std::vector<std::string> directories;
  bool directories_lost = false;

 private:
  bool keep_directories_;
};

}  // namespace

DirectoryListing list_directory(const Directory& directory,
                                std::string_view file_pattern,
                                bool directories) {
  DirectoryListing listing;
  try {
    NameCollector names(directories);
    directory.read(file_pattern, directories, names);
    listing.files = NameList(std::move(names.files));
    if (!names.directories_lost) {
      try {
        listing.directories = NameList(std::move(names.directories));
      } catch (const std::bad_alloc&) {
      }
    }
  } catch (const std::bad_alloc&) {
    return {};
  }
  return listing;
}

}  // namespace ostrel
