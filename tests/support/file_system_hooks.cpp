#include "support/file_system_hooks.h"

#include <new>
#include <utility>

namespace ostrel::test {

void FileSystemHooks::fail_call(int nth) {
  std::lock_guard lock(mutex_);
  fail_call_in_ = nth;
}

void FileSystemHooks::fail_search(int nth) {
  std::lock_guard lock(mutex_);
  fail_search_in_ = nth;
}

void FileSystemHooks::watch(
    std::function<void(Call, const std::string&)> watcher) {
  std::lock_guard lock(mutex_);
  watcher_ = std::move(watcher);
}

void FileSystemHooks::change_after_search(std::string search_text,
                                          std::function<void()> change) {
  std::lock_guard lock(mutex_);
  change_trigger_ = std::move(search_text);
  change_ = std::move(change);
}

std::vector<std::string> FileSystemHooks::searches() const {
  std::lock_guard lock(mutex_);
  return searches_;
}

int FileSystemHooks::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

void FileSystemHooks::before(Call call, const std::string& text) {
  bool fail = false;
  {
    std::lock_guard lock(mutex_);
    ++calls_;
    if (call == Call::search) searches_.push_back(text);
    fail = (fail_call_in_ > 0 && --fail_call_in_ == 0) ||
           (call == Call::search && fail_search_in_ > 0 &&
            --fail_search_in_ == 0);
  }
  // Unchanged while the file system is in use, so read without the lock.
  if (watcher_) watcher_(call, text);
  if (fail) throw std::bad_alloc();
}

void FileSystemHooks::after_search(const std::string& search_text) {
  std::function<void()> change;
  {
    std::lock_guard lock(mutex_);
    if (!change_ || search_text != change_trigger_) return;
    change = std::exchange(change_, nullptr);
  }
  // Outside the lock: the change may call the file system itself.
  change();
}

std::optional<bool> HookedDisk::lookup(const std::string& text) {
  before(Call::lookup, text);
  return disk_.lookup(text);
}

std::optional<std::string> HookedDisk::full_path(const std::string& text) {
  before(Call::full_path, text);
  return disk_.full_path(text);
}

unsigned HookedDisk::drive_type(const std::string& full_path) {
  before(Call::drive_type, full_path);
  return disk_.drive_type(full_path);
}

namespace {

// The disk's own directory, with the text it was opened by.
class HookedDirectory final : public OpenDirectory {
 public:
  HookedDirectory(DirectoryHandle disk, std::string text)
      : OpenDirectory(disk->id()), disk(std::move(disk)), text(std::move(text)) {}
  const DirectoryHandle disk;
  const std::string text;
};

const HookedDirectory& hooked(const OpenDirectory& directory) {
  return static_cast<const HookedDirectory&>(directory);
}

DirectoryOpening wrap(DirectoryOpening opening, const std::string& text) {
  if (opening.directory)
    opening.directory =
        std::make_shared<HookedDirectory>(std::move(opening.directory), text);
  return opening;
}

}  // namespace

DirectoryOpening HookedDisk::open_directory(const std::string& text) {
  before(Call::open_directory, text);
  return wrap(disk_.open_directory(text), text);
}

DirectoryOpening HookedDisk::open_subdirectory(const OpenDirectory& parent,
                                               std::string_view name,
                                               const std::string& text) {
  before(Call::open_directory, text);
  return wrap(disk_.open_subdirectory(*hooked(parent).disk, name, text), text);
}

void HookedDisk::read_directory(const OpenDirectory& directory,
                                std::string_view file_pattern,
                                bool directories, EntrySink& sink) {
  std::string search = hooked(directory).text + std::string(file_pattern);
  before(Call::search, search);
  disk_.read_directory(*hooked(directory).disk, file_pattern, directories,
                       sink);
  after_search(search);
}

FileOpening HookedDisk::open_file(const OpenDirectory& directory,
                                  std::string_view name,
                                  const std::string& path) {
  before(Call::open_file, path);
  return disk_.open_file(*hooked(directory).disk, name, path);
}

}  // namespace ostrel::test
