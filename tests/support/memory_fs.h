// A file system in memory for driving the walk, the listings, the path
// operations and the probe in tests, with the hooks of FileSystemHooks.
//
// POSIX rules: directories are held by handles, as by descriptors. A handle
// keeps its directory through renames and removals, opens are relative to
// it, ".." is the physical parent, and the tests may make handles run out
// at any count. `/` alone separates (`\` is a byte of a name), names match
// byte for byte (wildcards without regard to case, as the POSIX read
// matches them), a read reports neither "." nor "..", and a text that ends
// in `/` names a directory. A text longer than the set limit is resolved a
// piece at a time, as the disk's is.
//
// Windows rules: directories are searched by text (SearchByText): `\` and
// `/` both separate, names match without regard to the case of ASCII
// letters, wildcard searches outside the root report "." and ".." first, a
// text that ends in a separator names no entry, and ".." is taken on the
// text.
//
// Under both, entries come in the order they were added and the current
// directory is the root. A link is a directory entry that names a directory
// already present, as a junction or a bind mount does, so it shares that
// directory's identity (and, under POSIX rules, its parent).
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
  // Each count, where given, counts this file as open while it lives.
  explicit MemoryFile(std::shared_ptr<const Bytes> bytes,
                      std::atomic<int>* open_count = nullptr,
                      std::atomic<int>* handle_count = nullptr);
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
  std::atomic<int>* handle_count_;
};

enum class PathRules { windows, posix };

class MemoryFileSystem final : public SearchByText, public FileSystemHooks {
 public:
  explicit MemoryFileSystem(PathRules rules = PathRules::windows);
  ~MemoryFileSystem() override;

  // Parent directories are made as needed. An unreadable file is listed
  // like any other but never opens, as a dangling link or a FIFO.
  void add_file(std::string_view path, Bytes bytes = {});
  void add_unreadable_file(std::string_view path);
  void add_directory(std::string_view path);
  void add_link(std::string_view path, std::string_view target_directory);

  // Changes to the tree while it is walked: an entry moved (over nothing),
  // an entry and all below it taken away, a file's bytes replaced.
  void rename(std::string_view from, std::string_view to);
  void remove(std::string_view path);
  void replace_bytes(std::string_view path, Bytes bytes);

  // Under POSIX rules: how many directories and files may be open at once
  // (beyond it an open fails for want of handles), and the longest text
  // taken whole.
  void set_handle_limit(int most);
  void set_longest_whole_text(std::size_t longest);
  int open_handles() const { return open_handles_.load(); }

  // What the platform answers where no tree tells (Windows rules): the
  // lookup of one exact text (a root found without its directory
  // attribute), the full path of a text, the drive type of a full path
  // (else unknown).
  void set_lookup(std::string text, std::optional<bool> is_directory);
  void set_full_path(std::string text, std::string full_path);
  void set_drive_type(std::string full_path, DriveType type);

  // The most files that were open at once.
  int most_open_files() const { return most_open_files_.load(); }

  Result<bool> lookup(const std::string& text) override;
  bool is_reachable_root(const std::string& text) override;
  DirectoryResult open_directory(const std::string& text) override;
  FileResult open_path(const std::string& path) override;
  std::size_t longest_whole_text() const override { return longest_; }

  bool search(const std::string& search_text,
              const std::function<bool(const DirectoryEntry&)>& on_entry)
      override;
  std::optional<DirectoryId> directory_id(const std::string& text) override;
  std::optional<std::string> full_path(const std::string& text) override;
  DriveType drive_type(const std::string& full_path) override;

  // The node behind each handle; only this file system's code uses it.
  struct Node;

 private:
  friend class MemoryDirectory;
  struct Entry {
    std::string name;
    Node* node;
  };

  bool is_separator(char byte) const;
  bool same_name(std::string_view a, std::string_view b) const;
  std::pair<std::string_view, std::string_view> split_last(
      std::string_view path) const;
  Node* new_node(int kind);
  Node* make_directories(std::string_view path);
  void add_entry(std::string_view path, Node* node);
  Node* resolve(std::string_view path) const;
  Node* resolve_from(Node* start, std::string_view path) const;
  Node* resolve_in_pieces(std::string_view path, Failure& failure) const;
  Node* find_entry(const Node& directory, std::string_view name) const;
  std::vector<Entry>::iterator find_slot(Node& directory,
                                         std::string_view name);
  bool search_entries(const Node& directory, std::string_view last,
                      const std::function<bool(const DirectoryEntry&)>&
                          on_entry) const;
  // Under POSIX rules: the handle of a directory node, or of a file node.
  DirectoryResult directory_handle(Node* node, std::string text);
  FileResult file_handle(Node* node, bool counts_as_handle);
  bool take_handle();
  void read_node(const Node& directory, const std::string& text,
                 std::string_view file_pattern, bool directories,
                 EntrySink& sink);

  const PathRules rules_;
  mutable std::recursive_mutex mutex_;
  std::vector<std::unique_ptr<Node>> nodes_;
  Node* root_;
  std::map<std::string, std::optional<bool>> lookups_;
  std::map<std::string, std::string> full_paths_;
  std::map<std::string, DriveType> drive_types_;
  std::size_t longest_ = SIZE_MAX;
  std::atomic<int> handle_limit_{-1};
  std::atomic<int> open_handles_{0};
  std::atomic<int> open_files_{0};
  std::atomic<int> most_open_files_{0};
};

}  // namespace ostrel::test
