// The status query and the classification against the real Windows file
// system: drive-letter paths inside the test's folder, both separators,
// trailing separators and the drive-root rescue.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/platform.h"
#include "scratch_folder_win32.h"
#include "walk/path.h"

namespace ostrel {
namespace {

// A drive letter with no root behind it, or none when every one is in use.
std::string unused_drive_root() {
  DWORD drives = ::GetLogicalDrives();
  for (char letter = 'Y'; letter >= 'D'; --letter)
    if (!(drives & (1u << (letter - 'A')))) return std::string(1, letter) + ":\\";
  return "";
}

TEST(PathStatusWin32, ClassifiesDrivePathsAndSeparators) {
  test::ScratchFolder folder;
  folder.make_folder("photos\\sub");
  folder.write("photos\\a.jpg", "a");
  const std::string full = folder.text();  // e.g. Z:\...\tmp\ostrel-1-0
  const std::string drive = full.substr(0, 2);
  std::string forward = full;
  for (char& c : forward)
    if (c == '\\') c = '/';
  const struct {
    std::string text;
    int classification;
  } cases[] = {
      {"photos", 1},
      {"PHOTOS", 1},
      {"photos\\sub", 1},
      {"photos/sub", 1},
      {"photos\\a.jpg", 0},
      {"photos\\A.JPG", 0},
      {full + "\\photos", 1},
      {forward + "/photos/a.jpg", 0},
      {full + "\\photos\\a.jpg", 0},
      // A trailing separator: the directory without it decides.
      {"photos\\", 1},
      {"photos/", 1},
      {"photos\\sub\\\\", 1},
      {full + "\\photos\\", 1},
      {"photos\\a.jpg\\", -1},
      {"photos\\a.jpg/", -1},
      {"missing\\", -1},
      {full + "\\photos\\*.jpg", -1},
      {"photos\\?.jpg", -1},
      {"missing", -1},
      // Drive roots, without a lookup or by the rescue.
      {drive + "\\", 1},
      {drive + "/", 1},
      {drive, 1},
      {".", 1},
      {"..", 1},
  };
  const PathStyle& style = native_path_style();
  for (const auto& c : cases)
    EXPECT_EQ(classify_path(style, disk_file_system(), c.text),
              c.classification)
        << c.text;
}

TEST(PathStatusWin32, RootRescueNeedsADriveThatExists) {
  const PathStyle& style = native_path_style();
  FileSystem& fs = disk_file_system();
  char current[MAX_PATH];
  ASSERT_GT(::GetCurrentDirectoryA(MAX_PATH, current), 2u);
  PathStatus root = query_path_status(style, fs, std::string(current, 2) + "/");
  EXPECT_TRUE(root.found);
  EXPECT_TRUE(root.is_directory);
  std::string missing = unused_drive_root();
  if (missing.empty()) GTEST_SKIP() << "every drive letter is in use";
  EXPECT_FALSE(query_path_status(style, fs, missing).found);
  missing.back() = '/';
  EXPECT_FALSE(query_path_status(style, fs, missing).found);
}

}  // namespace
}  // namespace ostrel
