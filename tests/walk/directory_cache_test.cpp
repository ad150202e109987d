// The walk through the directory cache when handles are few, texts are long
// and the tree changes: in memory, under POSIX rules, each file opened where
// the walk meets it, as the prober does without threads.
#include "walk/directory_cache.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/memory_fs.h"
#include "walk/walk.h"

namespace ostrel {
namespace {

using test::Call;
using test::MemoryFileSystem;
using test::PathRules;
using Texts = std::vector<std::string>;

// Each file the walk meets, with ";can't open file" where it did not open.
Texts walk_and_open(MemoryFileSystem& fs, const std::string& argument,
                    std::size_t most_open) {
  Texts lines;
  DirectoryCache cache(fs, most_open, '/');
  walk_pattern(
      posix_path_style(), cache, argument, "*.jpg",
      [&](const FoundFile& file) {
        bool opened = cache.open_file(file.directory, file.name, file.path).ok();
        lines.push_back(file.path + (opened ? "" : ";can't open file"));
      },
      true);
  return lines;
}

// `depth` nested directories "d" below "t", each holding x.jpg and a leaf
// "z" holding a.jpg; with `leaves` false, the chain alone.
void add_ladder(MemoryFileSystem& fs, int depth, bool leaves = true) {
  std::string level = "t";
  for (int i = 0; i < depth; ++i, level += "/d") {
    fs.add_file(level + "/x.jpg");
    if (leaves) fs.add_file(level + "/z/a.jpg");
  }
}

// `count` directories below "t" of one file each.
void add_wide(MemoryFileSystem& fs, int count) {
  for (int i = 0; i < count; ++i)
    fs.add_file("t/w" + std::to_string(i) + "/a.jpg");
}

// Nothing is lost wherever a directory and a file can be open at once (two
// handles), nor with one handle where every text is taken whole.
TEST(DirectoryCache, FewHandlesLoseNothing) {
  struct Row {
    const char* tree;
    std::function<void(MemoryFileSystem&)> add;
    int handles;
    std::size_t longest_text;
  };
  auto chain = [](MemoryFileSystem& fs) { add_ladder(fs, 120, false); };
  auto ladder = [](MemoryFileSystem& fs) { add_ladder(fs, 60); };
  auto wide = [](MemoryFileSystem& fs) { add_wide(fs, 150); };
  const Row rows[] = {
      {"chain", chain, 1, SIZE_MAX},  {"chain", chain, 2, 40},
      {"chain", chain, 3, SIZE_MAX},  {"ladder", ladder, 1, SIZE_MAX},
      {"ladder", ladder, 2, 40},      {"ladder", ladder, 4, 40},
      {"wide", wide, 1, SIZE_MAX},    {"wide", wide, 2, SIZE_MAX},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.tree) + ", " + std::to_string(row.handles) +
                 " handles");
    MemoryFileSystem plenty(PathRules::posix);
    row.add(plenty);
    Texts expected = walk_and_open(plenty, "t", DEFAULT_OPEN_DIRECTORIES);
    MemoryFileSystem few(PathRules::posix);
    row.add(few);
    few.set_handle_limit(row.handles);
    few.set_longest_whole_text(row.longest_text);
    EXPECT_EQ(walk_and_open(few, "t", row.handles - 1u), expected);
  }
}

// Every directory opens a bounded number of times, however deep the tree,
// and only the start by its text: a closed level is found again through
// ".." of the one below it, not from the top.
TEST(DirectoryCache, OpensGrowWithTheTreeNotWithItsDepthSquared) {
  for (int depth : {100, 400}) {
    MemoryFileSystem fs(PathRules::posix);
    add_ladder(fs, depth);
    fs.set_handle_limit(4);
    int by_text = 0;
    int relative = 0;
    fs.watch([&](Call call, const std::string&) {
      by_text += call == Call::open_directory;
      relative += call == Call::open_subdirectory;
    });
    EXPECT_EQ(walk_and_open(fs, "t", 3).size(), 2u * depth);
    EXPECT_EQ(by_text, 1) << depth;
    // Each level and its leaf once on the way down, each level once more on
    // the way back up.
    EXPECT_LE(relative, 3 * depth) << depth;
  }
}

// An ancestor renamed while the walk is deep below it, with its levels
// closed: each is found again by its identity, through "..".
TEST(DirectoryCache, RenamedAncestorLosesNothing) {
  for (int handles : {3, 8, 64}) {
    MemoryFileSystem plenty(PathRules::posix);
    add_ladder(plenty, 80);
    Texts expected = walk_and_open(plenty, "t", DEFAULT_OPEN_DIRECTORIES);

    MemoryFileSystem fs(PathRules::posix);
    add_ladder(fs, 80);
    fs.set_handle_limit(handles);
    std::string deep = "t";
    for (int i = 0; i < 79; ++i) deep += "/d";
    fs.change_after_search(deep + "/*.jpg", [&fs] { fs.rename("t/d", "t/e"); });
    EXPECT_EQ(walk_and_open(fs, "t", handles - 1u), expected) << handles;
  }
}

// A text past the longest taken whole, with a run of separators where it
// is cut, resolves as it would whole: never from the root.
TEST(DirectoryCache, LongTextsResolveAsTheyWouldWhole) {
  MemoryFileSystem fs(PathRules::posix);
  fs.add_file("sl/x.jpg");
  fs.add_file("sl/sub/y.jpg");
  fs.add_file("tmp/camera.jpg");
  fs.set_longest_whole_text(24);
  const std::string run(60, '/');
  EXPECT_EQ(walk_and_open(fs, "sl" + run + "x.jpg", 8),
            (Texts{"sl" + run + "x.jpg", "sl" + run + "sub/y.jpg"}));
  EXPECT_EQ(walk_and_open(fs, "sl" + run + "sub/", 8),
            (Texts{"sl" + run + "sub/y.jpg"}));
  EXPECT_EQ(walk_and_open(fs, "sl" + run + "tmp/camera.jpg", 8), Texts{});
}

}  // namespace
}  // namespace ostrel
