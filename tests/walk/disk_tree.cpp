#include "disk_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>
#include <vector>

namespace ostrel::test {
namespace {

constexpr int DIRECTORY_FLAGS = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool make_file(int directory, const std::string& file) {
  int fd = ::openat(directory, file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC,
                    0644);
  return fd >= 0 && ::close(fd) == 0;
}

// The names in an open directory, "." and ".." left out.
bool read_names(int directory, std::vector<std::string>& names) {
  int copy = ::dup(directory);
  DIR* dir = copy >= 0 ? ::fdopendir(copy) : nullptr;
  if (!dir) {
    if (copy >= 0) ::close(copy);
    return false;
  }
  ::rewinddir(dir);
  names.clear();
  while (const dirent* entry = ::readdir(dir)) {
    std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  ::closedir(dir);
  return true;
}

// Removes every entry of an open directory but the subdirectories; the
// first of those, if any, is left in `subdirectory`.
bool clear_files(int directory, std::string& subdirectory) {
  std::vector<std::string> names;
  if (!read_names(directory, names)) return false;
  subdirectory.clear();
  for (const std::string& name : names) {
    struct stat st;
    if (::fstatat(directory, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
      return false;
    if (!S_ISDIR(st.st_mode)) {
      if (::unlinkat(directory, name.c_str(), 0) != 0) return false;
    } else if (subdirectory.empty()) {
      subdirectory = name;
    }
  }
  return true;
}

}  // namespace

// Every level's file is a hard link to the first: a new inode for each
// costs far more on a full ext4 block group than a link does.
bool make_chain(const std::string& parent, int depth, const std::string& name,
                const std::string& file) {
  int top = ::open(parent.c_str(), DIRECTORY_FLAGS);
  int fd = top >= 0 ? ::dup(top) : -1;
  bool ok = fd >= 0;
  for (int level = 0; ok && level < depth; ++level) {
    ok = level == 0 ? make_file(fd, file)
                    : ::linkat(top, file.c_str(), fd, file.c_str(), 0) == 0;
    ok = ok && ::mkdirat(fd, name.c_str(), 0755) == 0;
    int next = ok ? ::openat(fd, name.c_str(), DIRECTORY_FLAGS) : -1;
    ::close(fd);
    fd = next;
    ok = fd >= 0;
  }
  if (top >= 0) ::close(top);
  return ok && ::close(fd) == 0;
}

bool remove_tree(const std::string& path) {
  int fd = ::open(path.c_str(), DIRECTORY_FLAGS);
  if (fd < 0) return false;
  // The names on the way down from `path`: the stack the removal climbs.
  std::vector<std::string> way_down;
  std::string subdirectory;
  while (fd >= 0 && clear_files(fd, subdirectory)) {
    int next = -1;
    if (!subdirectory.empty()) {
      next = ::openat(fd, subdirectory.c_str(), DIRECTORY_FLAGS);
      if (next >= 0) way_down.push_back(subdirectory);
    } else if (way_down.empty()) {
      ::close(fd);
      return ::rmdir(path.c_str()) == 0;
    } else {
      next = ::openat(fd, "..", DIRECTORY_FLAGS & ~O_NOFOLLOW);
      if (next >= 0 &&
          ::unlinkat(next, way_down.back().c_str(), AT_REMOVEDIR) != 0) {
        ::close(next);
        next = -1;
      }
      way_down.pop_back();
    }
    ::close(fd);
    fd = next;
  }
  if (fd >= 0) ::close(fd);
  return false;
}

}  // namespace ostrel::test
