#include "cli/options.h"

#include <gtest/gtest.h>

#include <vector>

namespace ostrel {
namespace {

struct ScanCase {
  std::vector<const char*> args;
  int consumed;
  bool usage_wanted;
  RunOptions options;
};

class OptionScanTest : public ::testing::TestWithParam<ScanCase> {};

TEST_P(OptionScanTest, ScansLeadingOptionsOnly) {
  const ScanCase& c = GetParam();
  RunOptions options;
  OptionScan scan = scan_options(c.args, options);
  EXPECT_EQ(scan.consumed, c.consumed);
  EXPECT_EQ(scan.usage_wanted, c.usage_wanted);
  if (!c.usage_wanted) {
    EXPECT_EQ(options.verbosity, c.options.verbosity);
    EXPECT_EQ(options.recursive, c.options.recursive);
    EXPECT_EQ(options.summary, c.options.summary);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, OptionScanTest,
    ::testing::Values(
        ScanCase{{}, 0, false, {1, 0, 0}},
        ScanCase{{"-r", "-s"}, 2, false, {1, 1, 1}},
        ScanCase{{"-?", "a.jpg"}, 0, true, {}},
        ScanCase{{"-r", "-?"}, 1, true, {}},
        ScanCase{{"a.jpg", "-?"}, 0, false, {1, 0, 0}},
        ScanCase{{"-v", "a.jpg"}, 1, false, {2, 0, 0}},
        ScanCase{{"-v0", "a.jpg"}, 1, false, {0, 0, 0}},
        ScanCase{{"-v1", "a.jpg"}, 1, false, {1, 0, 0}},
        ScanCase{{"-v2", "a.jpg"}, 1, false, {2, 0, 0}},
        ScanCase{{"-v5", "a.jpg"}, 1, false, {1, 0, 0}},
        ScanCase{{"-v12", "a.jpg"}, 1, false, {1, 0, 0}},
        ScanCase{{"-vx", "-v0x"}, 2, false, {0, 0, 0}},
        ScanCase{{"-v", "-v0", "a.jpg"}, 2, false, {0, 0, 0}},
        ScanCase{{"-v0", "-v", "a.jpg"}, 2, false, {2, 0, 0}},
        ScanCase{{"-r", "-r", "-s", "-s"}, 4, false, {1, 1, 1}},
        ScanCase{{"-rs", "a.jpg"}, 0, false, {1, 0, 0}},
        ScanCase{{"-S", "a.jpg"}, 0, false, {1, 0, 0}},
        ScanCase{{"-V", "a.jpg"}, 0, false, {1, 0, 0}},
        ScanCase{{"-", "a.jpg"}, 0, false, {1, 0, 0}},
        ScanCase{{"--", "a.jpg"}, 0, false, {1, 0, 0}},
        ScanCase{{"", "-r"}, 0, false, {1, 0, 0}},
        ScanCase{{"a.jpg", "-s"}, 0, false, {1, 0, 0}}));

TEST(UsageText, IsFiveLinesWithTabs) {
  EXPECT_EQ(USAGE_TEXT,
            "usage:ostrel [-v[012]] [-r] [-s] file ...\n"
            "\t-v: verbose, -v0: quiet, -v1: width/height only, -v2: bytes\n"
            "\t-r: Recursive (sub directories)\n"
            "\t-s: show Summary\n"
            "\tsummary: # of files/total bytes/average bytes/width/height\n");
}

}  // namespace
}  // namespace ostrel
