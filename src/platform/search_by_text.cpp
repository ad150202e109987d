// Directories held by their text, for the file systems searched by pattern.
#include <new>

#include "platform/platform.h"

namespace ostrel {
namespace {

bool is_dot_or_dot_dot(std::string_view name) {
  return name == "." || name == "..";
}

class TextDirectory final : public Directory {
 public:
  // `parent_length`: how much of `text` is the text of the directory that
  // holds it, where that is known.
  TextDirectory(SearchByText& fs, std::string text,
                std::optional<std::size_t> parent_length)
      : Directory(fs.directory_id(text)),
        fs_(fs),
        text_(std::move(text)),
        parent_length_(parent_length) {}

  void read(std::string_view file_pattern, bool directories,
            EntrySink& sink) const override {
    std::string files_search = text_;
    files_search += file_pattern;
    fs_.search(files_search, [&sink](const DirectoryEntry& entry) {
      if (!entry.is_directory) sink.add_file(entry.name);
      return true;
    });
    if (!directories) return;
    try {
      fs_.search(text_ + "*.*", [&sink](const DirectoryEntry& entry) {
        if (entry.is_directory && !is_dot_or_dot_dot(entry.name))
          sink.add_directory(entry.name);
        return true;
      });
    } catch (const std::bad_alloc&) {
      sink.lose_directories();
    }
  }

  FileResult open_file(std::string_view name) const override {
    return fs_.open_path(text_ + std::string(name));
  }

  DirectoryResult open_subdirectory(std::string_view name) const override {
    std::string text = text_;
    text += name;
    text += '\\';
    return DirectoryResult(
        std::make_unique<TextDirectory>(fs_, std::move(text), text_.size()));
  }

  // The search resolves ".." on the text, as Windows does.
  DirectoryResult open_parent() const override {
    if (parent_length_)
      return fs_.open_directory(text_.substr(0, *parent_length_));
    return fs_.open_directory(text_ + "..\\");
  }

 private:
  SearchByText& fs_;
  const std::string text_;
  const std::optional<std::size_t> parent_length_;
};

}  // namespace

DirectoryResult SearchByText::open_directory(const std::string& text) {
  return DirectoryResult(
      std::make_unique<TextDirectory>(*this, text, std::nullopt));
}

bool SearchByText::is_reachable_root(const std::string& text) {
  std::optional<std::string> full = full_path(text);
  if (!full || full->size() >= WINDOWS_PATH_BUFFER_SIZE) return false;
  if (full->size() != 3 && !is_unc_share_root(*full)) return false;
  return drive_type(*full) == DriveType::exists;
}

bool is_unc_share_root(std::string_view full_path) {
  auto is_separator = [](char byte) { return byte == '\\' || byte == '/'; };
  if (full_path.size() < 5 || !is_separator(full_path[0]) ||
      !is_separator(full_path[1]))
    return false;
  // The server name takes the byte after the two separators in any case.
  std::size_t server_end = full_path.find_first_of("\\/", 3);
  if (server_end == std::string_view::npos) return false;
  std::string_view share = full_path.substr(server_end + 1);
  if (!share.empty() && is_separator(share.back())) share.remove_suffix(1);
  return !share.empty() &&
         share.find_first_of("\\/") == std::string_view::npos;
}

}  // namespace ostrel
