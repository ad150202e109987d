#include "cli/report.h"
#include "cli/session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ostrel {
namespace {

TEST(FileLine, FollowsVerbosity) {
  JpegInfo info{640, 480, 700};
  EXPECT_EQ(format_file_line("a.jpg", info, 0), "");
  EXPECT_EQ(format_file_line("a.jpg", info, 1), "a.jpg 640 480\n");
  EXPECT_EQ(format_file_line("a.jpg", info, 2), "a.jpg 640 480 700\n");
  EXPECT_EQ(format_file_line("d/x y.jpg", JpegInfo{65535, 0, 5000000000ull}, 2),
            "d/x y.jpg 65535 0 5000000000\n");
}

TEST(ResultLines, FailuresArePrintedAtEveryVerbosityAndNeverCounted) {
  struct Row {
    ProbeStatus status;
    int verbosity;
    const char* printed;
    std::uint64_t counted;
  };
  const Row rows[] = {
      {ProbeStatus::no_marker, 1, "d/x.jpg:can't find marker\n", 0},
      {ProbeStatus::cannot_open, 1, "d/x.jpg;can't open file\n", 0},
      {ProbeStatus::no_marker, 0, "d/x.jpg:can't find marker\n", 0},
      {ProbeStatus::cannot_open, 0, "d/x.jpg;can't open file\n", 0},
      {ProbeStatus::ok, 0, "", 1},
      {ProbeStatus::ok, 2, "d/x.jpg 40 30 700\n", 1},
  };
  for (const Row& row : rows) {
    RunTotals totals;
    std::string printed;
    report_result("d/x.jpg", ProbeResult{row.status, {40, 30, 700}}, totals,
                  row.verbosity,
                  [&printed](std::string_view line) { printed += line; });
    EXPECT_EQ(printed, row.printed);
    EXPECT_EQ(totals.file_count, row.counted);
  }
  EXPECT_EQ(format_failure_line("x", ProbeStatus::ok), "");
}

TEST(ResultLines, MemoryErrorNamesTheListingAndItsArgument) {
  std::string printed;
  auto print = [&printed](std::string_view line) { printed += line; };
  print_memory_error(Listing::files, "photos\\W", print);
  print_memory_error(Listing::directories, "", print);
  EXPECT_EQ(printed,
            "memory error for wildcard \"photos\\W\"\n"
            "memory error for wildcard (dir) \"\"\n");
}

struct SummaryCase {
  std::vector<JpegInfo> files;
  const char* line;
};

class SummaryTest : public ::testing::TestWithParam<SummaryCase> {};

TEST_P(SummaryTest, CountsTotalsAndTruncatedAverages) {
  RunTotals totals;
  for (const JpegInfo& info : GetParam().files) add_to_totals(totals, info);
  EXPECT_EQ(format_summary_line(totals), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SummaryTest,
    ::testing::Values(
        SummaryCase{{}, "0 0 0 0 0\n"},
        SummaryCase{{{640, 480, 300}, {800, 600, 401}}, "2 701 350 720 540\n"},
        SummaryCase{{{100, 1, 1}, {100, 1, 1}, {101, 1, 1}}, "3 3 1 100 1\n"},
        // Past 2^31 and 2^32 bytes the totals stay exact.
        SummaryCase{{{1, 1, 3000000000ull}, {3, 3, 3000000000ull}},
                    "2 6000000000 3000000000 2 2\n"}));

// What the probes' threads and the cache's directories hold together stays
// within what the process may still open, with room for the process; with
// one descriptor, everything goes by text. Where address space is limited,
// the threads' stacks take an eighth of it at most.
TEST(DescriptorBudget, SharesTheDescriptorsOut) {
  struct Row {
    std::size_t available;
    std::size_t address_space;
    Prober::Shape probes;
    std::size_t directories;
    unsigned reads;
    unsigned read_threads;
  };
  constexpr std::size_t ANY = SIZE_MAX;
  const Row rows[] = {
      {0, ANY, {0, 1, 0, 1}, 0, 0, 0},
      {1, ANY, {0, 1, 0, 1}, 0, 0, 0},
      {2, ANY, {0, 1, 0, 1}, 1, 0, 0},
      {11, ANY, {0, 1, 0, 1}, 10, 0, 0},
      {12, ANY, {2, 2, 2, 2}, 6, 2, MOST_READ_THREADS},
      {60, ANY, {14, 8, 14, 8}, 42, 14, MOST_READ_THREADS},
      {1020, ANY, {32, 128, 254, 128}, 762, 254, MOST_READ_THREADS},
      {ANY, ANY, PLENTIFUL_PROBES,
       DirectoryReads::HELD_PER_PLACE * MOST_READS +
           PLENTIFUL_PROBES.slow_window + DEFAULT_OPEN_DIRECTORIES,
       MOST_READS, MOST_READ_THREADS},
      // `ulimit -v 60000`: 50 threads' stacks in an eighth.
      {ANY, 60'000'000, {32, 256, 38, 512}, 1280, MOST_READS, 12},
      // `ulimit -v 8000`: 6 threads.
      {ANY, 8'000'000, {5, 256, 5, 512}, 1280, MOST_READS, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.available) + " descriptors, " +
                 std::to_string(row.address_space) + " bytes");
    DescriptorBudget budget =
        budget_descriptors(row.available, row.address_space);
    EXPECT_EQ(budget.probes.threads, row.probes.threads);
    EXPECT_EQ(budget.probes.window, row.probes.window);
    EXPECT_EQ(budget.probes.slow_threads, row.probes.slow_threads);
    EXPECT_EQ(budget.probes.slow_window, row.probes.slow_window);
    EXPECT_EQ(budget.directories, row.directories);
    EXPECT_EQ(budget.reads, row.reads);
    EXPECT_EQ(budget.read_threads, row.read_threads);
    // Threads' files, directories and the process's own fit what is left.
    if (row.available >= 12 && row.available != SIZE_MAX) {
      EXPECT_LE(budget.probes.slow_threads + budget.directories + 4,
                row.available);
    }
  }
}

}  // namespace
}  // namespace ostrel
