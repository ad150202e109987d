// The directory search and the directory identities on a real POSIX disk.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "support/temp_dir.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using Found = std::vector<std::pair<std::string, bool>>;

class PosixSearch : public ::testing::Test {
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

  // What a search reports, sorted since the search's own order is the
  // directory's.
  Found search(const std::string& text, bool* result = nullptr) {
    Found found;
    bool any = disk_file_system().search(text, [&](const DirectoryEntry& e) {
      found.emplace_back(std::string(e.name), e.is_directory);
      return true;
    });
    if (result) *result = any;
    std::sort(found.begin(), found.end());
    return found;
  }

  test::TempDir root_dir_;
  const fs::path& root_ = root_dir_.path();
};

TEST_F(PosixSearch, ReportsMatchingEntriesWithTheirKind) {
  struct Row {
    const char* text;
    Found expected;
  };
  const Row rows[] = {
      {"d/*.jpg",
       {{".h.jpg", false}, {"A.JPG", false}, {"[ab].jpg", false},
        {"b.jpg", false}, {"dangling.jpg", false}}},
      {"d/*.*",
       {{".h.jpg", false}, {".hdir", true}, {"A.JPG", false},
        {"[ab].jpg", false}, {"b.jpg", false}, {"back\\slash", false},
        {"c.jpeg", false}, {"dangling.jpg", false}, {"linkdir", true},
        {"linkfile", false}, {"noext", false}, {"sub", true},
        {"x.jpg.txt", false}}},
      {"d/?.jpg", {{"A.JPG", false}, {"b.jpg", false}}},
      {"d/L*", {{"linkdir", true}, {"linkfile", false}}},
      // No wildcard: the one entry of exactly that name, looked up.
      {"d/[ab].jpg", {{"[ab].jpg", false}}},
      {"d/back\\slash", {{"back\\slash", false}}},
      {"d/dangling.jpg", {{"dangling.jpg", false}}},
      {"d/linkdir", {{"linkdir", true}}},
      {"d/sub", {{"sub", true}}},
      {"d/B.jpg", {}},
      // The directory part is opened as it is written, never matched.
      {"a*b/*", {{"in.jpg", false}}},
      {"d/*.png", {}},
      {"d/.", {}},
      {"d/..", {}},
      {"d/", {}},
      {"missing/*", {}},
  };
  for (const Row& row : rows) {
    bool result = false;
    EXPECT_EQ(search(at(row.text), &result), row.expected) << row.text;
    EXPECT_EQ(result, !row.expected.empty()) << row.text;
  }
}

TEST_F(PosixSearch, WithoutADirectoryPartSearchesTheCurrentDirectory) {
  fs::path previous = fs::current_path();
  fs::current_path(root_ / "d");
  Found found = search("*.jpg");
  fs::current_path(previous);
  EXPECT_EQ(found.size(), 5u);
}

TEST_F(PosixSearch, StopsWhenAskedTo) {
  int seen = 0;
  disk_file_system().search(at("d/*"), [&](const DirectoryEntry&) {
    ++seen;
    return false;
  });
  EXPECT_EQ(seen, 1);
}

TEST_F(PosixSearch, DirectoryIdentityFollowsLinks) {
  FileSystem& disk = disk_file_system();
  auto sub = disk.directory_id(at("d/sub"));
  ASSERT_TRUE(sub.has_value());
  EXPECT_EQ(disk.directory_id(at("d/linkdir")), sub);
  EXPECT_EQ(disk.directory_id(at("d/sub/")), sub);
  EXPECT_NE(disk.directory_id(at("d")), sub);
  EXPECT_FALSE(disk.directory_id(at("d/b.jpg")).has_value());
  EXPECT_FALSE(disk.directory_id(at("d/dangling.jpg")).has_value());

  fs::path previous = fs::current_path();
  fs::current_path(root_ / "d/sub");
  auto current = disk.directory_id("");
  fs::current_path(previous);
  EXPECT_EQ(current, sub);
}

}  // namespace
}  // namespace ostrel
