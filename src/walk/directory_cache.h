// The directories a walk holds open: the one owner of their descriptors and
// the only place that meets a process without any left.
//
// Every directory the walk meets is a node that knows the directory it was
// opened from, its name there and its identity. A node's directory is open
// while something pins it (the walk while it reads it or opens through it,
// every file queued for probing in it) and afterwards for as long as there
// is room, the least recently used going first. A node that was closed is
// opened again the way that survives renames of the directories above it:
// through ".." of an open directory below it, each step checked against
// the identity it had; failing that, by names from the nearest open
// directory above it; failing that, by its text. A node whose directory is
// not found again as the same one is gone.
//
// Used from one thread only, the walk's: pins are taken and let go there,
// though other threads may use a pinned directory meanwhile.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/platform.h"

namespace ostrel {

// How many directories may be open at once where descriptors are plenty:
// the path a deep walk returns along, the directories of files queued for
// probing and those read ahead of the walk.
inline constexpr std::size_t DEFAULT_OPEN_DIRECTORIES = 256;

class DirectoryCache {
 public:
  class Node;
  using NodeRef = std::shared_ptr<Node>;

  // Keeps a node's directory open while it lives. Copies pin the same node.
  class Pin {
   public:
    Pin() = default;
    Pin(const Pin& other);
    Pin& operator=(const Pin& other);
    Pin(Pin&& other) noexcept = default;
    Pin& operator=(Pin&& other) noexcept;
    ~Pin();

    explicit operator bool() const { return node_ != nullptr; }
    const NodeRef& node() const { return node_; }
    const Directory& directory() const;
    std::optional<DirectoryId> id() const;

   private:
    friend class DirectoryCache;
    explicit Pin(NodeRef node);
    void release();
    NodeRef node_;
  };

  // Room kept for a directory to be opened on another thread. Given back
  // when it goes, unless the directory was kept meanwhile.
  class Reservation {
   public:
    Reservation() = default;
    Reservation(Reservation&& other) noexcept
        : cache_(std::exchange(other.cache_, nullptr)) {}
    Reservation& operator=(Reservation&& other) noexcept {
      std::swap(cache_, other.cache_);
      return *this;
    }
    ~Reservation() { give_back(); }
    explicit operator bool() const { return cache_ != nullptr; }

   private:
    friend class DirectoryCache;
    explicit Reservation(DirectoryCache* cache) : cache_(cache) {}
    void give_back();
    DirectoryCache* cache_ = nullptr;
  };

  // `descriptors`: how many directories may be open at once, pinned or
  // not, counting those reserved; the least recently used unpinned ones
  // close beyond it. With none, files and directories are opened by their
  // texts where the system takes them whole. `separator` joins a
  // directory's text and a name.
  DirectoryCache(FileSystem& fs, std::size_t descriptors, char separator);
  ~DirectoryCache();
  DirectoryCache(const DirectoryCache&) = delete;
  DirectoryCache& operator=(const DirectoryCache&) = delete;

  FileSystem& file_system() { return fs_; }

  // Called when the process has no descriptor left and the cache has
  // nothing unpinned to close: lets go of pins held elsewhere (files queued
  // for probing), after which the open is tried once more.
  void on_exhausted(std::function<void()> release) {
    release_ = std::move(release);
  }

  // The directory a text names, where a walk starts.
  Result<Pin> open(const std::string& text);

  // The subdirectory `name` of a node's directory.
  Result<Pin> open_subdirectory(const NodeRef& parent, std::string_view name);

  // Room for one more directory to be opened elsewhere, where there is
  // room without closing any; nothing where there is not.
  Reservation reserve();

  // The subdirectory `name` of a node's directory, opened elsewhere in the
  // room `reserved`, kept as a node of its own, unpinned.
  NodeRef keep(const NodeRef& parent, std::string_view name,
               std::unique_ptr<Directory> directory, Reservation reserved);

  // The node's directory, open again if it was closed.
  Result<Pin> pin(const NodeRef& node);

  // Pins a node the walk goes into now: below it lie the directories the
  // walk returns to, which a closed one is found again through.
  Result<Pin> enter(const NodeRef& node);

  // True once the node's directory was not found again as the one it was.
  static bool is_gone(const NodeRef& node);

  // Opens the file `name` of a node's directory; `path` is its full text,
  // the way to it when no descriptor is left for the directory.
  FileResult open_file(const NodeRef& node, std::string_view name,
                       const std::string& path);

  // Directories open now, pinned or not.
  std::size_t open_count() const { return open_count_; }

 private:
  template <typename Open>
  auto with_handles(Open open, bool may_release) -> decltype(open());
  Pin install(const NodeRef& node, std::shared_ptr<const Directory> directory);
  bool has_room() const { return open_count_ + reserved_ < descriptors_; }
  bool close_least_recent();
  void trim();
  void pinned(Node& node);
  void unpinned(Node& node);
  void forget(Node& node);
  void unlink(Node& node);
  std::optional<Pin> climb_to(const NodeRef& node);
  std::optional<Pin> descend_to(const NodeRef& node);
  std::optional<Pin> open_by_text(const NodeRef& node);
  std::string text_of(const Node& node) const;
  bool fits_whole(const std::string& text) const;

  FileSystem& fs_;
  const std::size_t descriptors_;
  const char separator_;
  std::function<void()> release_;
  std::size_t open_count_ = 0;
  std::size_t reserved_ = 0;
  // Some open found no descriptor even after all that could close did.
  bool ran_out_ = false;
  // Open and unpinned, least recently used first; linked through the nodes.
  Node* oldest_ = nullptr;
  Node* newest_ = nullptr;
  // The node opened last: below every node the walk returns to.
  NodeRef latest_;
};

}  // namespace ostrel
