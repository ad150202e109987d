// Trees that change while they are walked: the real disk, with a hook that
// changes the tree right after one chosen listing has read its directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "cli/probe_pool.h"
#include "cli/report.h"
#include "support/file_system_hooks.h"
#include "support/jpeg_writer.h"
#include "support/temp_dir.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

void write_jpeg(const fs::path& path) {
  test::JpegWriterOptions options;
  options.width = 64;
  options.height = 48;
  options.entropy_size = 16;
  test::write_file(path, test::make_jpeg(options).bytes);
}

// What the program prints for a recursive walk of `argument`.
std::string walk_and_report(FileSystem& fs, const std::string& argument) {
  std::string out;
  ProbePool pool(fs);
  RunOptions options;
  options.recursive = 1;
  run_argument(
      ArgumentRun{native_path_style(), fs, pool,
                  [&out](std::string_view line) { out += line; }, options},
      argument);
  return out;
}

TEST(Races, TreeChangedBetweenListingAndUse) {
  struct Row {
    const char* name;
    const char* trigger;  // the read after which the tree changes
    std::function<void(const fs::path&)> change;
    const char* expected;  // `@` stands for the tree's path
  };
  const Row rows[] = {
      {"file removed before its probe", "@/*.jpg",
       [](const fs::path& p) { fs::remove(p / "b.jpg"); },
       "@/a.jpg 64 48\n@/b.jpg;can't open file\n@/c.jpg 64 48\n"
       "@/x/1.jpg 64 48\n@/y/2.jpg 64 48\n@/z/3.jpg 64 48\n"},
      {"file emptied before its probe", "@/*.jpg",
       [](const fs::path& p) { fs::resize_file(p / "b.jpg", 0); },
       "@/a.jpg 64 48\n@/b.jpg:can't find marker\n@/c.jpg 64 48\n"
       "@/x/1.jpg 64 48\n@/y/2.jpg 64 48\n@/z/3.jpg 64 48\n"},
      {"file replaced by a FIFO before its probe", "@/*.jpg",
       [](const fs::path& p) {
         fs::remove(p / "b.jpg");
         ASSERT_EQ(::mkfifo((p / "b.jpg").c_str(), 0644), 0);
       },
       "@/a.jpg 64 48\n@/b.jpg;can't open file\n@/c.jpg 64 48\n"
       "@/x/1.jpg 64 48\n@/y/2.jpg 64 48\n@/z/3.jpg 64 48\n"},
      {"directory removed while its parent is walked", "@/*.jpg",
       [](const fs::path& p) { fs::remove_all(p / "y"); },
       "@/a.jpg 64 48\n@/b.jpg 64 48\n@/c.jpg 64 48\n"
       "@/x/1.jpg 64 48\n@/z/3.jpg 64 48\n"},
      {"directory replaced by a file while its parent is walked", "@/*.jpg",
       [](const fs::path& p) {
         fs::remove_all(p / "y");
         write_jpeg(p / "y");
       },
       "@/a.jpg 64 48\n@/b.jpg 64 48\n@/c.jpg 64 48\n"
       "@/x/1.jpg 64 48\n@/z/3.jpg 64 48\n"},
      {"directory replaced by a link to its parent", "@/*.jpg",
       [](const fs::path& p) {
         fs::remove_all(p / "y");
         fs::create_directory_symlink(".", p / "y");
       },
       "@/a.jpg 64 48\n@/b.jpg 64 48\n@/c.jpg 64 48\n"
       "@/x/1.jpg 64 48\n@/z/3.jpg 64 48\n"},
      {"directory removed after its files were listed", "@/y/*.jpg",
       [](const fs::path& p) { fs::remove_all(p / "y"); },
       "@/a.jpg 64 48\n@/b.jpg 64 48\n@/c.jpg 64 48\n"
       "@/x/1.jpg 64 48\n@/y/2.jpg;can't open file\n@/z/3.jpg 64 48\n"},
      // Its files are opened through the directory itself, and printed
      // under the text the walk built for it.
      {"directory renamed after it was read", "@/y/*.jpg",
       [](const fs::path& p) { fs::rename(p / "y", p / "moved"); },
       "@/a.jpg 64 48\n@/b.jpg 64 48\n@/c.jpg 64 48\n"
       "@/x/1.jpg 64 48\n@/y/2.jpg 64 48\n@/z/3.jpg 64 48\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir temp;
    const fs::path tree = temp / "tree";
    for (const char* dir : {"x", "y", "z"}) fs::create_directories(tree / dir);
    for (const char* file : {"a.jpg", "b.jpg", "c.jpg", "x/1.jpg", "y/2.jpg",
                             "z/3.jpg"})
      write_jpeg(tree / file);
    auto expand = [&tree](std::string text) {
      for (std::size_t at; (at = text.find('@')) != std::string::npos;)
        text.replace(at, 1, tree.string());
      return text;
    };
    test::HookedDisk changing;
    changing.change_after_search(expand(row.trigger),
                                 [&] { row.change(tree); });
    EXPECT_EQ(walk_and_report(changing, tree.string()), expand(row.expected));
  }
}

}  // namespace
}  // namespace ostrel
