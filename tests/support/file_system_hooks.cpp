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

void FileSystemHooks::fail_search_of(std::string text, int occurrence) {
  std::lock_guard lock(mutex_);
  failing_text_ = std::move(text);
  failing_occurrence_ = occurrence;
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
            --fail_search_in_ == 0) ||
           (call == Call::search && failing_occurrence_ > 0 &&
            text == failing_text_ && --failing_occurrence_ == 0);
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

}  // namespace ostrel::test
