#include "cli/report.h"

#include <charconv>

#include "cli/options.h"
#include "platform/platform.h"
#include "walk/path.h"
#include "walk/walk.h"

namespace ostrel {
namespace {

void append_number(std::string& out, std::uint64_t value) {
  char digits[24];
  auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

}  // namespace

std::string format_file_line(const std::string& path, const JpegInfo& info,
                             int verbosity) {
  std::string line;
  if (verbosity == 0) return line;
  line.reserve(path.size() + 32);
  line += path;
  line += ' ';
  append_number(line, static_cast<std::uint64_t>(info.width));
  line += ' ';
  append_number(line, static_cast<std::uint64_t>(info.height));
  if (verbosity > 1) {
    line += ' ';
    append_number(line, info.byte_size);
  }
  line += '\n';
  return line;
}

std::string format_summary_line(const RunTotals& totals) {
  std::uint64_t count = totals.file_count;
  auto average = [count](std::uint64_t sum) { return count ? sum / count : 0; };
  std::string line;
  for (std::uint64_t value :
       {count, totals.total_bytes, average(totals.total_bytes),
        average(totals.sum_width), average(totals.sum_height)}) {
    if (!line.empty()) line += ' ';
    append_number(line, value);
  }
  line += '\n';
  return line;
}

void add_to_totals(RunTotals& totals, const JpegInfo& info) {
  totals.total_bytes += info.byte_size;
  totals.sum_width += static_cast<std::uint64_t>(info.width);
  totals.sum_height += static_cast<std::uint64_t>(info.height);
  ++totals.file_count;
}

int report_file(const std::string& path, RunTotals& totals) {
  JpegInfo info;
  if (probe_jpeg(path, &info) != 0) return 0;
  write_output(format_file_line(path, info, run_options.verbosity));
  add_to_totals(totals, info);
  return 0;
}

void process_argument(const std::string& argument) {
  RunTotals totals;
  WalkContext context{native_path_style(), disk_file_system(),
                      [](std::string_view line) { write_output(line); }};
  walk_pattern(
      context, argument, "*.jpg",
      [&totals](const std::string& path) { return report_file(path, totals); },
      run_options.recursive != 0);
  if (run_options.summary) write_output(format_summary_line(totals));
}

}  // namespace ostrel
