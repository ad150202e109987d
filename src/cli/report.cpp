#include "cli/report.h"

#include <charconv>

#include "cli/probe_pool.h"
#include "walk/walk.h"

namespace ostrel {
namespace {

constexpr std::string_view file_pattern = "*.jpg";

void append_number(std::string& out, std::uint64_t value) {
  char digits[24];
  auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

void walk_in_turn(const ArgumentRun& run, const std::string& argument,
                  RunTotals& totals) {
  WalkContext context{run.style, run.fs, run.print};
  walk_pattern(
      context, argument, file_pattern,
      [&](const std::string& path) {
        report_result(path, probe_file(path), totals, run.options.verbosity,
                      run.print);
        return 0;
      },
      run.options.recursive != 0);
}

// After an exception, nothing of this argument may reach the next one.
struct DiscardOnExit {
  ProbePool& pool;
  ~DiscardOnExit() { pool.discard(); }
};

void walk_pooled(const ArgumentRun& run, const std::string& argument,
                 RunTotals& totals) {
  ProbePool& pool = *run.pool;
  const ProbePool::ResultHandler report = [&](const std::string& path,
                                              const ProbeResult& result) {
    report_result(path, result, totals, run.options.verbosity, run.print);
  };
  // A line of the walk's own follows the lines of every file met before it.
  WalkContext context{run.style, run.fs, [&](std::string_view line) {
                        pool.drain(report);
                        run.print(line);
                      }};
  DiscardOnExit discard_on_exit{pool};
  walk_pattern(
      context, argument, file_pattern,
      [&](const std::string& path) {
        pool.submit(path, report);
        return 0;
      },
      run.options.recursive != 0);
  pool.drain(report);
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

void report_result(const std::string& path, const ProbeResult& result,
                   RunTotals& totals, int verbosity, const LinePrinter& print) {
  if (result.status != ProbeStatus::ok) {
    print(probe_failure_line(path, result.status));
    return;
  }
  print(format_file_line(path, result.info, verbosity));
  add_to_totals(totals, result.info);
}

int report_file(const std::string& path, RunTotals& totals) {
  report_result(path, probe_file(path), totals, run_options.verbosity,
                write_output);
  return 0;
}

void run_argument(const ArgumentRun& run, const std::string& argument) {
  RunTotals totals;
  if (run.pool)
    walk_pooled(run, argument, totals);
  else
    walk_in_turn(run, argument, totals);
  if (run.options.summary) run.print(format_summary_line(totals));
}

void process_argument(const std::string& argument, ProbePool* pool) {
  run_argument(ArgumentRun{native_path_style(), disk_file_system(),
                           write_output, run_options, pool},
               argument);
}

}  // namespace ostrel
