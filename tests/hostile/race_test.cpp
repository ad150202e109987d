// Trees that change while they are walked: the in-memory file system with
// POSIX handles, changed right after one chosen read of a directory.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "cli/prober.h"
#include "cli/report.h"
#include "support/jpeg_writer.h"
#include "support/memory_fs.h"

namespace ostrel {
namespace {

using test::MemoryFileSystem;
using test::PathRules;

test::Bytes small_jpeg() {
  test::JpegWriterOptions options;
  options.width = 64;
  options.height = 48;
  options.entropy_size = 16;
  return test::make_jpeg(options).bytes;
}

// What the program prints for a recursive walk of `argument`.
std::string walk_and_report(FileSystem& fs, const std::string& argument) {
  std::string out;
  DirectoryCache cache(fs, DEFAULT_OPEN_DIRECTORIES, '/');
  Latency latency;
  Prober prober(cache, latency, {4, 8, 4, 8});
  RunOptions options;
  options.recursive = true;
  run_argument(ArgumentRun{posix_path_style(), cache, prober,
                           [&out](std::string_view line) { out += line; },
                           options},
               argument);
  return out;
}

TEST(Races, TreeChangedBetweenListingAndUse) {
  struct Row {
    const char* name;
    const char* trigger;  // the read after which the tree changes
    std::function<void(MemoryFileSystem&)> change;
    const char* expected;
  };
  const Row rows[] = {
      {"file removed before its probe", "t/*.jpg",
       [](MemoryFileSystem& fs) { fs.remove("t/b.jpg"); },
       "t/a.jpg 64 48\nt/b.jpg;can't open file\nt/c.jpg 64 48\n"
       "t/x/1.jpg 64 48\nt/y/2.jpg 64 48\nt/z/3.jpg 64 48\n"},
      {"file emptied before its probe", "t/*.jpg",
       [](MemoryFileSystem& fs) { fs.replace_bytes("t/b.jpg", {}); },
       "t/a.jpg 64 48\nt/b.jpg:can't find marker\nt/c.jpg 64 48\n"
       "t/x/1.jpg 64 48\nt/y/2.jpg 64 48\nt/z/3.jpg 64 48\n"},
      {"file replaced by a FIFO before its probe", "t/*.jpg",
       [](MemoryFileSystem& fs) {
         fs.remove("t/b.jpg");
         fs.add_unreadable_file("t/b.jpg");
       },
       "t/a.jpg 64 48\nt/b.jpg;can't open file\nt/c.jpg 64 48\n"
       "t/x/1.jpg 64 48\nt/y/2.jpg 64 48\nt/z/3.jpg 64 48\n"},
      {"directory removed while its parent is walked", "t/*.jpg",
       [](MemoryFileSystem& fs) { fs.remove("t/y"); },
       "t/a.jpg 64 48\nt/b.jpg 64 48\nt/c.jpg 64 48\n"
       "t/x/1.jpg 64 48\nt/z/3.jpg 64 48\n"},
      {"directory replaced by a file while its parent is walked", "t/*.jpg",
       [](MemoryFileSystem& fs) {
         fs.remove("t/y");
         fs.add_file("t/y", small_jpeg());
       },
       "t/a.jpg 64 48\nt/b.jpg 64 48\nt/c.jpg 64 48\n"
       "t/x/1.jpg 64 48\nt/z/3.jpg 64 48\n"},
      {"directory replaced by a link to its parent", "t/*.jpg",
       [](MemoryFileSystem& fs) {
         fs.remove("t/y");
         fs.add_link("t/y", "t");
       },
       "t/a.jpg 64 48\nt/b.jpg 64 48\nt/c.jpg 64 48\n"
       "t/x/1.jpg 64 48\nt/z/3.jpg 64 48\n"},
      {"directory removed after its files were listed", "t/y/*.jpg",
       [](MemoryFileSystem& fs) { fs.remove("t/y"); },
       "t/a.jpg 64 48\nt/b.jpg 64 48\nt/c.jpg 64 48\n"
       "t/x/1.jpg 64 48\nt/y/2.jpg;can't open file\nt/z/3.jpg 64 48\n"},
      // Its files are opened through the directory itself, and printed
      // under the text the walk built for it.
      {"directory renamed after it was read", "t/y/*.jpg",
       [](MemoryFileSystem& fs) { fs.rename("t/y", "t/moved"); },
       "t/a.jpg 64 48\nt/b.jpg 64 48\nt/c.jpg 64 48\n"
       "t/x/1.jpg 64 48\nt/y/2.jpg 64 48\nt/z/3.jpg 64 48\n"},
      {"the argument's directory renamed while it is walked", "t/x/*.jpg",
       [](MemoryFileSystem& fs) { fs.rename("t", "u"); },
       "t/a.jpg 64 48\nt/b.jpg 64 48\nt/c.jpg 64 48\n"
       "t/x/1.jpg 64 48\nt/y/2.jpg 64 48\nt/z/3.jpg 64 48\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    MemoryFileSystem fs(PathRules::posix);
    for (const char* file : {"t/a.jpg", "t/b.jpg", "t/c.jpg", "t/x/1.jpg",
                             "t/y/2.jpg", "t/z/3.jpg"})
      fs.add_file(file, small_jpeg());
    fs.change_after_search(row.trigger, [&] { row.change(fs); });
    EXPECT_EQ(walk_and_report(fs, "t"), row.expected);
  }
}

}  // namespace
}  // namespace ostrel
