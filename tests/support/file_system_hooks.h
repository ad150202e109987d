// What a test may do to the calls a file system answers: make one run out of
// memory, watch or slow them down, change the tree right after a search; and
// the disk with these hooks, the one file system that forwards to another.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace ostrel::test {

// The operations of the FileSystem interface.
enum class Call {
  search,
  lookup,
  full_path,
  drive_type,
  directory_id,
  open_directory,
  open_file,
};

// Safe to use from several threads, as the file systems that have them are.
class FileSystemHooks {
 public:
  // Makes the `nth` call from now (1 for the next one) of any operation, or
  // of `search` alone, throw std::bad_alloc; 0 turns it off.
  void fail_call(int nth);
  void fail_search(int nth);

  // Runs before every call, on the calling thread, with the call's text: to
  // check what is asked, or to make calls slow. Set it before the file
  // system is in use.
  void watch(std::function<void(Call, const std::string&)> watcher);

  // Runs `change` once, right after the search of `search_text` has
  // reported its entries.
  void change_after_search(std::string search_text,
                           std::function<void()> change);

  // The texts given to `search`, in order, and the number of calls so far.
  std::vector<std::string> searches() const;
  int calls() const;

 protected:
  // Every call starts here; may throw std::bad_alloc.
  void before(Call call, const std::string& text);
  // Every search ends here.
  void after_search(const std::string& search_text);

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> searches_;
  int calls_ = 0;
  int fail_call_in_ = 0;
  int fail_search_in_ = 0;
  std::function<void(Call, const std::string&)> watcher_;
  std::string change_trigger_;
  std::function<void()> change_;
};

// The real file system of this platform, every call through the hooks. A
// read of a directory counts as a search of its directory text followed by
// the file pattern (`photos/*.jpg`).
class HookedDisk final : public FileSystem, public FileSystemHooks {
 public:
  std::optional<bool> lookup(const std::string& text) override;
  std::optional<std::string> full_path(const std::string& text) override;
  unsigned drive_type(const std::string& full_path) override;
  DirectoryOpening open_directory(const std::string& text) override;
  DirectoryOpening open_subdirectory(const OpenDirectory& parent,
                                     std::string_view name,
                                     const std::string& text) override;
  void read_directory(const OpenDirectory& directory,
                      std::string_view file_pattern, bool directories,
                      EntrySink& sink) override;
  FileOpening open_file(const OpenDirectory& directory, std::string_view name,
                        const std::string& path) override;

 private:
  FileSystem& disk_ = disk_file_system();
};

}  // namespace ostrel::test
