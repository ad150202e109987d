// A file system in memory for driving the walk, the listings, the path
// operations and the probe in tests, with the hooks of FileSystemHooks.
//
// Windows rules: `\` and `/` both separate, names match without regard to
// the case of ASCII letters, wildcard searches outside the root report "."
// and ".." first, and a text that ends in a separator names no entry.
// POSIX rules: `/` alone separates (`\` is a byte of a name), names match
// byte for byte (wildcards still without regard to case, as the POSIX
// search matches them), searches report neither "." nor "..", and a text
// that ends in `/` names a directory. Under both, entries come in the order
// they were added, the current directory is the root, and ".." is taken on
// the text. A link is a directory entry that names a directory already
// present, as a junction or a bind mount does, so it shares that
// directory's identity.
#pragma once

#include <atomic>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "support/file_system_hooks.h"

namespace ostrel::test {

using Bytes = std::vector<unsigned char>;

// A file's bytes in memory, read by position.
class MemoryFile final : public ReadableFile {
 public:
  explicit MemoryFile(std::shared_ptr<const Bytes> bytes,
                      std::atomic<int>* open_count = nullptr);
  explicit MemoryFile(Bytes bytes);
  ~MemoryFile() override;
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  std::size_t read_at(std::uint64_t offset, unsigned char* buffer,
                      std::size_t size) const override;
  std::uint64_t size() const override { return bytes_->size(); }

 private:
  std::shared_ptr<const Bytes> bytes_;
  std::atomic<int>* open_count_;
};

enum class PathRules { windows, posix };

class MemoryFileSystem final : public SearchByText, public FileSystemHooks {
 public:
  explicit MemoryFileSystem(PathRules rules = PathRules::windows);

  // Parent directories are made as needed. An unreadable file is listed
  // like any other but never opens, as a dangling link or a FIFO.
  void add_file(std::string_view path, Bytes bytes = {});
  void add_unreadable_file(std::string_view path);
  void add_directory(std::string_view path);
  void add_link(std::string_view path, std::string_view target_directory);

  // What the platform answers where no tree tells: the lookup of one exact
  // text (a root found without its directory attribute), the full path of a
  // text, the drive type of a full path (else DRIVE_TYPE_UNKNOWN).
  void set_lookup(std::string text, std::optional<bool> is_directory);
  void set_full_path(std::string text, std::string full_path);
  void set_drive_type(std::string full_path, unsigned type);

  // The most files that were open at once.
  int most_open_files() const { return most_open_files_.load(); }

  bool search(const std::string& search_text,
              const std::function<bool(const DirectoryEntry&)>& on_entry)
      override;
  std::optional<bool> lookup(const std::string& text) override;
  std::optional<std::string> full_path(const std::string& text) override;
  unsigned drive_type(const std::string& full_path) override;
  std::optional<DirectoryId> directory_id(const std::string& text) override;
  std::unique_ptr<ReadableFile> open_path(const std::string& path) override;

 private:
  struct Node;
  struct Entry {
    std::string name;
    Node* node;
  };
  enum class Kind { directory, file, unreadable };
  struct Node {
    Kind kind = Kind::directory;
    std::size_t index = 0;
    std::vector<Entry> entries;
    std::shared_ptr<const Bytes> bytes;
  };

  bool is_separator(char byte) const;
  bool same_name(std::string_view a, std::string_view b) const;
  std::pair<std::string_view, std::string_view> split_last(
      std::string_view path) const;
  Node* new_node(Kind kind);
  Node* make_directories(std::string_view path);
  void add_entry(std::string_view path, Node* node);
  // The node a text names, "." and ".." resolved; nothing when a component
  // is missing or a file stands where a directory is needed.
  Node* resolve(std::string_view path) const;
  Node* find_entry(const Node& directory, std::string_view name) const;
  bool search_entries(const Node& directory, std::string_view last,
                      const std::function<bool(const DirectoryEntry&)>&
                          on_entry) const;

  const PathRules rules_;
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<Node>> nodes_;
  Node* root_;
  std::map<std::string, std::optional<bool>> lookups_;
  std::map<std::string, std::string> full_paths_;
  std::map<std::string, unsigned> drive_types_;
  std::atomic<int> open_files_{0};
  std::atomic<int> most_open_files_{0};
};

}  // namespace ostrel::test
