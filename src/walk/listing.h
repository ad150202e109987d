// Sorted listings: the full path texts of the files or of the subdirectories
// of one directory that match a pattern.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "walk/path.h"

namespace ostrel {

// The entries of one listing, indexed 0 to count() - 1, sorted by
// `sorts_before`. Owns its texts; sorting touches only the slots, never the
// texts.
class NameList {
 public:
  NameList() = default;
  explicit NameList(std::vector<std::string> texts);

  NameList(NameList&&) noexcept = default;
  NameList& operator=(NameList&&) noexcept = default;
  NameList(const NameList&) = delete;
  NameList& operator=(const NameList&) = delete;

  std::size_t count() const { return slots_.size(); }
  bool empty() const { return slots_.empty(); }
  const std::string& operator[](std::size_t index) const {
    return *slots_[index];
  }
  // The length of the longest entry.
  std::size_t longest() const;

 private:
  std::vector<std::string> texts_;
  // Point into `texts_`, whose buffer moves with the list, so a moved list
  // keeps valid slots.
  std::vector<std::string*> slots_;
};

// Name order: byte by byte, 'A'-'Z' folded to 'a'-'z' and nothing else
// folded, bytes taken unsigned, the end of a text before any byte.
// -1, 0 or +1; 0 also for texts that differ only in the case of A-Z.
int compare_names(std::string_view a, std::string_view b);

// The order of sorted listings: `compare_names`, with texts that it finds
// equal ordered by their raw bytes, so `A.jpg` comes before `a.jpg` whatever
// order the file system returns them in.
bool sorts_before(std::string_view a, std::string_view b);

// One read of a directory: the names of its files that match a pattern
// and, when asked for, of its subdirectories, each sorted. A listing that
// could not be stored for want of memory is missing: when the files are,
// nothing of the directory may be used; when only the subdirectories are,
// its files still may. Without subdirectories asked for, that listing is
// empty. Nothing is printed either way.
struct DirectoryListing {
  std::optional<NameList> files;
  std::optional<NameList> directories;
};
DirectoryListing list_directory(const Directory& directory,
                                std::string_view file_pattern,
                                bool directories);

}  // namespace ostrel
