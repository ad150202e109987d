// The walk over a file system in memory with the Windows rules.
#include "walk/walk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "support/memory_fs.h"

namespace ostrel {
namespace {

using test::MemoryFileSystem;
using Texts = std::vector<std::string>;

// Runs walks and keeps what they visited.
struct Recorder {
  const PathStyle style = windows_path_style({});
  Texts visited;

  WalkResult walk(FileSystem& fs, const std::string& argument,
                  bool recursive) {
    DirectoryCache cache(fs, DEFAULT_OPEN_DIRECTORIES, style.separator());
    return walk_pattern(
        style, cache, argument, "*.jpg",
        [&](const FoundFile& file) { visited.push_back(file.path); },
        recursive);
  }
};

// photos holds b.jpg, A.jpg, note.txt and the subdirectories x (1.jpg) and
// W (2.jpg and sub, which holds 3.jpg); the current directory holds
// photos, top.jpg and the empty directory empty.
void add_example_tree(MemoryFileSystem& fs) {
  for (const char* file :
       {"photos\\b.jpg", "photos\\A.jpg", "photos\\note.txt",
        "photos\\x\\1.jpg", "photos\\W\\2.jpg", "photos\\W\\sub\\3.jpg",
        "top.jpg"})
    fs.add_file(file);
  fs.add_directory("empty");
}

const Texts PHOTOS_TREE = {"photos\\A.jpg", "photos\\b.jpg",
                           "photos\\W\\2.jpg", "photos\\W\\sub\\3.jpg",
                           "photos\\x\\1.jpg"};
const Texts PHOTOS_SUBDIRECTORIES = {
    "photos\\W\\2.jpg", "photos\\W\\sub\\3.jpg", "photos\\x\\1.jpg"};

TEST(Walk, VisitsWhatEachArgumentNames) {
  struct Row {
    const char* argument;
    bool recursive;
    Texts expected;
  };
  const Row rows[] = {
      {"photos", false, {"photos\\A.jpg", "photos\\b.jpg"}},
      {"photos", true, PHOTOS_TREE},
      {"PHOTOS/w", false, {"PHOTOS/w\\2.jpg"}},
      {"photos\\", false, {"photos\\A.jpg", "photos\\b.jpg"}},
      {"photos\\", true, PHOTOS_TREE},
      {"photos\\*.jpg", false, {"photos\\A.jpg", "photos\\b.jpg"}},
      {"photos\\*", false,
       {"photos\\A.jpg", "photos\\b.jpg", "photos\\note.txt"}},
      // Every subdirectory is walked, not only those the wildcard matches.
      {"photos\\a*", true,
       {"photos\\A.jpg", "photos\\W\\2.jpg", "photos\\W\\sub\\3.jpg",
        "photos\\x\\1.jpg"}},
      {"photos\\NOTE.TXT", false, {"photos\\note.txt"}},
      {"photos\\note.txt", true,
       {"photos\\note.txt", "photos\\W\\2.jpg", "photos\\W\\sub\\3.jpg",
        "photos\\x\\1.jpg"}},
      {"", false, {"top.jpg"}},
      {"", true,
       {"top.jpg", "photos\\A.jpg", "photos\\b.jpg", "photos\\W\\2.jpg",
        "photos\\W\\sub\\3.jpg", "photos\\x\\1.jpg"}},
      {".", false, {".\\top.jpg"}},
      {"photos\\nosuch", false, {}},
      {"photos\\nosuch", true, PHOTOS_SUBDIRECTORIES},
      {"photos\\*.png", true, PHOTOS_SUBDIRECTORIES},
      {"nosuch", true, PHOTOS_TREE},
      {"nosuch\\*.jpg", true, {}},
      {"empty", true, {}},
  };
  for (const Row& row : rows) {
    MemoryFileSystem fs;
    add_example_tree(fs);
    Recorder recorder;
    EXPECT_EQ(recorder.walk(fs, row.argument, row.recursive).code, 0)
        << row.argument;
    EXPECT_EQ(recorder.visited, row.expected)
        << row.argument << (row.recursive ? " -r" : "");
  }
}

TEST(Walk, ReadsEachDirectoryOnceForItsFilesAndOnceForItsSubdirectories) {
  MemoryFileSystem fs;
  add_example_tree(fs);
  Recorder().walk(fs, "photos", true);
  EXPECT_EQ(fs.searches(),
            (Texts{"photos\\*.jpg", "photos\\*.*", "photos\\W\\*.jpg",
                   "photos\\W\\*.*", "photos\\W\\sub\\*.jpg",
                   "photos\\W\\sub\\*.*", "photos\\x\\*.jpg",
                   "photos\\x\\*.*"}));
}

TEST(Walk, WithoutRecursionListsNoDirectories) {
  MemoryFileSystem fs;
  add_example_tree(fs);
  Recorder().walk(fs, "photos", false);
  EXPECT_EQ(fs.searches(), Texts{"photos\\*.jpg"});
}

TEST(Walk, WalksEachDirectoryOnceThroughCyclesAndAliases) {
  MemoryFileSystem fs;
  add_example_tree(fs);
  fs.add_link("photos\\W\\back", "photos");     // back to the start
  fs.add_link("photos\\W\\sub\\self", "photos\\W\\sub");
  fs.add_link("photos\\V", "photos\\W");        // an alias met first
  fs.add_link("photos\\x\\up", "photos\\W\\sub");  // one met last
  Recorder recorder;
  EXPECT_EQ(recorder.walk(fs, "photos", true).code, 0);
  EXPECT_EQ(recorder.visited,
            (Texts{"photos\\A.jpg", "photos\\b.jpg", "photos\\V\\2.jpg",
                   "photos\\V\\sub\\3.jpg", "photos\\x\\1.jpg"}));
  // A wildcard argument starts in its own directory just the same.
  Recorder wildcard;
  wildcard.walk(fs, "photos\\b*", true);
  EXPECT_EQ(wildcard.visited,
            (Texts{"photos\\b.jpg", "photos\\V\\2.jpg",
                   "photos\\V\\sub\\3.jpg", "photos\\x\\1.jpg"}));
}

TEST(Walk, WalksEveryDirectoryAgainForEachArgument) {
  MemoryFileSystem fs;
  add_example_tree(fs);
  Recorder recorder;
  recorder.walk(fs, "photos", true);
  recorder.walk(fs, "photos", true);
  EXPECT_EQ(recorder.visited.size(), 2 * PHOTOS_TREE.size());
}

TEST(Walk, SubdirectoryNamesWithWildcardsMeanThemselves) {
  MemoryFileSystem fs;
  for (const char* file : {"a*b\\1.jpg", "a*b\\c?d\\3.jpg", "axb\\2.jpg",
                           "cxd\\4.jpg", "a1b"})
    fs.add_file(file);
  Recorder recorder;
  EXPECT_EQ(recorder.walk(fs, ".", true).code, 0);
  EXPECT_EQ(recorder.visited,
            (Texts{".\\a*b\\1.jpg", ".\\a*b\\c?d\\3.jpg", ".\\axb\\2.jpg",
                   ".\\cxd\\4.jpg"}));
}

// Deeper than the path limit of any platform lets a walk go on disk (the
// cost of a level grows with its path, so not deeper still).
TEST(Walk, ThousandsOfLevelsEndCleanly) {
  constexpr int DEPTH = 4000;
  MemoryFileSystem fs;
  std::string path = "d";
  Texts expected;
  for (int level = 1; level <= DEPTH; ++level) {
    if (level % 1000 == 0) expected.push_back(path + "\\f.jpg");
    path += "\\d";
  }
  fs.add_directory(path);
  for (const std::string& file : expected) fs.add_file(file);
  Recorder recorder;
  EXPECT_EQ(recorder.walk(fs, "d", true).code, 0);
  EXPECT_EQ(recorder.visited, expected);
}

// Each listing of the example tree's walk fails in turn: the walk stops
// there and names that listing and the level it belongs to.
TEST(Walk, MemoryErrorAtEachListingStopsTheWalk) {
  struct Row {
    int failing_search;
    Listing listing;
    std::optional<std::string> subdirectory;  // none: the argument's own
    std::size_t visited;
  };
  const Row rows[] = {
      {1, Listing::files, std::nullopt, 0},
      {2, Listing::directories, std::nullopt, 2},
      {3, Listing::files, "photos\\W", 2},
      {4, Listing::directories, "photos\\W", 3},
      {5, Listing::files, "photos\\W\\sub", 3},
      {6, Listing::directories, "photos\\W\\sub", 4},
      {7, Listing::files, "photos\\x", 4},
      {8, Listing::directories, "photos\\x", 5},
  };
  for (const Row& row : rows) {
    MemoryFileSystem fs;
    add_example_tree(fs);
    fs.fail_search(row.failing_search);
    Recorder recorder;
    WalkResult result = recorder.walk(fs, "photos", true);
    EXPECT_EQ(result.code, WALK_NO_MEMORY);
    EXPECT_EQ(result.listing, row.listing);
    EXPECT_EQ(result.subdirectory, row.subdirectory);
    EXPECT_EQ(recorder.visited,
              Texts(PHOTOS_TREE.begin(), PHOTOS_TREE.begin() + row.visited));
    EXPECT_EQ(fs.searches().size(),
              static_cast<std::size_t>(row.failing_search));
  }
}

// Every call to the file system in turn runs out of memory, wherever the
// walk makes it: pattern building, identities, listings. Each failure ends
// the walk with a memory error, never with an exception.
TEST(Walk, MemoryErrorAnywhereEndsTheWalkWithOneLine) {
  for (const char* argument : {"photos", "photos\\a*", "nosuch"}) {
    MemoryFileSystem clean;
    add_example_tree(clean);
    Recorder full;
    full.walk(clean, argument, true);
    for (int call = 1; call <= clean.calls(); ++call) {
      MemoryFileSystem fs;
      add_example_tree(fs);
      fs.fail_call(call);
      Recorder recorder;
      EXPECT_EQ(recorder.walk(fs, argument, true).code, WALK_NO_MEMORY)
          << argument << " " << call;
      ASSERT_LE(recorder.visited.size(), full.visited.size());
      EXPECT_TRUE(std::equal(recorder.visited.begin(), recorder.visited.end(),
                             full.visited.begin()));
    }
  }
}

}  // namespace
}  // namespace ostrel
