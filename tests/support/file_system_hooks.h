// What a test may do to the calls a file system answers: make one run out of
// memory, watch or slow them down, change the tree right after a search.
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
  open_directory,     // by its text
  open_subdirectory,  // through an open directory, by a name or ".."
  open_file,
};

// Safe to use from several threads, as the file systems that have them are.
class FileSystemHooks {
 public:
  // Makes the `nth` call from now (1 for the next one) of any operation, or
  // of `search` alone, throw std::bad_alloc; 0 turns it off.
  void fail_call(int nth);
  void fail_search(int nth);
  // Makes the `occurrence`th search of `text` (1 for the first) throw
  // std::bad_alloc, whichever thread makes it.
  void fail_search_of(std::string text, int occurrence);

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
  std::string failing_text_;
  int failing_occurrence_ = 0;
  std::function<void(Call, const std::string&)> watcher_;
  std::string change_trigger_;
  std::function<void()> change_;
};

}  // namespace ostrel::test
