// Directories held open, read and looked up on a real POSIX disk.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/temp_dir.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

// What one read found, each kind sorted, since the read's own order is the
// directory's.
struct Found final : EntrySink {
  Names files;
  Names directories;
  void add_file(std::string_view name) override { files.emplace_back(name); }
  void add_directory(std::string_view name) override {
    directories.emplace_back(name);
  }
  void lose_directories() override { ADD_FAILURE() << "no memory lost"; }
  void sort() {
    std::sort(files.begin(), files.end());
    std::sort(directories.begin(), directories.end());
  }
};

// Runs tasks one at a time on one thread of its own.
class TaskThread {
 public:
  TaskThread() : thread_([this] { serve(); }) {}
  ~TaskThread() {
    run([this] { done_ = true; });
    thread_.join();
  }

  void run(std::function<void()> task) {
    std::unique_lock lock(mutex_);
    task_ = std::move(task);
    changed_.notify_all();
    changed_.wait(lock, [&] { return !task_; });
  }

 private:
  void serve() {
    std::unique_lock lock(mutex_);
    while (!done_) {
      changed_.wait(lock, [&] { return static_cast<bool>(task_); });
      task_();
      task_ = nullptr;
      changed_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::function<void()> task_;
  bool done_ = false;
  std::thread thread_;
};

class PosixDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* dir : {"d", "d/sub", "d/.hdir", "a*b", "axb"})
      fs::create_directory(root_ / dir);
    for (const char* file : {"d/b.jpg", "d/A.JPG", "d/c.jpeg", "d/noext",
                             "d/.h.jpg", "d/[ab].jpg", "d/back\\slash",
                             "d/x.jpg.txt", "a*b/in.jpg", "axb/out.jpg"})
      std::ofstream(root_ / file).put('x');
    fs::create_directory_symlink("sub", root_ / "d/linkdir");
    fs::create_symlink("b.jpg", root_ / "d/linkfile");
    fs::create_symlink("nowhere", root_ / "d/dangling.jpg");
  }

  std::string at(const std::string& relative) const {
    return (root_ / relative).string();
  }

  Found read(const std::string& directory, std::string_view pattern,
             bool directories) {
    Found found;
    DirectoryResult handle = disk_.open_directory(directory);
    EXPECT_TRUE(handle) << directory;
    if (handle) (*handle)->read(pattern, directories, found);
    found.sort();
    return found;
  }

  std::optional<DirectoryId> id_of(const std::string& text) {
    DirectoryResult handle = disk_.open_directory(text);
    return handle ? (*handle)->id() : std::nullopt;
  }

  FileSystem& disk_ = disk_file_system();
  test::TempDir root_dir_;
  const fs::path& root_ = root_dir_.path();
};

TEST_F(PosixDirectory, ReadsTheFilesThatMatch) {
  struct Row {
    const char* directory;
    const char* pattern;
    Names expected;
  };
  const Row rows[] = {
      {"d/", "*.jpg",
       {".h.jpg", "A.JPG", "[ab].jpg", "b.jpg", "dangling.jpg"}},
      {"d/", "*.*",
       {".h.jpg", "A.JPG", "[ab].jpg", "b.jpg", "back\\slash", "c.jpeg",
        "dangling.jpg", "linkfile", "noext", "x.jpg.txt"}},
      {"d/", "?.jpg", {"A.JPG", "b.jpg"}},
      {"d/", "L*", {"linkfile"}},
      // No wildcard: the one entry of exactly that name, looked up.
      {"d/", "[ab].jpg", {"[ab].jpg"}},
      {"d/", "back\\slash", {"back\\slash"}},
      {"d/", "dangling.jpg", {"dangling.jpg"}},
      {"d/", "linkdir", {}},
      {"d/", "sub", {}},
      {"d/", "B.jpg", {}},
      // The directory is opened as it is written, never matched.
      {"a*b/", "*", {"in.jpg"}},
      {"d/", "*.png", {}},
      {"d/", ".", {}},
      {"d/", "..", {}},
      {"d/", "", {}},
  };
  for (const Row& row : rows) {
    Found found = read(at(row.directory), row.pattern, false);
    EXPECT_EQ(found.files, row.expected) << row.directory << row.pattern;
    EXPECT_TRUE(found.directories.empty()) << row.directory << row.pattern;
  }
}

TEST_F(PosixDirectory, TheSameReadFindsEverySubdirectory) {
  for (const char* pattern : {"*.jpg", "b.jpg", "nothing"}) {
    Found found = read(at("d"), pattern, true);
    EXPECT_EQ(found.directories, (Names{".hdir", "linkdir", "sub"}))
        << pattern;
  }
}

TEST_F(PosixDirectory, OpensTheCurrentDirectoryForTheEmptyText) {
  fs::path previous = fs::current_path();
  fs::current_path(root_ / "d");
  Found found = read("", "*.jpg", false);
  auto current = id_of("");
  fs::current_path(previous);
  EXPECT_EQ(found.files.size(), 5u);
  EXPECT_EQ(current, id_of(at("d")));
}

TEST_F(PosixDirectory, IdentityComesFromTheOpenDirectory) {
  auto sub = id_of(at("d/sub"));
  ASSERT_TRUE(sub.has_value());
  EXPECT_EQ(id_of(at("d/linkdir")), sub);
  EXPECT_EQ(id_of(at("d/sub/")), sub);
  EXPECT_NE(id_of(at("d")), sub);
  EXPECT_FALSE(id_of(at("d/b.jpg")).has_value());
  EXPECT_FALSE(id_of(at("d/dangling.jpg")).has_value());
  DirectoryResult d = disk_.open_directory(at("d"));
  ASSERT_TRUE(d);
  DirectoryResult linked = (*d)->open_subdirectory("linkdir");
  ASSERT_TRUE(linked);
  EXPECT_EQ((*linked)->id(), sub);
  EXPECT_EQ((*d)->open_subdirectory("b.jpg").failure(), Failure::none_found);
  // The parent of a directory reached through a link is the target's.
  DirectoryResult up = (*linked)->open_parent();
  ASSERT_TRUE(up);
  EXPECT_EQ((*up)->id(), (*d)->id());
}

// Each directory is opened after the thread's opener was made, and released
// before the next, whose descriptor may then have the same number.
TEST_F(PosixDirectory, AThreadsOwnOpenerOpensInEachDirectoryOpenedSince) {
  TaskThread worker;
  std::unique_ptr<FileOpener> own;
  worker.run([&] { own = disk_.opener_for_this_thread(); });
  FileOpener& files = own ? *own : disk_;
  struct Row {
    const char* directory;
    const char* name;
    bool opens;
  };
  const Row rows[] = {{"d", "b.jpg", true},       {"axb", "out.jpg", true},
                      {"axb", "b.jpg", false},    {"d", "b.jpg", true},
                      {"d/sub", "b.jpg", false},  {"d", "linkfile", true},
                      {"d", "sub", false},        {"a*b", "in.jpg", true}};
  for (const Row& row : rows) {
    DirectoryResult directory = disk_.open_directory(at(row.directory) + "/");
    ASSERT_TRUE(directory) << row.directory;
    bool opened = false;
    worker.run([&] { opened = files.open_file(**directory, row.name).ok(); });
    EXPECT_EQ(opened, row.opens) << row.directory << "/" << row.name;
  }
  worker.run([&] { own.reset(); });
}

// A text longer than the path limit is resolved as the kernel resolves a
// shorter one: links followed, ".." the physical parent, a run of
// separators as one wherever the text is cut, and nothing from the root.
TEST_F(PosixDirectory, TextsOfAnyLengthResolveAsTheKernelWould) {
  std::string down_up;
  while (down_up.size() < 2 * PATH_MAX) down_up += "/sub/..";
  struct Row {
    std::string text;
    std::optional<DirectoryId> expected;
  };
  const Row rows[] = {
      {at("d") + down_up + "/sub/", id_of(at("d/sub"))},
      {at("d") + down_up + "/linkdir/../", id_of(at("d"))},
      {at("d") + down_up + "/linkdir/", id_of(at("d/sub"))},
      {at("d") + down_up + "/nosuch/", std::nullopt},
      {at("d") + "/" + std::string(PATH_MAX, 'x') + "/", std::nullopt},
      {at("d") + std::string(PATH_MAX + 900, '/') + "sub/", id_of(at("d/sub"))},
      {at("d") + std::string(PATH_MAX + 900, '/') + "tmp/", std::nullopt},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(id_of(row.text), row.expected) << row.text.size();
    Result<bool> found = disk_.lookup(row.text);
    EXPECT_EQ(found.ok(), row.expected.has_value()) << row.text.size();
    if (found) {
      EXPECT_TRUE(*found);
    }
  }
  Result<bool> file = disk_.lookup(at("d") + down_up + "/b.jpg");
  ASSERT_TRUE(file);
  EXPECT_FALSE(*file);
}

}  // namespace
}  // namespace ostrel
