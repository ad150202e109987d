#include "cli/report.h"

#include <algorithm>
#include <charconv>
#include <new>

namespace ostrel {
namespace {

void append_number(std::string& out, std::uint64_t value) {
  char digits[24];
  auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

// After an exception, nothing of this argument may reach the next one, and
// the cache no longer drains this argument's probes.
struct ArgumentEnd {
  const ArgumentRun& run;
  ~ArgumentEnd() {
    run.prober.discard();
    run.cache.on_exhausted(nullptr);
  }
};

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

std::string format_failure_line(const std::string& path, ProbeStatus status) {
  switch (status) {
    case ProbeStatus::cannot_open:
      return path + ";can't open file\n";
    case ProbeStatus::no_marker:
      return path + ":can't find marker\n";
    case ProbeStatus::ok:
      break;
  }
  return {};
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
    print(format_failure_line(path, result.status));
    return;
  }
  print(format_file_line(path, result.info, verbosity));
  add_to_totals(totals, result.info);
}

void print_memory_error(Listing listing, const std::string& argument,
                        const LinePrinter& print) {
  std::string_view head = listing == Listing::files
                              ? "memory error for wildcard \""
                              : "memory error for wildcard (dir) \"";
  std::string line;
  try {
    line.reserve(head.size() + argument.size() + 2);
    line += head;
    line += argument;
    line += "\"\n";
  } catch (const std::bad_alloc&) {
    print(head);
    print(argument);
    print("\"\n");
    return;
  }
  print(line);
}

ArgumentReport::ArgumentReport(const ArgumentRun& run)
    : run(run),
      handle_result([this](const std::string& path, const ProbeResult& result) {
        report_result(path, result, totals, this->run.options.verbosity,
                      this->run.print);
      }) {}

void report_file(const FoundFile& file, ArgumentReport& report) {
  report.run.prober.submit(file, report.handle_result);
}

void run_argument(const ArgumentRun& run, const std::string& argument) {
  ArgumentReport report(run);
  ArgumentEnd end{run};
  // Files queued for probing hold their directories open: when the
  // descriptors run out, the cache has them probed and let go.
  run.cache.on_exhausted([&] { run.prober.drain(report.handle_result); });
  WalkResult walked = walk_pattern(
      run.style, run.cache, argument, FILE_PATTERN,
      [&](const FoundFile& file) { report_file(file, report); },
      run.options.recursive, run.reads);
  // The walk's own line follows the lines of every file met before it.
  run.prober.drain(report.handle_result);
  if (walked.code == WALK_NO_MEMORY)
    print_memory_error(walked.listing,
                       walked.subdirectory ? *walked.subdirectory : argument,
                       run.print);
  if (run.options.summary) run.print(format_summary_line(report.totals));
}

}  // namespace ostrel
