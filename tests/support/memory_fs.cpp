#include "support/memory_fs.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "platform/wildcard.h"

namespace ostrel::test {
namespace {

// The component of a path that begins at `start`; `start` moves on to the
// one after it.
template <typename IsSeparator>
std::string_view next_component(std::string_view path, std::size_t& start,
                                IsSeparator is_separator) {
  std::size_t end = start;
  while (end < path.size() && !is_separator(path[end])) ++end;
  std::string_view name = path.substr(start, end - start);
  start = end + 1;
  return name;
}

}  // namespace

MemoryFile::MemoryFile(std::shared_ptr<const Bytes> bytes,
                       std::atomic<int>* open_count)
    : bytes_(std::move(bytes)), open_count_(open_count) {}

MemoryFile::MemoryFile(Bytes bytes)
    : MemoryFile(std::make_shared<const Bytes>(std::move(bytes))) {}

MemoryFile::~MemoryFile() {
  if (open_count_) --*open_count_;
}

std::size_t MemoryFile::read_at(std::uint64_t offset, unsigned char* buffer,
                                std::size_t size) const {
  if (offset >= bytes_->size()) return 0;
  auto start = static_cast<std::size_t>(offset);
  std::size_t count = std::min(size, bytes_->size() - start);
  if (count > 0) std::memcpy(buffer, bytes_->data() + start, count);
  return count;
}

MemoryFileSystem::MemoryFileSystem(PathRules rules)
    : rules_(rules), root_(new_node(Kind::directory)) {}

bool MemoryFileSystem::is_separator(char byte) const {
  return byte == '/' || (rules_ == PathRules::windows && byte == '\\');
}

bool MemoryFileSystem::same_name(std::string_view a,
                                 std::string_view b) const {
  if (rules_ == PathRules::posix) return a == b;
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return fold_case(x) == fold_case(y);
         });
}

// Splits after the last separator: the directory part keeps it.
std::pair<std::string_view, std::string_view> MemoryFileSystem::split_last(
    std::string_view path) const {
  std::size_t cut = 0;
  for (std::size_t i = 0; i < path.size(); ++i)
    if (is_separator(path[i])) cut = i + 1;
  return {path.substr(0, cut), path.substr(cut)};
}

MemoryFileSystem::Node* MemoryFileSystem::new_node(Kind kind) {
  nodes_.push_back(std::make_unique<Node>());
  Node* node = nodes_.back().get();
  node->kind = kind;
  node->index = nodes_.size();
  return node;
}

MemoryFileSystem::Node* MemoryFileSystem::find_entry(
    const Node& directory, std::string_view name) const {
  for (const Entry& entry : directory.entries)
    if (same_name(entry.name, name)) return entry.node;
  return nullptr;
}

MemoryFileSystem::Node* MemoryFileSystem::make_directories(
    std::string_view path) {
  Node* directory = root_;
  auto separator = [this](char byte) { return is_separator(byte); };
  for (std::size_t start = 0; start < path.size();) {
    std::string_view name = next_component(path, start, separator);
    if (name.empty() || name == ".") continue;
    if (name == "..") throw std::logic_error("no \"..\" in a path to add");
    Node* next = find_entry(*directory, name);
    if (!next) {
      next = new_node(Kind::directory);
      directory->entries.push_back({std::string(name), next});
    }
    if (next->kind != Kind::directory)
      throw std::logic_error("a file stands where a directory is needed");
    directory = next;
  }
  return directory;
}

void MemoryFileSystem::add_entry(std::string_view path, Node* node) {
  auto [directory_part, name] = split_last(path);
  Node* directory = make_directories(directory_part);
  if (name.empty() || name == "." || name == ".." ||
      find_entry(*directory, name))
    throw std::logic_error("bad or duplicate name");
  directory->entries.push_back({std::string(name), node});
}

void MemoryFileSystem::add_file(std::string_view path, Bytes bytes) {
  std::lock_guard lock(mutex_);
  Node* file = new_node(Kind::file);
  file->bytes = std::make_shared<const Bytes>(std::move(bytes));
  add_entry(path, file);
}

void MemoryFileSystem::add_unreadable_file(std::string_view path) {
  std::lock_guard lock(mutex_);
  add_entry(path, new_node(Kind::unreadable));
}

void MemoryFileSystem::add_directory(std::string_view path) {
  std::lock_guard lock(mutex_);
  make_directories(path);
}

void MemoryFileSystem::add_link(std::string_view path,
                                std::string_view target_directory) {
  std::lock_guard lock(mutex_);
  Node* target = resolve(target_directory);
  if (!target || target->kind != Kind::directory)
    throw std::logic_error("a link must name a directory");
  add_entry(path, target);
}

void MemoryFileSystem::set_lookup(std::string text,
                                  std::optional<bool> is_directory) {
  std::lock_guard lock(mutex_);
  lookups_[std::move(text)] = is_directory;
}

void MemoryFileSystem::set_full_path(std::string text, std::string full_path) {
  std::lock_guard lock(mutex_);
  full_paths_[std::move(text)] = std::move(full_path);
}

void MemoryFileSystem::set_drive_type(std::string full_path, unsigned type) {
  std::lock_guard lock(mutex_);
  drive_types_[std::move(full_path)] = type;
}

MemoryFileSystem::Node* MemoryFileSystem::resolve(std::string_view path) const {
  // ".." is resolved on the text, as Windows does, not through the parent
  // of a directory that a link leads to.
  std::vector<Node*> chain{root_};
  auto separator = [this](char byte) { return is_separator(byte); };
  for (std::size_t start = 0; start < path.size();) {
    std::string_view name = next_component(path, start, separator);
    if (name.empty() || name == ".") continue;
    if (chain.back()->kind != Kind::directory) return nullptr;
    if (name == "..") {
      if (chain.size() > 1) chain.pop_back();
      continue;
    }
    Node* next = find_entry(*chain.back(), name);
    if (!next) return nullptr;
    chain.push_back(next);
  }
  // A trailing separator asks for a directory.
  if (!path.empty() && is_separator(path.back()) &&
      chain.back()->kind != Kind::directory)
    return nullptr;
  return chain.back();
}

bool MemoryFileSystem::search_entries(
    const Node& directory, std::string_view last,
    const std::function<bool(const DirectoryEntry&)>& on_entry) const {
  bool windows = rules_ == PathRules::windows;
  if (!has_wildcard(last)) {
    if (last == "." || last == "..") {
      if (windows) on_entry(DirectoryEntry{last, true});
      return windows;
    }
    Node* node = find_entry(directory, last);
    if (!node) return false;
    // Windows reports the stored name; POSIX, the name as asked, which is
    // the stored one byte for byte.
    auto stored = std::find_if(
        directory.entries.begin(), directory.entries.end(),
        [node](const Entry& entry) { return entry.node == node; });
    on_entry(DirectoryEntry{stored->name, node->kind == Kind::directory});
    return true;
  }
  bool found = false;
  auto report = [&](std::string_view name, bool is_directory) {
    if (!wildcard_match(last, name)) return true;
    found = true;
    return on_entry(DirectoryEntry{name, is_directory});
  };
  if (windows && &directory != root_ &&
      (!report(".", true) || !report("..", true)))
    return true;
  for (const Entry& entry : directory.entries)
    if (!report(entry.name, entry.node->kind == Kind::directory)) break;
  return found;
}

bool MemoryFileSystem::search(
    const std::string& search_text,
    const std::function<bool(const DirectoryEntry&)>& on_entry) {
  before(Call::search, search_text);
  bool found = false;
  {
    std::lock_guard lock(mutex_);
    auto [directory_part, last] = split_last(search_text);
    Node* directory = resolve(directory_part);
    if (directory && directory->kind == Kind::directory && !last.empty())
      found = search_entries(*directory, last, on_entry);
  }
  after_search(search_text);
  return found;
}

std::optional<bool> MemoryFileSystem::lookup(const std::string& text) {
  before(Call::lookup, text);
  std::lock_guard lock(mutex_);
  if (auto answer = lookups_.find(text); answer != lookups_.end())
    return answer->second;
  // Windows finds no entry for a text that ends in a separator.
  if (text.empty() ||
      (rules_ == PathRules::windows && is_separator(text.back())))
    return std::nullopt;
  Node* node = resolve(text);
  if (!node) return std::nullopt;
  return node->kind == Kind::directory;
}

std::optional<std::string> MemoryFileSystem::full_path(
    const std::string& text) {
  before(Call::full_path, text);
  std::lock_guard lock(mutex_);
  auto full = full_paths_.find(text);
  if (full == full_paths_.end()) return std::nullopt;
  return full->second;
}

unsigned MemoryFileSystem::drive_type(const std::string& full_path) {
  before(Call::drive_type, full_path);
  std::lock_guard lock(mutex_);
  auto type = drive_types_.find(full_path);
  return type == drive_types_.end() ? DRIVE_TYPE_UNKNOWN : type->second;
}

std::optional<DirectoryId> MemoryFileSystem::directory_id(
    const std::string& text) {
  before(Call::directory_id, text);
  std::lock_guard lock(mutex_);
  Node* node = resolve(text);
  if (!node || node->kind != Kind::directory) return std::nullopt;
  return DirectoryId{0, node->index};
}

std::unique_ptr<ReadableFile> MemoryFileSystem::open_path(
    const std::string& path) {
  before(Call::open_file, path);
  std::shared_ptr<const Bytes> bytes;
  {
    std::lock_guard lock(mutex_);
    Node* node = resolve(path);
    if (!node || node->kind != Kind::file) return nullptr;
    bytes = node->bytes;
  }
  auto file = std::make_unique<MemoryFile>(std::move(bytes), &open_files_);
  int open = ++open_files_;
  int most = most_open_files_.load();
  while (open > most && !most_open_files_.compare_exchange_weak(most, open)) {
  }
  return file;
}

}  // namespace ostrel::test
