// The walk on a real POSIX disk, inside a temporary folder that is the
// current directory while a test runs, so the arguments are relative.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "disk_tree.h"
#include "support/temp_dir.h"
#include "walk/walk.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

class DiskWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = fs::current_path();
    fs::current_path(temp_.path());
  }
  void TearDown() override {
    fs::current_path(previous_);
    EXPECT_TRUE(test::remove_tree(temp_.path().string()));
  }

  static void make_files(std::initializer_list<const char*> files) {
    for (const char* file : files) {
      fs::path parent = fs::path(file).parent_path();
      if (!parent.empty()) fs::create_directories(parent);
      std::ofstream(file).put('x');
    }
  }

  Texts walk(const std::string& argument, bool recursive) {
    Texts visited;
    DirectoryCache cache(disk_file_system(), DEFAULT_OPEN_DIRECTORIES, '/');
    WalkResult result = walk_pattern(
        style_, cache, argument, "*.jpg",
        [&](const FoundFile& file) { visited.push_back(file.path); },
        recursive);
    EXPECT_EQ(result.code, 0) << argument;
    return visited;
  }

  const PathStyle style_ = posix_path_style();
  fs::path previous_;
  test::TempDir temp_;
};

TEST_F(DiskWalk, LinksAreFollowedButEachDirectoryIsWalkedOnce) {
  make_files({"outside.jpg", "other/3.jpg", "d/a.jpg", "d/p/1.jpg",
              "d/r/2.jpg"});
  fs::create_directory_symlink(".", "d/self");
  fs::create_directory_symlink("..", "d/up");
  fs::create_directory_symlink("../r", "d/p/to_r");
  fs::create_directory_symlink("../p", "d/r/to_p");
  fs::create_directory_symlink("../other", "d/sib");
  fs::create_symlink("ring.jpg", "d/ring.jpg");  // a link to itself
  EXPECT_EQ(walk("d", true),
            (Texts{"d/a.jpg", "d/ring.jpg", "d/p/1.jpg", "d/p/to_r/2.jpg",
                   "d/sib/3.jpg", "d/up/outside.jpg"}));
  // Through its own link back, the starting directory is not walked again.
  EXPECT_EQ(walk("d/self/p", true), (Texts{"d/self/p/1.jpg",
                                           "d/self/p/to_r/2.jpg"}));
}

TEST_F(DiskWalk, EntriesOfEveryKind) {
  make_files({"e/X.JPG", "e/y.Jpg", "e/z.jpeg", "e/w.jpg.txt", "e/.hidden.jpg",
              "e/.h/1.jpg", "e/A.jpg", "e/a.jpg", "e/B.jpg", "e/a*b/4.jpg",
              "e/a*b/c?d/6.jpg", "e/axb/5.jpg", "e/a1b", "e/cxd/7.jpg"});
  fs::create_symlink("nowhere", "e/x.jpg");
  struct Row {
    const char* argument;
    bool recursive;
    Texts expected;
  };
  const Texts files = {"e/.hidden.jpg", "e/A.jpg", "e/a.jpg", "e/B.jpg",
                       "e/X.JPG",       "e/x.jpg", "e/y.Jpg"};
  Texts tree = files;
  for (const char* file : {"e/.h/1.jpg", "e/a*b/4.jpg", "e/a*b/c?d/6.jpg",
                           "e/axb/5.jpg", "e/cxd/7.jpg"})
    tree.push_back(file);
  const Row rows[] = {
      {"e", false, files},
      {"e/", false, files},
      {"e", true, tree},
      {"e/*.JPG", false, files},
      {"e/x.jpg", false, {"e/x.jpg"}},  // a dangling link named on its own
      {"e/z.jpeg", false, {"e/z.jpeg"}},
      {"e/Z.jpeg", false, {}},
      // Named on the command line, a wildcard stays a wildcard.
      {"e/a*b", false, {"e/a1b"}},
      // Its own files go unmatched, but the subdirectory below it is
      // walked as the directory it is.
      {"e/a*b/", true, {"e/a*b/c?d/6.jpg"}},
  };
  for (const Row& row : rows)
    EXPECT_EQ(walk(row.argument, row.recursive), row.expected)
        << row.argument;
}

// Far deeper than any path the system takes whole: every level is walked,
// in order, from the top, each file checked as it comes (all the paths
// together would take 100 MB).
TEST_F(DiskWalk, TenThousandLevelsAreAllWalked) {
  constexpr int DEPTH = 10000;
  fs::create_directory("deep");
  ASSERT_TRUE(test::make_chain("deep", DEPTH, "d", "f.jpg"));
  std::string directory = "deep";
  int visited = 0;
  DirectoryCache cache(disk_file_system(), DEFAULT_OPEN_DIRECTORIES, '/');
  WalkResult result = walk_pattern(
      style_, cache, "deep", "*.jpg",
      [&](const FoundFile& file) {
        ASSERT_EQ(file.path, directory + "/f.jpg");
        directory += "/d";
        ++visited;
      },
      true);
  EXPECT_EQ(result.code, 0);
  EXPECT_EQ(visited, DEPTH);
  EXPECT_TRUE(test::remove_tree("deep"));
  EXPECT_FALSE(fs::exists("deep"));
}

}  // namespace
}  // namespace ostrel
