// Every allocation of a recursive walk over a tree on disk fails in turn.
// Each failure must end the walk with the memory-error line of the level
// whose listing it hit, after exactly the files that come before that
// listing, and must leave nothing allocated behind (LeakSanitizer checks the
// same in the sanitizer build).
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "cli/report.h"
#include "jpeg/probe.h"
#include "support/jpeg_writer.h"
#include "support/temp_dir.h"
#include "walk/disk_tree.h"
#include "walk/walk.h"

namespace {

// Allocations counted since the counter was armed; the one numbered
// `fail_at` throws. Single-threaded: the walk runs on the test's thread.
bool counting = false;
long allocations = 0;
long fail_at = 0;
long live = 0;
// Bytes held, and the most held since `peak_bytes` was last set to them.
std::size_t live_bytes = 0;
std::size_t peak_bytes = 0;

void* allocate(std::size_t size) {
  if (counting && ++allocations == fail_at) throw std::bad_alloc();
  void* block = std::malloc(size ? size : 1);
  if (!block) throw std::bad_alloc();
  ++live;
  live_bytes += malloc_usable_size(block);
  peak_bytes = std::max(peak_bytes, live_bytes);
  return block;
}

void release(void* block) noexcept {
  if (!block) return;
  --live;
  live_bytes -= malloc_usable_size(block);
  std::free(block);
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* block) noexcept { release(block); }
void operator delete[](void* block) noexcept { release(block); }
void operator delete(void* block, std::size_t) noexcept { release(block); }
void operator delete[](void* block, std::size_t) noexcept { release(block); }

namespace ostrel {
namespace {

namespace fs = std::filesystem;

struct WalkRun {
  int result = 0;
  int visited = 0;
  std::string printed;
  long allocations = 0;
  long leaked = 0;
};

// Walks with allocation `fail` failing (0: none) and prints the walk's
// memory-error line, if any. The visitor allocates nothing while the counter
// runs, nor does the printer with the room it is given.
WalkRun walk_failing_at(const std::string& argument, long fail) {
  WalkRun run;
  run.printed.reserve(4096);
  FileVisitor visitor = [&run](const FoundFile&) { ++run.visited; };
  LinePrinter print = [&run](std::string_view line) { run.printed += line; };
  long live_before = live;
  {
    allocations = 0;
    fail_at = fail;
    counting = true;
    DirectoryCache cache(disk_file_system(), DEFAULT_OPEN_DIRECTORIES, '/');
    const WalkResult result =
        walk_pattern(native_path_style(), cache, argument, "*.jpg", visitor,
                     true);
    counting = false;
    run.allocations = allocations;
    run.result = result.code;
    if (result.code == WALK_NO_MEMORY)
      print_memory_error(result.listing,
                         result.subdirectory ? *result.subdirectory : argument,
                         print);
  }
  run.leaked = live - live_before;
  return run;
}

TEST(AllocationFailure, EachAllocationOfAWalkInTurn) {
  test::TempDir temp;
  const fs::path tree = temp / "photos";
  for (const char* dir : {"W/sub", "x"}) fs::create_directories(tree / dir);
  for (const char* file : {"A.jpg", "b.jpg", "W/2.jpg", "W/sub/3.jpg", "x/1.jpg"})
    std::ofstream(tree / file).put('x');
  const std::string p = tree.string();

  // Each listing's memory-error line, with the number of files visited
  // before that listing.
  const std::map<std::string, int> stops = {
      {"memory error for wildcard \"" + p + "\"\n", 0},
      {"memory error for wildcard (dir) \"" + p + "\"\n", 2},
      {"memory error for wildcard \"" + p + "/W\"\n", 2},
      {"memory error for wildcard (dir) \"" + p + "/W\"\n", 3},
      {"memory error for wildcard \"" + p + "/W/sub\"\n", 3},
      {"memory error for wildcard (dir) \"" + p + "/W/sub\"\n", 4},
      {"memory error for wildcard \"" + p + "/x\"\n", 4},
      {"memory error for wildcard (dir) \"" + p + "/x\"\n", 5},
  };

  WalkRun clean = walk_failing_at(p, 0);
  ASSERT_EQ(clean.result, 0);
  ASSERT_EQ(clean.visited, 5);
  ASSERT_EQ(clean.printed, "");
  ASSERT_EQ(clean.leaked, 0);
  std::map<std::string, int> lines_met;
  for (long fail = 1; fail <= clean.allocations; ++fail) {
    SCOPED_TRACE("allocation " + std::to_string(fail));
    WalkRun run = walk_failing_at(p, fail);
    EXPECT_EQ(run.result, WALK_NO_MEMORY);
    auto stop = stops.find(run.printed);
    ASSERT_NE(stop, stops.end()) << run.printed;
    EXPECT_EQ(run.visited, stop->second) << run.printed;
    EXPECT_EQ(run.leaked, 0);
    ++lines_met[run.printed];
  }
  // Every line was met but the subdirectories line of W/sub and x: storing
  // no subdirectory needs no memory.
  EXPECT_EQ(lines_met.size(), stops.size() - 2);
  EXPECT_FALSE(lines_met.count("memory error for wildcard (dir) \"" + p +
                               "/x\"\n"));
}

// A tree whose every level holds a file and a subdirectory of a 255-byte
// name: a run holds the path once and a name per level, never a path per
// level or per file in flight.
TEST(AllocationPeak, DeepTreeOfLongNamesHoldsMemoryLinearInItsDepth) {
  constexpr int DEPTH = 400;
  const std::string name(255, 'n');
  test::TempDir temp;
  const std::string top = (temp / "top").string();
  fs::create_directory(top);
  ASSERT_TRUE(test::make_chain(top, DEPTH, name, "a.jpg"));
  const std::size_t deepest = top.size() + DEPTH * (name.size() + 1);
  int lines = 0;
  LinePrinter print = [&lines](std::string_view line) {
    lines += line.back() == '\n';
  };
  RunOptions options;
  options.recursive = true;
  std::size_t before = live_bytes;
  peak_bytes = live_bytes;
  {
    DirectoryCache cache(disk_file_system(), DEFAULT_OPEN_DIRECTORIES, '/');
    Latency latency;
    Prober prober(cache, latency, {0, 64, 0, 64});
    run_argument(
        ArgumentRun{native_path_style(), cache, prober, print, options}, top);
  }
  EXPECT_EQ(lines, DEPTH);
  EXPECT_LT(peak_bytes - before, 8 * deepest + (256 << 10));
  EXPECT_TRUE(test::remove_tree(top));
}

TEST(AllocationFailure, ProbeThatRunsOutOfMemoryCannotOpenTheFile) {
  test::TempDir temp;
  const std::string path = (temp / "a.jpg").string();
  test::write_file(path, test::make_jpeg({}).bytes);
  DirectoryResult directory =
      disk_file_system().open_directory(temp.path().string() + "/");
  ASSERT_TRUE(directory);
  for (long fail = 1;; ++fail) {
    allocations = 0;
    fail_at = fail;
    counting = true;
    ProbeResult result =
        probe_jpeg([&] { return (*directory)->open_file("a.jpg"); });
    counting = false;
    if (allocations < fail) {
      EXPECT_EQ(result.status, ProbeStatus::ok);
      break;
    }
    EXPECT_EQ(result.status, ProbeStatus::cannot_open) << fail;
  }
}

}  // namespace
}  // namespace ostrel
