// Directories held by their text, for the file systems searched by pattern.
#include <new>

#include "platform/platform.h"

namespace ostrel {
namespace {

class TextDirectory final : public OpenDirectory {
 public:
  TextDirectory(std::string text, std::optional<DirectoryId> id)
      : OpenDirectory(id), text(std::move(text)) {}
  const std::string text;
};

const std::string& text_of(const OpenDirectory& directory) {
  return static_cast<const TextDirectory&>(directory).text;
}

bool is_dot_or_dot_dot(std::string_view name) {
  return name == "." || name == "..";
}

}  // namespace

// Opens nothing, so it cannot fail: a directory the search cannot read
// simply has no entries, and one without an identity is walked all the same.
DirectoryOpening SearchByText::open_directory(const std::string& text) {
  std::optional<DirectoryId> id = directory_id(text);
  return {std::make_shared<TextDirectory>(text, id)};
}

DirectoryOpening SearchByText::open_subdirectory(const OpenDirectory&,
                                                 std::string_view,
                                                 const std::string& text) {
  return open_directory(text);
}

void SearchByText::read_directory(const OpenDirectory& directory,
                                  std::string_view file_pattern,
                                  bool directories, EntrySink& sink) {
  const std::string& text = text_of(directory);
  std::string files_search = text;
  files_search += file_pattern;
  search(files_search, [&sink](const DirectoryEntry& entry) {
    if (!entry.is_directory) sink.add_file(entry.name);
    return true;
  });
  if (!directories) return;
  try {
    search(text + "*.*", [&sink](const DirectoryEntry& entry) {
      if (entry.is_directory && !is_dot_or_dot_dot(entry.name))
        sink.add_directory(entry.name);
      return true;
    });
  } catch (const std::bad_alloc&) {
    sink.lose_directories();
  }
}

FileOpening SearchByText::open_file(const OpenDirectory&, std::string_view,
                                    const std::string& path) {
  return {open_path(path)};
}

}  // namespace ostrel
