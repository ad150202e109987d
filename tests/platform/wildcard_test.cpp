#include "platform/wildcard.h"

#include <gtest/gtest.h>

#include <string>

namespace ostrel {
namespace {

struct MatchCase {
  const char* pattern;
  const char* name;
  bool matches;
};

TEST(WildcardMatch, FollowsTheSearchRules) {
  const MatchCase cases[] = {
      {"*.jpg", "a.jpg", true},
      {"*.jpg", "IMG_0001.JPG", true},
      {"*.JPG", "x.Jpg", true},
      {"*.jpg", "a.jpeg", false},
      {"*.jpg", "a.jpg.txt", false},
      {"*.jpg", ".jpg", true},
      {"*.jpg", ".hidden.jpg", true},
      {"*", "", true},
      {"*", "anything", true},
      {"*.*", "noext", true},
      {"*.*", "a.b", true},
      {"*.*", ".", true},
      {"?", "a", true},
      {"?", "", false},
      {"?", "ab", false},
      {"a?c", "abc", true},
      {"a?c", "ac", false},
      {"a*", "a", true},
      {"*a", "aa", true},
      {"*b*", "abc", true},
      {"a*b*c", "aXbYbZc", true},
      {"a*b*c", "aXbYbZ", false},
      {"[ab].jpg", "[ab].jpg", true},
      {"[ab].jpg", "a.jpg", false},
      {"a\\b", "a\\b", true},
      {"a\\b", "ab", false},
      {"x", "X", true},
      // Only ASCII letters fold: bytes from 0x80 up match themselves.
      {"\xc3\xa9.jpg", "\xc3\x89.jpg", false},
      {"\xc3\xa9*", "\xc3\xa9.jpg", true},
      {"[", "[", true},
      {"@", "`", false},
  };
  for (const MatchCase& c : cases)
    EXPECT_EQ(wildcard_match(c.pattern, c.name), c.matches)
        << c.pattern << " against " << c.name;
}

TEST(WildcardMatch, StarsDoNotBacktrackExponentially) {
  // Exponential backtracking would not finish these within the test's
  // time limit; the matcher takes |pattern| * |name| steps at most.
  std::string name(20000, 'a');
  EXPECT_FALSE(wildcard_match("*a*a*a*a*a*a*a*a*a*a*a*a*b", name));
  EXPECT_TRUE(wildcard_match("*a*a*a*a*a*a*a*a*a*a*a*a*", name));
  name.back() = 'b';
  EXPECT_TRUE(wildcard_match("*a*a*a*a*a*a*a*a*a*a*a*a*b", name));
}

TEST(HasWildcard, FindsStarAndQuestionMarkOnly) {
  EXPECT_TRUE(has_wildcard("a*"));
  EXPECT_TRUE(has_wildcard("?"));
  EXPECT_FALSE(has_wildcard("[a]\\b.jpg"));
  EXPECT_FALSE(has_wildcard(""));
}

}  // namespace
}  // namespace ostrel
