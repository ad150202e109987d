#include "support/memory_fs.h"

#include <new>
#include <stdexcept>

#include "platform/wildcard.h"

namespace ostrel::testing {
namespace {

bool is_separator(char byte) { return byte == '\\' || byte == '/'; }

char fold(char byte) {
  return byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte + 0x20) : byte;
}

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return true;
}

// Splits after the last separator: the directory part keeps it.
std::pair<std::string_view, std::string_view> split_last(
    std::string_view path) {
  std::size_t cut = 0;
  for (std::size_t i = 0; i < path.size(); ++i)
    if (is_separator(path[i])) cut = i + 1;
  return {path.substr(0, cut), path.substr(cut)};
}

// The component of a path that begins at `start`; `start` moves on to the
// one after it.
std::string_view next_component(std::string_view path, std::size_t& start) {
  std::size_t end = start;
  while (end < path.size() && !is_separator(path[end])) ++end;
  std::string_view name = path.substr(start, end - start);
  start = end + 1;
  return name;
}

}  // namespace

MemoryFileSystem::MemoryFileSystem() : root_(new_node(true, nullptr)) {}

MemoryFileSystem::Node* MemoryFileSystem::new_node(bool is_directory,
                                                   Node* parent) {
  nodes_.push_back(std::make_unique<Node>());
  Node* node = nodes_.back().get();
  node->is_directory = is_directory;
  node->index = nodes_.size();
  node->parent = parent;
  return node;
}

MemoryFileSystem::Node* MemoryFileSystem::find_entry(const Node& directory,
                                                     std::string_view name) {
  for (const Entry& entry : directory.entries)
    if (same_name(entry.name, name)) return entry.node;
  return nullptr;
}

MemoryFileSystem::Node* MemoryFileSystem::make_directories(
    std::string_view path) {
  Node* directory = root_;
  std::size_t start = 0;
  while (start < path.size()) {
    std::string_view name = next_component(path, start);
    if (name.empty()) continue;
    Node* next = find_entry(*directory, name);
    if (!next) {
      next = new_node(true, directory);
      directory->entries.push_back({std::string(name), next});
    }
    if (!next->is_directory)
      throw std::logic_error("a file stands where a directory is needed");
    directory = next;
  }
  return directory;
}

void MemoryFileSystem::add_entry(std::string_view path, Node* node) {
  auto [directory_part, name] = split_last(path);
  Node* directory = make_directories(directory_part);
  if (name.empty() || find_entry(*directory, name))
    throw std::logic_error("bad or duplicate name");
  if (!node) node = new_node(false, directory);
  directory->entries.push_back({std::string(name), node});
}

void MemoryFileSystem::add_file(std::string_view path) {
  add_entry(path, nullptr);
}

void MemoryFileSystem::add_directory(std::string_view path) {
  make_directories(path);
}

void MemoryFileSystem::add_link(std::string_view path,
                                std::string_view target_directory) {
  Node* target = resolve(target_directory);
  if (!target || !target->is_directory)
    throw std::logic_error("a link must name a directory");
  add_entry(path, target);
}

MemoryFileSystem::Node* MemoryFileSystem::resolve(std::string_view path) const {
  // ".." is resolved on the text, as Windows does, not through the parent
  // of a directory that a link leads to.
  std::vector<Node*> chain{root_};
  std::size_t start = 0;
  while (start < path.size()) {
    std::string_view name = next_component(path, start);
    if (name.empty() || name == ".") continue;
    if (!chain.back()->is_directory) return nullptr;
    if (name == "..") {
      if (chain.size() > 1) chain.pop_back();
      continue;
    }
    Node* next = find_entry(*chain.back(), name);
    if (!next) return nullptr;
    chain.push_back(next);
  }
  return chain.back();
}

void MemoryFileSystem::count_call(bool is_search) {
  ++calls_;
  if (fail_call_in_ > 0 && --fail_call_in_ == 0) throw std::bad_alloc();
  if (is_search && fail_search_in_ > 0 && --fail_search_in_ == 0)
    throw std::bad_alloc();
}

bool MemoryFileSystem::search(
    const std::string& search_text,
    const std::function<bool(const DirectoryEntry&)>& on_entry) {
  searches_.push_back(search_text);
  count_call(true);
  auto parts = split_last(search_text);
  std::string_view last = parts.second;
  Node* directory = resolve(parts.first);
  if (!directory || !directory->is_directory || last.empty()) return false;

  if (!has_wildcard(last)) {
    if (last == "." || last == "..") {
      on_entry(DirectoryEntry{last, true});
      return true;
    }
    for (const Entry& entry : directory->entries) {
      if (!same_name(entry.name, last)) continue;
      on_entry(DirectoryEntry{entry.name, entry.node->is_directory});
      return true;
    }
    return false;
  }

  bool found = false;
  auto report = [&](std::string_view name, bool is_directory) {
    if (!wildcard_match(last, name)) return true;
    found = true;
    return on_entry(DirectoryEntry{name, is_directory});
  };
  if (directory != root_ && (!report(".", true) || !report("..", true)))
    return true;
  for (const Entry& entry : directory->entries)
    if (!report(entry.name, entry.node->is_directory)) break;
  return found;
}

std::optional<bool> MemoryFileSystem::lookup(const std::string& text) {
  count_call(false);
  // The search finds no entry for a text that ends in a separator.
  if (text.empty() || is_separator(text.back())) return std::nullopt;
  Node* node = resolve(text);
  if (!node) return std::nullopt;
  return node->is_directory;
}

std::optional<std::string> MemoryFileSystem::full_path(const std::string&) {
  count_call(false);
  return std::nullopt;
}

unsigned MemoryFileSystem::drive_type(const std::string&) {
  count_call(false);
  return 0;
}

std::optional<DirectoryId> MemoryFileSystem::directory_id(
    const std::string& text) {
  count_call(false);
  Node* node = resolve(text);
  if (!node || !node->is_directory) return std::nullopt;
  return DirectoryId{0, node->index};
}

}  // namespace ostrel::testing
