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

class Listings : public ::testing::Test {
 protected:
  // One read of the directory `text` (with its separator).
  DirectoryListing list(const std::string& text, std::string_view pattern,
                        bool directories = false) {
    DirectoryResult directory = fs_.open_directory(text);
    EXPECT_TRUE(directory) << text;
    return list_directory(**directory, pattern, directories);
  }

  MemoryFileSystem fs_;
};

TEST_F(Listings, SortsInNameOrder) {
  for (const char* name :
       {"b.jpg", "_x.jpg", "A.jpg", "a1.jpg", "img10.jpg", "img9.jpg"})
    fs_.add_file(std::string("p\\") + name);
  DirectoryListing listing = list("p\\", "*.jpg");
  ASSERT_TRUE(listing.files);
  EXPECT_EQ(texts_of(*listing.files),
            (Texts{"_x.jpg", "A.jpg", "a1.jpg", "b.jpg", "img10.jpg",
                   "img9.jpg"}));
}

TEST(NameList, OrderOfCaseTwinsDoesNotDependOnTheSearch) {
  for (Texts search_order : {Texts{"a.jpg", "B.jpg", "A.jpg", "b.jpg"},
                             Texts{"b.jpg", "A.jpg", "B.jpg", "a.jpg"}}) {
    NameList list(std::move(search_order));
    EXPECT_EQ(texts_of(list), (Texts{"A.jpg", "a.jpg", "B.jpg", "b.jpg"}));
  }
}

TEST_F(Listings, FilesAndDirectoriesComeFromOneReadApart) {
  fs_.add_file("p\\a.jpg");
  fs_.add_directory("p\\b.jpg");
  fs_.add_directory("p\\...");
  fs_.add_file("p\\.hidden");
  fs_.add_directory("p\\.hdir");
  DirectoryListing listing = list("p\\", "*", true);
  ASSERT_TRUE(listing.files && listing.directories);
  EXPECT_EQ(texts_of(*listing.files), (Texts{".hidden", "a.jpg"}));
  // The search reports "." and ".." too; they are never listed.
  EXPECT_EQ(texts_of(*listing.directories), (Texts{"...", ".hdir", "b.jpg"}));
  // Without subdirectories asked for, that listing is empty.
  listing = list("p\\", "*");
  ASSERT_TRUE(listing.directories);
  EXPECT_TRUE(listing.directories->empty());
}

TEST_F(Listings, NothingMatchingGivesAnEmptyListing) {
  fs_.add_file("p\\a.txt");
  fs_.add_directory("q");
  const std::pair<const char*, const char*> reads[] = {
      {"p\\", "*.jpg"}, {"nosuch\\", "*.jpg"}, {"p\\", "b.txt"},
      {"p\\a.txt\\", ""}, {"q\\", "*.*"}};
  for (const auto& [text, pattern] : reads) {
    DirectoryListing listing = list(text, pattern, true);
    ASSERT_TRUE(listing.files && listing.directories) << text << pattern;
    EXPECT_TRUE(listing.files->empty()) << text << pattern;
    EXPECT_TRUE(listing.directories->empty()) << text << pattern;
  }
}

TEST_F(Listings, KeepsTheStoredName) {
  fs_.add_file("Photos\\IMG.jpg");
  DirectoryListing listing = list("PHOTOS/", "img.JPG");
  ASSERT_TRUE(listing.files);
  EXPECT_EQ(texts_of(*listing.files), (Texts{"IMG.jpg"}));
}

// The files search failing loses the whole read; the subdirectories
// search failing loses only their listing.
TEST_F(Listings, RunningOutOfMemoryLosesWhatCouldNotBeStored) {
  fs_.add_file("p\\a.jpg");
  fs_.add_directory("p\\d");
  fs_.fail_search(1);
  DirectoryListing listing = list("p\\", "*.jpg", true);
  EXPECT_FALSE(listing.files);
  fs_.fail_search(2);
  listing = list("p\\", "*.jpg", true);
  ASSERT_TRUE(listing.files);
  EXPECT_EQ(texts_of(*listing.files), (Texts{"a.jpg"}));
  EXPECT_FALSE(listing.directories);
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
