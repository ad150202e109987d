// Walks each argument on disk with "*.jpg", recursively, and prints how many
// files the walk visited; for measuring what a walk holds in memory.
#include <cstdio>
#include <string>

#include "walk/walk.h"

int main(int argc, char** argv) {
  using namespace ostrel;
  unsigned long long visited = 0;
  DirectoryCache cache(disk_file_system(), DEFAULT_OPEN_DIRECTORIES,
                       native_path_style().separator());
  for (int i = 1; i < argc; ++i) {
    walk_pattern(
        native_path_style(), cache, argv[i], "*.jpg",
        [&visited](const FoundFile&) { ++visited; }, true);
  }
  std::printf("%llu\n", visited);
  return 0;
}
