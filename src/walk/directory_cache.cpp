#include "walk/directory_cache.h"

#include <utility>
#include <vector>

namespace ostrel {

class DirectoryCache::Node : public std::enable_shared_from_this<Node> {
 public:
  // A start has no parent, and its text for a name.
  Node(DirectoryCache& cache, NodeRef parent, std::string name)
      : cache(cache), parent(std::move(parent)), name(std::move(name)) {}

  ~Node() {
    if (directory) cache.forget(*this);
    // A long chain of parents goes one node at a time, not by recursion.
    NodeRef up = std::move(parent);
    while (up && up.use_count() == 1) {
      NodeRef next = std::move(up->parent);
      up.reset();
      up = std::move(next);
    }
  }

  DirectoryCache& cache;
  NodeRef parent;
  const std::string name;
  std::optional<DirectoryId> id;
  std::shared_ptr<const Directory> directory;  // none while closed
  unsigned pins = 0;
  bool gone = false;
  // Neighbours in the list of open, unpinned nodes.
  Node* older = nullptr;
  Node* newer = nullptr;
};

namespace {

// A directory opened again must be the one the node stood for.
bool is_same(const std::optional<DirectoryId>& known,
             const Directory& opened) {
  return !known || !opened.id() || *known == *opened.id();
}

}  // namespace

DirectoryCache::Pin::Pin(NodeRef node) : node_(std::move(node)) {
  node_->cache.pinned(*node_);
}

DirectoryCache::Pin::Pin(const Pin& other) : node_(other.node_) {
  if (node_) node_->cache.pinned(*node_);
}

DirectoryCache::Pin& DirectoryCache::Pin::operator=(const Pin& other) {
  if (this != &other) *this = Pin(other);
  return *this;
}

DirectoryCache::Pin& DirectoryCache::Pin::operator=(Pin&& other) noexcept {
  if (this != &other) {
    release();
    node_ = std::move(other.node_);
  }
  return *this;
}

DirectoryCache::Pin::~Pin() { release(); }

void DirectoryCache::Pin::release() {
  if (!node_) return;
  NodeRef node = std::move(node_);
  node->cache.unpinned(*node);
}

const Directory& DirectoryCache::Pin::directory() const {
  return *node_->directory;
}

std::optional<DirectoryId> DirectoryCache::Pin::id() const {
  return node_->id;
}

void DirectoryCache::Reservation::give_back() {
  if (cache_) --std::exchange(cache_, nullptr)->reserved_;
}

DirectoryCache::DirectoryCache(FileSystem& fs, std::size_t descriptors,
                               char separator)
    : fs_(fs), descriptors_(descriptors), separator_(separator) {}

DirectoryCache::~DirectoryCache() { latest_.reset(); }

// Runs `open` until it no longer fails for want of descriptors, closing the
// least recently used unpinned directory before each new try and, when
// allowed, once asking the holders of other pins to let go.
template <typename Open>
auto DirectoryCache::with_handles(Open open, bool may_release)
    -> decltype(open()) {
  auto result = open();
  bool released = false;
  while (!result && result.failure() == Failure::out_of_handles) {
    if (close_least_recent()) {
      result = open();
    } else if (may_release && !released && release_) {
      released = true;
      release_();
      result = open();
    } else {
      ran_out_ = true;
      break;
    }
  }
  return result;
}

DirectoryCache::Pin DirectoryCache::install(
    const NodeRef& node, std::shared_ptr<const Directory> directory) {
  if (!node->id) node->id = directory->id();
  // Pinned while still closed, so it never enters the list of what may
  // be closed.
  Pin pin(node);
  node->directory = std::move(directory);
  ++open_count_;
  trim();
  return pin;
}

bool DirectoryCache::close_least_recent() {
  Node* node = oldest_;
  if (!node) return false;
  forget(*node);
  node->directory.reset();
  return true;
}

void DirectoryCache::trim() {
  while (open_count_ + reserved_ > descriptors_ && close_least_recent()) {
  }
}

void DirectoryCache::pinned(Node& node) {
  if (node.pins++ > 0 || !node.directory) return;
  unlink(node);
}

void DirectoryCache::unpinned(Node& node) {
  if (--node.pins > 0 || !node.directory) return;
  node.older = newest_;
  (newest_ ? newest_->newer : oldest_) = &node;
  newest_ = &node;
  trim();
}

// Out of the list of what may be closed.
void DirectoryCache::unlink(Node& node) {
  (node.older ? node.older->newer : oldest_) = node.newer;
  (node.newer ? node.newer->older : newest_) = node.older;
  node.older = node.newer = nullptr;
}

// The node's directory closes: out of the count, and out of the list.
void DirectoryCache::forget(Node& node) {
  --open_count_;
  if (node.pins == 0) unlink(node);
}

Result<DirectoryCache::Pin> DirectoryCache::open(const std::string& text) {
  auto node = std::make_shared<Node>(*this, nullptr, text);
  DirectoryResult opened =
      with_handles([&] { return fs_.open_directory(text); }, true);
  if (!opened) return opened.failure();
  latest_ = node;
  return install(node, std::move(*opened));
}

Result<DirectoryCache::Pin> DirectoryCache::open_subdirectory(
    const NodeRef& parent, std::string_view name) {
  auto node = std::make_shared<Node>(*this, parent, std::string(name));
  DirectoryResult opened = Failure::out_of_handles;
  if (descriptors_ > 0) {
    Result<Pin> through = pin(parent);
    if (!through) return through.failure();
    opened = with_handles(
        [&] { return through->directory().open_subdirectory(name); }, true);
  }
  // No descriptor for the parent and the child at once: by the text.
  if (!opened && opened.failure() == Failure::out_of_handles) {
    std::string text = text_of(*node);
    if (fits_whole(text))
      opened = with_handles([&] { return fs_.open_directory(text); }, true);
  }
  if (!opened) return opened.failure();
  latest_ = node;
  return install(node, std::move(*opened));
}

DirectoryCache::Reservation DirectoryCache::reserve() {
  if (!has_room()) return Reservation();
  ++reserved_;
  return Reservation(this);
}

DirectoryCache::NodeRef DirectoryCache::keep(const NodeRef& parent,
                                             std::string_view name,
                                             std::unique_ptr<Directory> directory,
                                             Reservation reserved) {
  auto node = std::make_shared<Node>(*this, parent, std::string(name));
  // The room it was opened in is its own now.
  reserved.give_back();
  install(node, std::move(directory));
  return node;
}

Result<DirectoryCache::Pin> DirectoryCache::enter(const NodeRef& node) {
  Result<Pin> pinned = pin(node);
  if (pinned) latest_ = node;
  return pinned;
}

Result<DirectoryCache::Pin> DirectoryCache::pin(const NodeRef& node) {
  if (node->directory) return Pin(node);
  if (node->gone) return Failure::none_found;
  ran_out_ = false;
  std::optional<Pin> found;
  if (descriptors_ > 0) found = climb_to(node);
  if (!found && descriptors_ > 0) found = descend_to(node);
  if (!found) found = open_by_text(node);
  if (!found && ran_out_) return Failure::out_of_handles;
  // Not found again as the directory it was: it is gone.
  if (!found) {
    node->gone = true;
    return Failure::none_found;
  }
  return std::move(*found);
}

bool DirectoryCache::is_gone(const NodeRef& node) { return node->gone; }

// Up from the latest node to `node` by "..", from the open directory
// nearest below it.
std::optional<DirectoryCache::Pin> DirectoryCache::climb_to(
    const NodeRef& node) {
  Node* start = nullptr;
  Node* at = latest_.get();
  for (; at && at != node.get(); at = at->parent.get())
    if (at->directory) start = at;
  if (!at || !start) return std::nullopt;
  Pin below(start->shared_from_this());
  while (below.node() != node) {
    NodeRef up = below.node()->parent;
    if (up->directory) {
      below = Pin(up);
      continue;
    }
    DirectoryResult opened =
        with_handles([&] { return below.directory().open_parent(); }, true);
    if (!opened || !is_same(up->id, **opened)) return std::nullopt;
    below = install(up, std::move(*opened));
  }
  return below;
}

// Down by names from the nearest open directory above `node`.
std::optional<DirectoryCache::Pin> DirectoryCache::descend_to(
    const NodeRef& node) {
  std::vector<Node*> path;
  Node* above = node.get();
  for (; above && !above->directory; above = above->parent.get())
    path.push_back(above);
  if (!above) return std::nullopt;
  Pin through(above->shared_from_this());
  for (auto step = path.rbegin(); step != path.rend(); ++step) {
    const std::string& name = (*step)->name;
    DirectoryResult opened = with_handles(
        [&] { return through.directory().open_subdirectory(name); }, true);
    if (!opened || !is_same((*step)->id, **opened)) return std::nullopt;
    through = install((*step)->shared_from_this(), std::move(*opened));
  }
  return through;
}

std::optional<DirectoryCache::Pin> DirectoryCache::open_by_text(
    const NodeRef& node) {
  std::string text = text_of(*node);
  DirectoryResult opened =
      with_handles([&] { return fs_.open_directory(text); }, true);
  if (!opened || !is_same(node->id, **opened)) return std::nullopt;
  return install(node, std::move(*opened));
}

FileResult DirectoryCache::open_file(const NodeRef& node, std::string_view name,
                                     const std::string& path) {
  if (descriptors_ > 0 || !fits_whole(path)) {
    Result<Pin> directory = pin(node);
    if (!directory) return directory.failure();
    FileResult file = with_handles(
        [&] { return directory->directory().open_file(name); }, false);
    if (file || file.failure() != Failure::out_of_handles ||
        !fits_whole(path))
      return file;
  }
  // No descriptor for the directory and the file at once: by the text.
  return with_handles([&] { return fs_.open_path(path); }, false);
}

std::string DirectoryCache::text_of(const Node& node) const {
  std::vector<const Node*> chain;
  for (const Node* at = &node; at; at = at->parent.get()) chain.push_back(at);
  std::string text = chain.back()->name;
  for (auto at = chain.rbegin() + 1; at != chain.rend(); ++at) {
    text += (*at)->name;
    text += separator_;
  }
  return text;
}

bool DirectoryCache::fits_whole(const std::string& text) const {
  return text.size() <= fs_.longest_whole_text();
}

}  // namespace ostrel
