// The platform under the double-byte code page 932 (Shift JIS), where the
// second byte of a character can be 0x5C, the byte of `\`. Under Wine the
// code page follows the locale, which CTest sets for this test; elsewhere
// the test runs only where 932 is the ANSI code page.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "scratch_folder_win32.h"
#include "walk/path.h"

namespace ostrel {
namespace {

// 表, whose second byte is 0x5C.
const std::string TABLE = "\x95\x5C";

class CodePage932 : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::GetACP() != 932) GTEST_SKIP() << "the ANSI code page is not 932";
  }
};

TEST_F(CodePage932, LeadBytesComeFromTheCodePage) {
  CodePageInfo code_page = ansi_code_page();
  EXPECT_EQ(code_page.number, 932u);
  using Ranges = std::vector<std::pair<unsigned char, unsigned char>>;
  EXPECT_EQ(code_page.lead_byte_ranges, (Ranges{{0x81, 0x9F}, {0xE0, 0xFC}}));
  const PathStyle& style = native_path_style();
  EXPECT_TRUE(style.code_page_lead_bytes[0x95]);
  EXPECT_FALSE(style.code_page_lead_bytes[0xFD]);
  EXPECT_TRUE(style.fixed_lead_bytes[0xFD]);
}

TEST_F(CodePage932, TrailByteIsNeverASeparator) {
  test::ScratchFolder folder;
  ASSERT_TRUE(::CreateDirectoryA(TABLE.c_str(), nullptr));
  HANDLE file = ::CreateFileA((TABLE + "\\a.jpg").c_str(), GENERIC_WRITE, 0,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ::CloseHandle(file);

  const PathStyle& style = native_path_style();
  FileSystem& fs = disk_file_system();
  EXPECT_EQ(classify_path(style, fs, TABLE), 1);
  EXPECT_EQ(classify_path(style, fs, TABLE + "\\a.jpg"), 0);
  const std::string pattern = make_search_pattern(style, fs, TABLE, "*.jpg");
  EXPECT_EQ(pattern, TABLE + "\\*.jpg");
  std::vector<std::string> found;
  test::windows_disk().search(pattern, [&](const DirectoryEntry& entry) {
    found.push_back(join_dir_and_name(style, pattern, entry.name));
    return true;
  });
  EXPECT_EQ(found, std::vector<std::string>{TABLE + "\\a.jpg"});
  EXPECT_TRUE(test::windows_disk().open_path(found.front()));

  // Past the ANSI functions' limit: 606 bytes, 306 characters.
  std::string deep;
  for (int level = 0; level < 6; ++level) {
    for (int i = 0; i < 50; ++i) deep += TABLE;
    deep += '\\';
  }
  folder.make_folder(deep + TABLE);
  folder.write(deep + TABLE + "\\a.jpg", "a");
  EXPECT_EQ(classify_path(style, fs, deep + TABLE), 1);
  found.clear();
  test::windows_disk().search(deep + TABLE, [&](const DirectoryEntry& entry) {
    found.push_back(std::string(entry.name));
    return true;
  });
  EXPECT_EQ(found, std::vector<std::string>{TABLE});
  EXPECT_TRUE(test::windows_disk().open_path(deep + TABLE + "\\a.jpg"));
}

}  // namespace
}  // namespace ostrel
