// The command line: leading options, the usage text.
#pragma once

#include <span>
#include <string_view>

namespace ostrel {

// Process-wide settings, written only by the option scan before the first
// file argument is processed.
struct RunOptions {
  int verbosity = 1;  // 0 quiet, 1 width/height, 2 width/height/bytes
  bool recursive = false;
  bool summary = false;
};

extern RunOptions run_options;

extern const std::string_view USAGE_TEXT;

struct OptionScan {
  int consumed = 0;            // how many leading arguments were options
  bool usage_wanted = false;   // "-?" was met
};

// Scans the leading options of `args` (the program name excluded) into
// `options`; stops at "-?" or at the first file argument.
OptionScan scan_options(std::span<const char* const> args,
                        RunOptions& options);

// Scans into `run_options`; prints the usage text and exits on "-?".
int parse_options(int count, const char* const* args);

// Prints the usage text and ends the process with status 1.
[[noreturn]] void print_usage();

}  // namespace ostrel
