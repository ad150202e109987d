#include "support/memory_fs.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "platform/long_text.h"
#include "platform/wildcard.h"

namespace ostrel::test {
namespace {

enum Kind { DIRECTORY, FILE, UNREADABLE };

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

struct MemoryFileSystem::Node {
  int kind = DIRECTORY;
  std::size_t index = 0;
  Node* parent = nullptr;  // the directory it was made in
  std::vector<Entry> entries;
  std::shared_ptr<const Bytes> bytes;
};

MemoryFile::MemoryFile(std::shared_ptr<const Bytes> bytes,
                       std::atomic<int>* open_count,
                       std::atomic<int>* handle_count)
    : bytes_(std::move(bytes)),
      open_count_(open_count),
      handle_count_(handle_count) {}

MemoryFile::MemoryFile(Bytes bytes)
    : MemoryFile(std::make_shared<const Bytes>(std::move(bytes))) {}

MemoryFile::~MemoryFile() {
  if (open_count_) --*open_count_;
  if (handle_count_) --*handle_count_;
}

std::size_t MemoryFile::read_at(std::uint64_t offset, unsigned char* buffer,
                                std::size_t size) const {
  if (offset >= bytes_->size()) return 0;
  auto start = static_cast<std::size_t>(offset);
  std::size_t count = std::min(size, bytes_->size() - start);
  if (count > 0) std::memcpy(buffer, bytes_->data() + start, count);
  return count;
}

// A directory held by its node, as a descriptor holds it: through renames
// and removals alike. It knows the text it was reached by, for the hooks.
class MemoryDirectory final : public Directory {
 public:
  MemoryDirectory(MemoryFileSystem& fs, MemoryFileSystem::Node* node,
                  std::string text)
      : Directory(DirectoryId{0, node->index}),
        fs_(fs),
        node_(node),
        text_(std::move(text)) {}
  ~MemoryDirectory() override { --fs_.open_handles_; }

  void read(std::string_view file_pattern, bool directories,
            EntrySink& sink) const override {
    fs_.read_node(*node_, text_, file_pattern, directories, sink);
  }

  FileResult open_file(std::string_view name) const override {
    std::string text = text_ + std::string(name);
    fs_.before(Call::open_file, text);
    std::lock_guard lock(fs_.mutex_);
    return fs_.file_handle(fs_.find_entry(*node_, name), true);
  }

  DirectoryResult open_subdirectory(std::string_view name) const override {
    std::string text = text_ + std::string(name) + "/";
    fs_.before(Call::open_subdirectory, text);
    std::lock_guard lock(fs_.mutex_);
    return fs_.directory_handle(fs_.find_entry(*node_, name), std::move(text));
  }

  DirectoryResult open_parent() const override {
    std::string text = text_ + "../";
    fs_.before(Call::open_subdirectory, text);
    std::lock_guard lock(fs_.mutex_);
    return fs_.directory_handle(node_->parent ? node_->parent : node_,
                                std::move(text));
  }

 private:
  MemoryFileSystem& fs_;
  MemoryFileSystem::Node* node_;
  const std::string text_;
};

MemoryFileSystem::MemoryFileSystem(PathRules rules)
    : rules_(rules), root_(new_node(DIRECTORY)) {}

MemoryFileSystem::~MemoryFileSystem() = default;

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

MemoryFileSystem::Node* MemoryFileSystem::new_node(int kind) {
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

std::vector<MemoryFileSystem::Entry>::iterator MemoryFileSystem::find_slot(
    Node& directory, std::string_view name) {
  return std::find_if(
      directory.entries.begin(), directory.entries.end(),
      [&](const Entry& entry) { return same_name(entry.name, name); });
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
      next = new_node(DIRECTORY);
      next->parent = directory;
      directory->entries.push_back({std::string(name), next});
    }
    if (next->kind != DIRECTORY)
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
  if (!node->parent) node->parent = directory;
  directory->entries.push_back({std::string(name), node});
}

void MemoryFileSystem::add_file(std::string_view path, Bytes bytes) {
  std::lock_guard lock(mutex_);
  Node* file = new_node(FILE);
  file->bytes = std::make_shared<const Bytes>(std::move(bytes));
  add_entry(path, file);
}

void MemoryFileSystem::add_unreadable_file(std::string_view path) {
  std::lock_guard lock(mutex_);
  add_entry(path, new_node(UNREADABLE));
}

void MemoryFileSystem::add_directory(std::string_view path) {
  std::lock_guard lock(mutex_);
  make_directories(path);
}

void MemoryFileSystem::add_link(std::string_view path,
                                std::string_view target_directory) {
  std::lock_guard lock(mutex_);
  Node* target = resolve(target_directory);
  if (!target || target->kind != DIRECTORY)
    throw std::logic_error("a link must name a directory");
  add_entry(path, target);
}

void MemoryFileSystem::rename(std::string_view from, std::string_view to) {
  std::lock_guard lock(mutex_);
  auto [from_part, from_name] = split_last(from);
  Node* from_directory = resolve(from_part);
  if (!from_directory) throw std::logic_error("nothing to rename");
  auto slot = find_slot(*from_directory, from_name);
  if (slot == from_directory->entries.end())
    throw std::logic_error("nothing to rename");
  Node* node = slot->node;
  from_directory->entries.erase(slot);
  auto [to_part, to_name] = split_last(to);
  Node* to_directory = resolve(to_part);
  if (!to_directory || find_entry(*to_directory, to_name))
    throw std::logic_error("cannot rename there");
  if (node->parent == from_directory) node->parent = to_directory;
  to_directory->entries.push_back({std::string(to_name), node});
}

void MemoryFileSystem::remove(std::string_view path) {
  std::lock_guard lock(mutex_);
  auto [directory_part, name] = split_last(path);
  Node* directory = resolve(directory_part);
  if (!directory) throw std::logic_error("nothing to remove");
  auto slot = find_slot(*directory, name);
  if (slot == directory->entries.end())
    throw std::logic_error("nothing to remove");
  // Handles that hold what was removed keep it, now empty.
  if (slot->node->parent == directory) slot->node->entries.clear();
  directory->entries.erase(slot);
}

void MemoryFileSystem::replace_bytes(std::string_view path, Bytes bytes) {
  std::lock_guard lock(mutex_);
  Node* node = resolve(path);
  if (!node || node->kind != FILE) throw std::logic_error("no such file");
  node->bytes = std::make_shared<const Bytes>(std::move(bytes));
}

void MemoryFileSystem::set_handle_limit(int most) { handle_limit_ = most; }

void MemoryFileSystem::set_longest_whole_text(std::size_t longest) {
  longest_ = longest;
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

void MemoryFileSystem::set_drive_type(std::string full_path, DriveType type) {
  std::lock_guard lock(mutex_);
  drive_types_[std::move(full_path)] = type;
}

MemoryFileSystem::Node* MemoryFileSystem::resolve(std::string_view path) const {
  return resolve_from(root_, path);
}

// Windows resolves ".." on the text; POSIX by the directory's own parent,
// which for one reached through a link is the link target's.
MemoryFileSystem::Node* MemoryFileSystem::resolve_from(
    Node* start, std::string_view path) const {
  std::vector<Node*> chain{start};
  auto separator = [this](char byte) { return is_separator(byte); };
  for (std::size_t at = 0; at < path.size();) {
    std::string_view name = next_component(path, at, separator);
    if (name.empty() || name == ".") continue;
    if (chain.back()->kind != DIRECTORY) return nullptr;
    if (name == "..") {
      if (rules_ == PathRules::posix)
        chain.push_back(chain.back()->parent ? chain.back()->parent
                                             : chain.back());
      else if (chain.size() > 1)
        chain.pop_back();
      continue;
    }
    Node* next = find_entry(*chain.back(), name);
    if (!next) return nullptr;
    chain.push_back(next);
  }
  // A trailing separator asks for a directory.
  if (!path.empty() && is_separator(path.back()) &&
      chain.back()->kind != DIRECTORY)
    return nullptr;
  return chain.back();
}

// A text longer than the limit, resolved in the pieces the disk's would be:
// a piece that is still too long fails, as the kernel refuses it.
MemoryFileSystem::Node* MemoryFileSystem::resolve_in_pieces(
    std::string_view path, Failure& failure) const {
  Node* at = root_;
  for (std::string_view piece : long_text_pieces(path, longest_)) {
    if (piece.empty()) break;
    if (piece.size() > longest_) {
      failure = Failure::other;
      return nullptr;
    }
    // As openat takes it: a piece that starts at the root starts there.
    at = resolve_from(piece.front() == '/' ? root_ : at, piece);
    if (!at) {
      failure = Failure::none_found;
      return nullptr;
    }
  }
  return at;
}

bool MemoryFileSystem::take_handle() {
  int limit = handle_limit_.load();
  int open = ++open_handles_;
  if (limit >= 0 && open > limit) {
    --open_handles_;
    return false;
  }
  return true;
}

DirectoryResult MemoryFileSystem::directory_handle(Node* node,
                                                   std::string text) {
  if (!node || node->kind != DIRECTORY) return Failure::none_found;
  if (!take_handle()) return Failure::out_of_handles;
  return std::make_unique<MemoryDirectory>(*this, node, std::move(text));
}

FileResult MemoryFileSystem::file_handle(Node* node, bool counts_as_handle) {
  if (!node || node->kind != FILE) return Failure::none_found;
  if (counts_as_handle && !take_handle()) return Failure::out_of_handles;
  auto file = std::make_unique<MemoryFile>(
      node->bytes, &open_files_, counts_as_handle ? &open_handles_ : nullptr);
  int open = ++open_files_;
  int most = most_open_files_.load();
  while (open > most && !most_open_files_.compare_exchange_weak(most, open)) {
  }
  return file;
}

void MemoryFileSystem::read_node(const Node& directory, const std::string& text,
                                 std::string_view file_pattern,
                                 bool directories, EntrySink& sink) {
  std::string search = text + std::string(file_pattern);
  before(Call::search, search);
  {
    std::lock_guard lock(mutex_);
    bool wildcard = has_wildcard(file_pattern);
    if (!wildcard) {
      Node* one = find_entry(directory, file_pattern);
      if (one && one->kind != DIRECTORY) sink.add_file(file_pattern);
    }
    for (const Entry& entry : directory.entries) {
      if (entry.node->kind == DIRECTORY) {
        if (directories) sink.add_directory(entry.name);
      } else if (wildcard && wildcard_match(file_pattern, entry.name)) {
        sink.add_file(entry.name);
      }
    }
  }
  after_search(search);
}

bool MemoryFileSystem::search_entries(
    const Node& directory, std::string_view last,
    const std::function<bool(const DirectoryEntry&)>& on_entry) const {
  if (!has_wildcard(last)) {
    if (last == "." || last == "..") {
      on_entry(DirectoryEntry{last, true});
      return true;
    }
    Node* node = find_entry(directory, last);
    if (!node) return false;
    // Windows reports the stored name.
    auto stored = std::find_if(
        directory.entries.begin(), directory.entries.end(),
        [node](const Entry& entry) { return entry.node == node; });
    on_entry(DirectoryEntry{stored->name, node->kind == DIRECTORY});
    return true;
  }
  bool found = false;
  auto report = [&](std::string_view name, bool is_directory) {
    if (!wildcard_match(last, name)) return true;
    found = true;
    return on_entry(DirectoryEntry{name, is_directory});
  };
  if (&directory != root_ && (!report(".", true) || !report("..", true)))
    return true;
  for (const Entry& entry : directory.entries)
    if (!report(entry.name, entry.node->kind == DIRECTORY)) break;
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
    if (directory && directory->kind == DIRECTORY && !last.empty())
      found = search_entries(*directory, last, on_entry);
  }
  after_search(search_text);
  return found;
}

Result<bool> MemoryFileSystem::lookup(const std::string& text) {
  before(Call::lookup, text);
  std::lock_guard lock(mutex_);
  if (auto answer = lookups_.find(text); answer != lookups_.end()) {
    if (!answer->second) return Failure::none_found;
    return *answer->second;
  }
  // Windows finds no entry for a text that ends in a separator.
  if (text.empty() ||
      (rules_ == PathRules::windows && is_separator(text.back())))
    return Failure::none_found;
  Failure failure = Failure::none_found;
  Node* node = rules_ == PathRules::posix ? resolve_in_pieces(text, failure)
                                          : resolve(text);
  if (!node) return failure;
  return node->kind == DIRECTORY;
}

bool MemoryFileSystem::is_reachable_root(const std::string& text) {
  return rules_ == PathRules::windows && SearchByText::is_reachable_root(text);
}

DirectoryResult MemoryFileSystem::open_directory(const std::string& text) {
  if (rules_ == PathRules::windows) return SearchByText::open_directory(text);
  before(Call::open_directory, text);
  std::lock_guard lock(mutex_);
  Failure failure = Failure::none_found;
  Node* node = resolve_in_pieces(text, failure);
  if (!node) return failure;
  std::string own = text;
  if (!own.empty() && own.back() != '/') own += '/';
  return directory_handle(node, std::move(own));
}

FileResult MemoryFileSystem::open_path(const std::string& path) {
  before(Call::open_file, path);
  std::lock_guard lock(mutex_);
  bool posix = rules_ == PathRules::posix;
  Failure failure = Failure::none_found;
  Node* node = posix ? resolve_in_pieces(path, failure) : resolve(path);
  if (!node) return failure;
  return file_handle(node, posix);
}

std::optional<std::string> MemoryFileSystem::full_path(
    const std::string& text) {
  before(Call::full_path, text);
  std::lock_guard lock(mutex_);
  auto full = full_paths_.find(text);
  if (full == full_paths_.end()) return std::nullopt;
  return full->second;
}

SearchByText::DriveType MemoryFileSystem::drive_type(
    const std::string& full_path) {
  before(Call::drive_type, full_path);
  std::lock_guard lock(mutex_);
  auto type = drive_types_.find(full_path);
  return type == drive_types_.end() ? DriveType::unknown : type->second;
}

std::optional<DirectoryId> MemoryFileSystem::directory_id(
    const std::string& text) {
  before(Call::directory_id, text);
  std::lock_guard lock(mutex_);
  Node* node = resolve(text);
  if (!node || node->kind != DIRECTORY) return std::nullopt;
  return DirectoryId{0, node->index};
}

}  // namespace ostrel::test
