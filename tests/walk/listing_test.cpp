#include "walk/listing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/memory_fs.h"

namespace ostrel {
namespace {

using test::MemoryFileSystem;
using Texts = std::vector<std::string>;

Texts texts_of(const NameList& list) {
  Texts texts;
  for (std::size_t i = 0; i < list.count(); ++i) texts.push_back(list[i]);
  return texts;
}

TEST(CompareNames, FoldsOnlyAsciiCapitalsAndTakesBytesUnsigned) {
  struct Row {
    const char* a;
    const char* b;
    int expected;
  };
  const Row rows[] = {
      {"a.jpg", "a.jpg", 0},
      {"A.jpg", "a.jpg", 0},
      {"ABC", "abd", -1},
      {"abd", "ABC", 1},
      {"a", "ab", -1},  // the end comes first
      {"ab", "a", 1},
      {"", "a", -1},
      {"_x", "A", -1},  // '_' lies between the capitals and the small letters
      {"_x", "a", -1},
      {"[", "a", -1},
      {"`", "A", -1},
      {"{", "z", 1},
      {"~", "Z", 1},
      {"img10", "img9", -1},  // digits as characters
      {"a b", "a-b", -1},
      {"\xE9", "z", 1},  // bytes from 0x80 up after all ASCII bytes
      {"\xE9", "Z", 1},
      {"\x80", "\x7F", 1},
      {"\xC9", "\xE9", -1},  // and never folded
  };
  for (const Row& row : rows)
    EXPECT_EQ(compare_names(row.a, row.b), row.expected)
        << row.a << " vs " << row.b;
}

TEST(SortsBefore, BreaksCaseTiesByRawBytes) {
  EXPECT_TRUE(sorts_before("A.jpg", "a.jpg"));
  EXPECT_FALSE(sorts_before("a.jpg", "A.jpg"));
  EXPECT_FALSE(sorts_before("a.jpg", "a.jpg"));
  EXPECT_TRUE(sorts_before("a.jpg", "B.jpg"));
}

class Listing : public ::testing::Test {
 protected:
  const PathStyle style_ = windows_path_style({});
  MemoryFileSystem fs_;
};

TEST_F(Listing, SortsInNameOrder) {
  for (const char* name :
       {"b.jpg", "_x.jpg", "A.jpg", "a1.jpg", "img10.jpg", "img9.jpg"})
    fs_.add_file(std::string("p\\") + name);
  auto list = list_files(style_, fs_, "p\\*.jpg");
  ASSERT_TRUE(list);
  EXPECT_EQ(texts_of(*list),
            (Texts{"p\\_x.jpg", "p\\A.jpg", "p\\a1.jpg", "p\\b.jpg",
                   "p\\img10.jpg", "p\\img9.jpg"}));
}

TEST(NameList, OrderOfCaseTwinsDoesNotDependOnTheSearch) {
  for (Texts search_order : {Texts{"a.jpg", "B.jpg", "A.jpg", "b.jpg"},
                             Texts{"b.jpg", "A.jpg", "B.jpg", "a.jpg"}}) {
    NameList list(std::move(search_order));
    EXPECT_EQ(texts_of(list), (Texts{"A.jpg", "a.jpg", "B.jpg", "b.jpg"}));
  }
}

TEST_F(Listing, FilesAndDirectoriesAreListedApart) {
  fs_.add_file("p\\a.jpg");
  fs_.add_directory("p\\b.jpg");
  fs_.add_directory("p\\...");
  fs_.add_file("p\\.hidden");
  fs_.add_directory("p\\.hdir");
  auto files = list_files(style_, fs_, "p\\*");
  auto directories = list_matches(style_, fs_, "p\\*", true);
  ASSERT_TRUE(files && directories);
  EXPECT_EQ(texts_of(*files), (Texts{"p\\.hidden", "p\\a.jpg"}));
  // The search reports "." and ".." too; they are never listed.
  EXPECT_EQ(texts_of(*directories),
            (Texts{"p\\...", "p\\.hdir", "p\\b.jpg"}));
}

TEST_F(Listing, NothingMatchingGivesAnEmptyListing) {
  fs_.add_file("p\\a.txt");
  fs_.add_directory("q");
  const char* patterns[] = {"p\\*.jpg", "nosuch\\*.jpg", "p\\b.txt",
                            "p\\a.txt\\"};
  for (const char* pattern : patterns) {
    auto list = list_files(style_, fs_, pattern);
    ASSERT_TRUE(list) << pattern;
    EXPECT_TRUE(list->empty()) << pattern;
  }
  auto directories = list_matches(style_, fs_, "q\\*.*", true);
  ASSERT_TRUE(directories);
  EXPECT_TRUE(directories->empty());
}

TEST_F(Listing, KeepsThePatternsDirectoryAndTheStoredName) {
  fs_.add_file("Photos\\IMG.jpg");
  auto list = list_files(style_, fs_, "PHOTOS/img.JPG");
  ASSERT_TRUE(list);
  EXPECT_EQ(texts_of(*list), (Texts{"PHOTOS/IMG.jpg"}));
}

TEST_F(Listing, ADirectoryPatternListsItsEntries) {
  fs_.add_file("p\\a.jpg");
  auto list = list_files(style_, fs_, "p");
  ASSERT_TRUE(list);
  EXPECT_EQ(texts_of(*list), (Texts{"p\\a.jpg"}));
}

TEST_F(Listing, RunningOutOfMemoryGivesNoListing) {
  fs_.add_file("p\\a.jpg");
  fs_.fail_search(1);
  EXPECT_FALSE(list_files(style_, fs_, "p\\*.jpg"));
  // A failure in the pattern's classification too.
  fs_.fail_call(1);
  EXPECT_FALSE(list_matches(style_, fs_, "p", true));
  EXPECT_TRUE(list_files(style_, fs_, "p\\*.jpg"));
}

TEST(NameList, MovedListKeepsItsEntries) {
  NameList list(Texts{"long enough to live on the heap, b",
                      "long enough to live on the heap, a"});
  NameList moved = std::move(list);
  ASSERT_EQ(moved.count(), 2u);
  EXPECT_EQ(moved[0], "long enough to live on the heap, a");
  EXPECT_EQ(moved[1], "long enough to live on the heap, b");
}

}  // namespace
}  // namespace ostrel
