// One file argument: its walk, the per-file lines and the summary line.
#pragma once

#include <cstdint>
#include <string>

#include "jpeg/probe.h"

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

// The visitor of the walk: probes one file, prints its line, counts it.
// Always 0, so the walk never stops on its account.
int report_file(const std::string& path, RunTotals& totals);

// Walks one argument with "*.jpg" and prints its summary when asked.
void process_argument(const std::string& argument);

}  // namespace ostrel
