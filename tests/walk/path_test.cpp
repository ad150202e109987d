// Classification, status query and patterns of path texts, in both styles,
// against an in-memory file system.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/memory_fs.h"
#include "support/path_patterns.h"
#include "walk/path.h"

namespace ostrel {
namespace {

using test::make_listing_pattern;
using test::make_subdir_pattern;
using test::MemoryFileSystem;
using test::PathRules;
using DriveType = SearchByText::DriveType;

const std::string LONG_SHARE = "\\\\server\\" + std::string(300, 's') + "\\";

// The current directory holds photos (with a file named `*.jpg`), a.jpg and
// sub (with a.jpg); drive D and the share \\server\share exist, drive E and
// the share \\server\gone do not.
void windows_disk(MemoryFileSystem& fs) {
  for (const char* directory : {"photos", "sub", "\x95"})
    fs.add_directory(directory);
  for (const char* file : {"a.jpg", "sub\\a.jpg", "photos\\*.jpg", "\x95?"})
    fs.add_file(file);
  // Roots that the lookup finds without their directory attribute.
  fs.set_lookup("C:/", false);
  fs.set_lookup("/", false);
  const std::pair<const char*, std::string> full_paths[] = {
      {"D:/", "D:\\"},
      {"D:\\", "D:\\"},
      {"D:\\\\", "D:\\"},
      {"E:/", "E:\\"},
      {"a.jpg\\", "C:\\work\\a.jpg\\"},
      {"\\\\server\\share\\", "\\\\server\\share\\"},
      {"\\\\server\\share", "\\\\server\\share"},
      {"\\\\server\\gone\\", "\\\\server\\gone\\"},
      {LONG_SHARE.c_str(), LONG_SHARE}};
  for (const auto& [text, full] : full_paths) fs.set_full_path(text, full);
  const std::pair<std::string, DriveType> drive_types[] = {
      {"C:\\work\\a.jpg\\", DriveType::exists},
      {"D:\\", DriveType::exists},
      {"E:\\", DriveType::no_root},
      {"\\\\server\\share\\", DriveType::exists},
      {"\\\\server\\share", DriveType::exists},
      {LONG_SHARE, DriveType::exists}};
  for (const auto& [full, type] : drive_types) fs.set_drive_type(full, type);
}

// The same on POSIX, where `\` is a byte of a name: a directory `a\` and a
// file `a\b`.
void posix_disk(MemoryFileSystem& fs) {
  for (const char* directory : {"photos", "sub", "a\\"})
    fs.add_directory(directory);
  for (const char* file : {"a.jpg", "sub/a.jpg", "photos/*.jpg", "a\\b"})
    fs.add_file(file);
  // Never asked in POSIX style: there are no drive or share roots.
  fs.set_full_path("D:/", "D:\\");
  fs.set_drive_type("D:\\", DriveType::exists);
}

using Fill = void (*)(MemoryFileSystem& fs);

PathRules rules_of(const PathStyle& style) {
  return style.windows ? PathRules::windows : PathRules::posix;
}

LeadByteSet code_page_932() {
  return lead_bytes_for_code_page(CodePageInfo{932, {}});
}
LeadByteSet single_byte_code_page() {
  return lead_bytes_for_code_page(CodePageInfo{1252, {}});
}

struct ArgumentRow {
  std::string argument;
  int classification;
  std::string search_pattern;
  std::string subdir_pattern;
};

void check_arguments(const PathStyle& style, Fill fill,
                     const std::vector<ArgumentRow>& rows) {
  MemoryFileSystem fs(rules_of(style));
  fill(fs);
  for (const ArgumentRow& row : rows) {
    SCOPED_TRACE("argument \"" + row.argument + "\"");
    EXPECT_EQ(classify_path(style, fs, row.argument), row.classification);
    EXPECT_EQ(make_search_pattern(style, fs, row.argument, "*.jpg"),
              row.search_pattern);
    EXPECT_EQ(make_subdir_pattern(style, fs, row.argument),
              row.subdir_pattern);
    // Every pattern the walk makes is its own listing pattern.
    EXPECT_EQ(make_listing_pattern(style, fs, row.search_pattern),
              row.search_pattern);
    EXPECT_EQ(make_listing_pattern(style, fs, row.subdir_pattern),
              row.subdir_pattern);
  }
}

TEST(PathArguments, WindowsStyle) {
  check_arguments(
      windows_path_style(code_page_932()), windows_disk,
      {
          {"", 1, "*.jpg", "*.*"},
          {"D:", 1, "D:*.jpg", "D:*.*"},
          {"D:\\", 1, "D:\\*.jpg", "D:\\*.*"},
          {"\\", 1, "\\*.jpg", "\\*.*"},
          {"photos", 1, "photos\\*.jpg", "photos\\*.*"},
          {"photos\\", 1, "photos\\*.jpg", "photos\\*.*"},
          {"photos/", 1, "photos/\\*.jpg", "photos/\\*.*"},
          {"photos\\\\", 1, "photos\\\\*.jpg", "photos\\\\*.*"},
          {".", 1, ".\\*.jpg", ".\\*.*"},
          {"..", 1, "..\\*.jpg", "..\\*.*"},
          {"a.jpg", 0, "a.jpg", "*.*"},
          {"a.jpg\\", -1, "a.jpg\\", "a.jpg\\*.*"},
          {"a.jpg/", -1, "a.jpg/", "a.jpg/*.*"},
          {"sub\\a.jpg", 0, "sub\\a.jpg", "sub\\*.*"},
          {"photos\\*.jpg", -1, "photos\\*.jpg", "photos\\*.*"},
          {"D:*.jpg", -1, "D:*.jpg", "D:*.*"},
          {"nosuch", -1, "nosuch", "*.*"},
          {"nosuch\\", -1, "nosuch\\", "nosuch\\*.*"},
          {"D:/", 1, "D:/\\*.jpg", "D:/\\*.*"},
          {"E:/", -1, "E:/", "E:/*.*"},
          {"\\\\server\\share\\", 1, "\\\\server\\share\\*.jpg",
           "\\\\server\\share\\*.*"},
          {"\\\\server\\gone\\", -1, "\\\\server\\gone\\",
           "\\\\server\\gone\\*.*"},
      });
}

TEST(PathArguments, PosixStyle) {
  check_arguments(posix_path_style(), posix_disk,
                  {
                      {"", 1, "*.jpg", "*.*"},
                      {"/", 1, "/*.jpg", "/*.*"},
                      {"photos", 1, "photos/*.jpg", "photos/*.*"},
                      {"photos/", 1, "photos/*.jpg", "photos/*.*"},
                      {".", 1, "./*.jpg", "./*.*"},
                      {"..", 1, "../*.jpg", "../*.*"},
                      {"a.jpg", 0, "a.jpg", "*.*"},
                      {"a.jpg/", -1, "a.jpg/", "a.jpg/*.*"},
                      {"sub/a.jpg", 0, "sub/a.jpg", "sub/*.*"},
                      {"photos/*.jpg", -1, "photos/*.jpg", "photos/*.*"},
                      {"nosuch", -1, "nosuch", "*.*"},
                      {"a.b/c", -1, "a.b/c", "a.b/*.*"},
                      // `\` is a byte of a name, and no prefix is a drive.
                      {"a\\b", 0, "a\\b", "*.*"},
                      {"a\\", 1, "a\\/*.jpg", "a\\/*.*"},
                      {"D:", -1, "D:", "*.*"},
                      {"D:/", -1, "D:/", "D:/*.*"},
                  });
}

TEST(PathArguments, DirectoryIsListedWithSeparatorAndAllNames) {
  MemoryFileSystem windows;
  windows_disk(windows);
  EXPECT_EQ(make_listing_pattern(windows_path_style({}), windows, "photos"),
            "photos\\*.*");
  MemoryFileSystem posix(PathRules::posix);
  posix_disk(posix);
  EXPECT_EQ(make_listing_pattern(posix_path_style(), posix, "photos"),
            "photos/*.*");
}

TEST(PathArguments, WildcardsDrivesAndRootsNeverReachThePlatform) {
  PathStyle windows = windows_path_style(code_page_932());
  for (std::string text : {"", "D:", "D:\\", "\\", "photos\\*.jpg",
                           "D:*.jpg", "a?", "*"}) {
    MemoryFileSystem fs;
    windows_disk(fs);
    classify_path(windows, fs, text);
    EXPECT_EQ(fs.calls(), 0) << text;
  }
  for (std::string text : {"", "/", "photos/*.jpg", "a?"}) {
    MemoryFileSystem fs(PathRules::posix);
    posix_disk(fs);
    classify_path(posix_path_style(), fs, text);
    EXPECT_EQ(fs.calls(), 0) << text;
  }
}

struct StatusRow {
  std::string text;
  bool found;
  bool is_directory;
};

void check_status(const PathStyle& style, Fill fill,
                  const std::vector<StatusRow>& rows) {
  MemoryFileSystem fs(rules_of(style));
  fill(fs);
  for (const StatusRow& row : rows) {
    SCOPED_TRACE("text \"" + row.text + "\"");
    PathStatus status = query_path_status(style, fs, row.text);
    EXPECT_EQ(status.found, row.found);
    EXPECT_EQ(status.is_directory, row.is_directory);
  }
}

TEST(PathStatusQuery, WindowsStyle) {
  check_status(windows_path_style(code_page_932()), windows_disk,
               {
                   {"D:", false, false},  // a bare drive, though listed
                   {"photos\\*.jpg", false, false},
                   {"photos", true, true},
                   {"a.jpg", true, false},
                   {"sub\\", true, true},
                   {"sub/\\", true, true},
                   {"a.jpg\\", false, false},
                   {"nosuch\\", false, false},
                   // A root found without its directory attribute.
                   {"C:/", true, true},
                   {"/", true, true},
                   {"D:\\", true, true},
                   {"D:\\\\", true, true},
                   {"E:/", false, false},
                   {"\\\\server\\share", true, true},
                   {"\\\\server\\gone\\", false, false},
                   {LONG_SHARE, false, false},
               });
}

TEST(PathStatusQuery, DoubleByteTextUnderTheCodePage) {
  // 0x95 0x5C is one character in code page 932: no trailing separator to
  // look past; and the `?` after 0x95 is no wildcard.
  check_status(windows_path_style(code_page_932()), windows_disk,
               {{"\x95\\", false, false},
                {"\x95?", true, false},
                {"a\x95", false, false}});
  check_status(windows_path_style(single_byte_code_page()), windows_disk,
               {{"\x95\\", true, true}, {"\x95?", false, false}});
}

TEST(PathStatusQuery, PosixStyleHasNoRootRescue) {
  check_status(posix_path_style(), posix_disk,
               {{"D:/", false, false},
                {"photos//", true, true},
                {"a.jpg/", false, false},
                {"a\\", true, true},
                {"\x95?", false, false}});
}

struct ShareRootRow {
  std::string full_path;
  bool expected;
};

TEST(PathStatusQuery, UncShareRoot) {
  const std::vector<ShareRootRow> rows = {
      {"\\\\server\\share", true},
      {"\\\\server\\share\\", true},
      {"//server/share/", true},
      {"\\/s\\x", true},
      {"\\\\\\x\\y", true},  // the byte after `\\` belongs to the server
      {"\\\\x\\\\y", false},
      {"\\\\s\\", false},
      {"\\\\s\\\\", false},
      {"\\\\s\\x\\\\", false},
      {"\\\\server\\share\\dir", false},
      {"\\\\server", false},
      {"\\\\ab", false},
      {"C:\\", false},
      {"", false},
  };
  for (const ShareRootRow& row : rows)
    EXPECT_EQ(is_unc_share_root(row.full_path), row.expected) << row.full_path;
}

}  // namespace
}  // namespace ostrel
