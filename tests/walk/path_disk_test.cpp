// Classification against the real file system, inside a temporary folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "walk/path.h"

namespace ostrel {
namespace {

class PathOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    // Stat answers here; the Windows lookup has tests of its own.
    if (native_path_style().windows) GTEST_SKIP() << "POSIX file system only";
    std::filesystem::create_directory(dir_ / "photos");
    std::ofstream(dir_ / "a.jpg") << "x";
    // A file bearing a pattern's literal name must not classify the pattern.
    std::ofstream(dir_ / "photos" / "*.jpg") << "x";
    std::filesystem::create_directory_symlink(dir_ / "photos", dir_ / "link");
  }

  test::TempDir dir_;
  const std::string root_ = dir_.path().string();
};

TEST_F(PathOnDisk, PosixLookup) {
  struct Row {
    std::string name;
    int classification;
  };
  const std::vector<Row> rows = {
      {"", 1},           {"/photos", 1},   {"/photos/", 1},
      {"/photos//", 1},  {"/photos/.", 1}, {"/photos/..", 1},
      {"/link", 1},      {"/link/", 1},    {"/a.jpg", 0},
      {"/a.jpg/", -1},   {"/nosuch", -1},  {"/nosuch/", -1},
      {"/photos/*.jpg", -1},
  };
  const PathStyle& style = native_path_style();
  FileSystem& fs = disk_file_system();
  for (const Row& row : rows)
    EXPECT_EQ(classify_path(style, fs, root_ + row.name), row.classification)
        << row.name;
  EXPECT_EQ(make_search_pattern(style, fs, root_ + "/photos/", "*.jpg"),
            root_ + "/photos/*.jpg");
}

TEST_F(PathOnDisk, LongTextIsAskedWhole) {
  // Deeper than 260 bytes: still the one directory it names.
  std::string deep = root_;
  for (int i = 0; i < 6; ++i) {
    deep += "/" + std::string(60, 'd');
    std::filesystem::create_directory(deep);
  }
  ASSERT_GT(deep.size(), 300u);
  FileSystem& fs = disk_file_system();
  EXPECT_EQ(classify_path(native_path_style(), fs, deep + "/"), 1);
  EXPECT_EQ(classify_path(native_path_style(), fs, deep + "x"), -1);
}

}  // namespace
}  // namespace ostrel
