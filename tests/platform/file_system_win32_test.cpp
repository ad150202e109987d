// The Win32 directory search, lookups, full paths, drive types, directory
// identities and the ANSI code page.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/extended_path.h"
#include "platform/platform.h"
#include "scratch_folder_win32.h"

namespace ostrel {
namespace {

using Found = std::map<std::string, bool>;  // name -> is a directory

Found search_all(const std::string& text, bool* any = nullptr) {
  Found found;
  bool result = test::windows_disk().search(text, [&](const DirectoryEntry& e) {
    found[std::string(e.name)] = e.is_directory;
    return true;
  });
  if (any) *any = result;
  return found;
}

class FileSystemWin32 : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_.make_folder("photos\\sub.jpg");
    folder_.make_folder("other");
    folder_.write("photos\\a.jpg", "a");
    folder_.write("photos\\B.JPG", "b");
    folder_.write("photos\\c.txt", "c");
    folder_.make_folder(deep_ + "sub");
    folder_.write(deep_ + "a.jpg", "a");
  }
  test::ScratchFolder folder_;
  SearchByText& fs_ = test::windows_disk();
  const std::string deep_ = test::long_folder();
};

TEST_F(FileSystemWin32, SearchReportsStoredNamesAndDirectories) {
  EXPECT_EQ(search_all("photos\\*.jpg"),
            (Found{{"a.jpg", false}, {"B.JPG", false}, {"sub.jpg", true}}));
  EXPECT_EQ(search_all("photos/*.JPG"),
            (Found{{"a.jpg", false}, {"B.JPG", false}, {"sub.jpg", true}}));
  EXPECT_EQ(search_all("PHOTOS\\A.JPG"), (Found{{"a.jpg", false}}));
  Found everything = search_all(folder_.text() + "\\photos\\*.*");
  EXPECT_EQ(everything.count("c.txt"), 1u);
  EXPECT_EQ(everything.count("sub.jpg"), 1u);
  // Past the ANSI functions' limit, relative or drive-relative.
  EXPECT_EQ(search_all(deep_ + "*.jpg"), (Found{{"a.jpg", false}}));
  EXPECT_EQ(search_all(folder_.text().substr(0, 2) + deep_ + "*.*").count("sub"),
            1u);
}

TEST_F(FileSystemWin32, SearchThatFindsNothingFailsAtOnce) {
  for (const std::string& text : std::vector<std::string>{
           "photos\\*.gif", "missing\\*.*", "photos\\", "photos\\zz.jpg", "",
           deep_ + "*.gif", test::TOO_LONG}) {
    bool any = true;
    EXPECT_TRUE(search_all(text, &any).empty()) << text;
    EXPECT_FALSE(any) << text;
  }
}

TEST_F(FileSystemWin32, SearchStopsWhenTheCallerSaysSo) {
  int calls = 0;
  EXPECT_TRUE(fs_.search("photos\\*.*", [&](const DirectoryEntry&) {
    ++calls;
    return false;
  }));
  EXPECT_EQ(calls, 1);
}

// The search asks for less than FindFirstFileA does (no short names, more
// entries a call), and finds the same entries in the same order. Where the
// volume keeps short names (Wine makes its own), `*.jpg` also matches
// `long.jpgx` through its short name, as FindFirstFileA does.
TEST_F(FileSystemWin32, SearchFindsWhatFindFirstFileFinds) {
  using Listing = std::vector<std::pair<std::string, bool>>;
  folder_.write("photos\\long.jpgx", "x");
  for (const char* text : {"photos\\*.jpg", "photos\\*.*", "photos\\?.JPG",
                           "*", "photos\\b.jpg", "missing\\*.*"}) {
    Listing expected, found;
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA(text, &data);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        expected.emplace_back(data.cFileName,
                              data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
      } while (::FindNextFileA(find, &data));
      ::FindClose(find);
    }
    fs_.search(text, [&](const DirectoryEntry& e) {
      found.emplace_back(std::string(e.name), e.is_directory);
      return true;
    });
    EXPECT_EQ(found, expected) << text;
  }
}

TEST_F(FileSystemWin32, LookupAnswersByTheEntryFound) {
  const struct {
    std::string text;
    std::optional<bool> directory;
  } cases[] = {
      {"photos", true},
      {"PHOTOS", true},
      {"photos\\sub.jpg", true},
      {"photos\\a.jpg", false},
      {"photos/b.jpg", false},
      {folder_.text() + "\\photos", true},
      // A trailing separator finds no entry; the root rescue decides then.
      {"photos\\", std::nullopt},
      {"photos/", std::nullopt},
      {"missing", std::nullopt},
      {deep_ + "sub", true},
      {deep_ + "a.jpg", false},
      {folder_.text() + "/" + deep_ + "sub\\..\\a.jpg", false},
      {deep_ + "missing", std::nullopt},
      {test::TOO_LONG, std::nullopt},
  };
  for (const auto& c : cases) {
    Result<bool> found = fs_.lookup(c.text);
    EXPECT_EQ(found ? std::optional<bool>(*found) : std::nullopt, c.directory)
        << c.text;
  }
}

TEST_F(FileSystemWin32, FullPathIsResolvedAndNeverCut) {
  EXPECT_EQ(fs_.full_path("photos\\a.jpg"), folder_.text() + "\\photos\\a.jpg");
  EXPECT_EQ(fs_.full_path("photos\\..\\other"), folder_.text() + "\\other");
  // A full path longer than a path buffer comes back whole for the caller
  // to refuse, or not at all (Wine's answer); never cut to fit.
  const std::string long_name(250, 'n');
  const std::string whole = folder_.text() + "\\" + long_name;
  ASSERT_GT(whole.size(), 260u);
  EXPECT_EQ(fs_.full_path(long_name).value_or(whole), whole);
  EXPECT_EQ(fs_.full_path(""), std::nullopt);
  // Texts past the limit are made absolute as Windows makes them.
  wchar_t current[MAX_PATH];
  ASSERT_GT(::GetCurrentDirectoryW(MAX_PATH, current), 2u);
  const std::string drive = folder_.text().substr(0, 2);
  std::string climb_above_root = deep_;
  for (int i = 0; i < 30; ++i) climb_above_root += "..\\";
  for (const std::string& text : std::vector<std::string>{
           "photos\\a.jpg", "photos/../other/", "photos.\\.\\a.jpg. ",
           drive + "photos\\..", "\\photos", deep_ + "..\\..\\x",
           drive + climb_above_root + "x"}) {
    std::wstring wide = test::ScratchFolder::wide(text);
    std::wstring expected(::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr),
                          L'\0');
    expected.resize(::GetFullPathNameW(wide.c_str(), expected.size(),
                                       expected.data(), nullptr));
    EXPECT_EQ(full_path_of(wide, current, L""), expected) << text;
  }
}

TEST_F(FileSystemWin32, DriveTypeTellsRootsThatExist) {
  const std::string root = folder_.text().substr(0, 3);  // e.g. "Z:\"
  ASSERT_EQ(root[1], ':');
  EXPECT_EQ(fs_.drive_type(root), SearchByText::DriveType::exists);
  DWORD drives = ::GetLogicalDrives();
  for (char letter = 'Z'; letter >= 'D'; --letter) {
    if (drives & (1u << (letter - 'A'))) continue;
    EXPECT_EQ(fs_.drive_type(std::string(1, letter) + ":\\"),
              SearchByText::DriveType::no_root);
    break;
  }
}

TEST_F(FileSystemWin32, DirectoryIdIsTheSameForEverySpelling) {
  auto id = fs_.directory_id("photos");
  ASSERT_TRUE(id);
  for (std::string text : {"photos\\", "PHOTOS", "photos/", ".\\photos",
                           "other\\..\\photos"})
    EXPECT_EQ(fs_.directory_id(text), id) << text;
  EXPECT_EQ(fs_.directory_id(folder_.text() + "\\photos"), id);
  EXPECT_NE(fs_.directory_id("other"), id);
  EXPECT_NE(fs_.directory_id("photos\\sub.jpg"), id);
  auto deep_id = fs_.directory_id(deep_);
  ASSERT_TRUE(deep_id);
  for (std::string text : {folder_.text() + "\\" + deep_,
                           folder_.text().substr(0, 2) + deep_ + "sub\\..",
                           deep_ + ".\\sub/../"})
    EXPECT_EQ(fs_.directory_id(text), deep_id) << text;
  EXPECT_NE(fs_.directory_id(deep_ + "sub"), deep_id);
  EXPECT_EQ(fs_.directory_id(test::TOO_LONG), std::nullopt);
  EXPECT_EQ(fs_.directory_id(""), fs_.directory_id("."));
  EXPECT_EQ(fs_.directory_id("photos\\a.jpg"), std::nullopt);
  EXPECT_EQ(fs_.directory_id("missing"), std::nullopt);
}

TEST(CodePageWin32, IsTheAnsiCodePageWithItsLeadBytes) {
  CodePageInfo code_page = ansi_code_page();
  EXPECT_EQ(code_page.number, ::GetACP());
  CPINFO info;
  ASSERT_TRUE(::GetCPInfo(code_page.number, &info));
  EXPECT_EQ(code_page.lead_byte_ranges.empty(), info.MaxCharSize < 2);
  for (auto [first, last] : code_page.lead_byte_ranges) {
    EXPECT_GE(first, 0x80);
    EXPECT_LE(first, last);
  }
}

}  // namespace
}  // namespace ostrel
