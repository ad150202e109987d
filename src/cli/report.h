// One file argument: its walk, and every line the program prints for it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "cli/options.h"
#include "cli/prober.h"
#include "jpeg/probe.h"
#include "platform/platform.h"
#include "walk/path.h"
#include "walk/walk.h"

namespace ostrel {

// What one argument counted. 64-bit, so the totals of any real photo
// library never wrap.
struct RunTotals {
  std::uint64_t total_bytes = 0;
  std::uint64_t file_count = 0;
  std::uint64_t sum_width = 0;
  std::uint64_t sum_height = 0;
};

// "path width height", then " bytes" at verbosity 2, then the line end;
// nothing at verbosity 0.
std::string format_file_line(const std::string& path, const JpegInfo& info,
                             int verbosity);

// "<path>;can't open file\n" or "<path>:can't find marker\n"; empty for ok.
std::string format_failure_line(const std::string& path, ProbeStatus status);

// Count, total bytes and the truncated average bytes, width and height;
// "0 0 0 0 0" when nothing was counted.
std::string format_summary_line(const RunTotals& totals);

void add_to_totals(RunTotals& totals, const JpegInfo& info);

using LinePrinter = std::function<void(std::string_view)>;

// What one probe found: the failure line, or the file's line at `verbosity`
// and the file added to the totals.
void report_result(const std::string& path, const ProbeResult& result,
                   RunTotals& totals, int verbosity, const LinePrinter& print);

// "memory error for wildcard \"<argument>\"\n", with "(dir) " before the
// argument for a directories listing; in pieces when there is no memory to
// put the line together.
void print_memory_error(Listing listing, const std::string& argument,
                        const LinePrinter& print);

// Everything one argument's run depends on besides the argument. The
// prober probes files ahead of the walk, through the same directories.
struct ArgumentRun {
  const PathStyle& style;
  DirectoryCache& cache;
  Prober& prober;
  LinePrinter print;
  RunOptions options;
  // Reads directories ahead of the walk where requests wait; none reads
  // each directory as the walk reaches it.
  DirectoryReads* reads = nullptr;
};

// One argument in progress: its run, what it counted, and what becomes of
// each probe's result.
struct ArgumentReport {
  explicit ArgumentReport(const ArgumentRun& run);
  ArgumentReport(const ArgumentReport&) = delete;
  ArgumentReport& operator=(const ArgumentReport&) = delete;

  const ArgumentRun& run;
  RunTotals totals;
  const ResultHandler handle_result;
};

// The walk's visitor: the file goes to the prober, and its line (or its
// failure line) is printed, and it is counted, when its result comes back
// in walk order.
void report_file(const FoundFile& file, ArgumentReport& report);

// The pattern a directory argument stands for.
inline constexpr std::string_view FILE_PATTERN = "*.jpg";

// Walks one argument with "*.jpg" and prints its lines: each file's, the
// walk's memory-error line, the summary when asked.
void run_argument(const ArgumentRun& run, const std::string& argument);

}  // namespace ostrel
