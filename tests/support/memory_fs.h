// A file system in memory with the Windows search rules, for driving the
// walk and the listings in tests: `\` and `/` both separate, names match
// without regard to the case of ASCII letters, wildcard searches outside
// the root report "." and ".." first, and entries come in the order they
// were added. The current directory is the root. A link is a directory
// entry that names a directory already present, as a junction or a bind
// mount does, so it shares that directory's identity.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace ostrel::testing {

class MemoryFileSystem final : public FileSystem {
 public:
  MemoryFileSystem();

  // Parent directories are made as needed.
  void add_file(std::string_view path);
  void add_directory(std::string_view path);
  void add_link(std::string_view path, std::string_view target_directory);

  // Makes the `nth` call from now (1 for the next one) of any operation,
  // or of `search` alone, throw std::bad_alloc; 0 turns it off.
  void fail_call(int nth) { fail_call_in_ = nth; }
  void fail_search(int nth) { fail_search_in_ = nth; }

  // The texts given to `search`, in order.
  const std::vector<std::string>& searches() const { return searches_; }
  int calls() const { return calls_; }

  bool search(const std::string& search_text,
              const std::function<bool(const DirectoryEntry&)>& on_entry)
      override;
  std::optional<bool> lookup(const std::string& text) override;
  std::optional<std::string> full_path(const std::string& text) override;
  unsigned drive_type(const std::string& full_path) override;
  std::optional<DirectoryId> directory_id(const std::string& text) override;

 private:
  struct Node;
  struct Entry {
    std::string name;
    Node* node;
  };
  struct Node {
    bool is_directory = false;
    std::size_t index = 0;
    Node* parent = nullptr;
    std::vector<Entry> entries;
  };

  void count_call(bool is_search);
  Node* new_node(bool is_directory, Node* parent);
  Node* make_directories(std::string_view path);
  void add_entry(std::string_view path, Node* node);
  // The node a text names, "." and ".." resolved; nothing when a component
  // is missing or a file stands where a directory is needed.
  Node* resolve(std::string_view path) const;
  static Node* find_entry(const Node& directory, std::string_view name);

  std::vector<std::unique_ptr<Node>> nodes_;
  Node* root_;
  std::vector<std::string> searches_;
  int calls_ = 0;
  int fail_call_in_ = 0;
  int fail_search_in_ = 0;
};

}  // namespace ostrel::testing
