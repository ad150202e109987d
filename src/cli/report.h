// One file argument: its walk, the per-file lines and the summary line.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "cli/options.h"
#include "jpeg/probe.h"
#include "platform/platform.h"
#include "walk/path.h"

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

// Count, total bytes and the truncated average bytes, width and height;
// "0 0 0 0 0" when nothing was counted.
std::string format_summary_line(const RunTotals& totals);

void add_to_totals(RunTotals& totals, const JpegInfo& info);

class ProbePool;

using LinePrinter = std::function<void(std::string_view)>;

// What one probe found: the failure line, or the file's line at `verbosity`
// and the file added to the totals.
void report_result(const std::string& path, const ProbeResult& result,
                   RunTotals& totals, int verbosity, const LinePrinter& print);

// The visitor of the walk: probes one file, prints its line, counts it.
// Always 0, so the walk never stops on its account.
int report_file(const std::string& path, RunTotals& totals);

// Everything one argument's run depends on besides the argument.
struct ArgumentRun {
  const PathStyle& style;
  FileSystem& fs;
  LinePrinter print;
  RunOptions options;
  // Probes files ahead of the walk. Without one, each file is probed when
  // the walk meets it; the output is the same byte for byte either way.
  ProbePool* pool = nullptr;
};

// Walks one argument with "*.jpg" and prints its summary when asked.
void run_argument(const ArgumentRun& run, const std::string& argument);

// `run_argument` on the disk, to standard output, with `run_options`.
void process_argument(const std::string& argument, ProbePool* pool = nullptr);

}  // namespace ostrel
