#include "cli/options.h"

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace ostrel {

RunOptions run_options;

const std::string_view USAGE_TEXT =
    "usage:ostrel [-v[012]] [-r] [-s] file ...\n"
    "\t-v: verbose, -v0: quiet, -v1: width/height only, -v2: bytes\n"
    "\t-r: Recursive (sub directories)\n"
    "\t-s: show Summary\n"
    "\tsummary: # of files/total bytes/average bytes/width/height\n";

OptionScan scan_options(std::span<const char* const> args,
                        RunOptions& options) {
  OptionScan scan;
  for (const char* s : args) {
    if (std::strcmp(s, "-?") == 0) {
      scan.usage_wanted = true;
      return scan;
    }
    if (s[0] == '-' && s[1] == 'v') {
      // "-v" alone means bytes; a digit 0-2 sets that level and the rest of
      // the word is ignored; any other byte leaves the level as it was.
      if (s[2] == '\0') {
        options.verbosity = 2;
      } else if (s[2] >= '0' && s[2] <= '2') {
        options.verbosity = s[2] - '0';
      }
    } else if (std::strcmp(s, "-r") == 0) {
      options.recursive = true;
    } else if (std::strcmp(s, "-s") == 0) {
      options.summary = true;
    } else {
      break;
    }
    ++scan.consumed;
  }
  return scan;
}

int parse_options(int count, const char* const* args) {
  OptionScan scan = scan_options(
      std::span<const char* const>(args, static_cast<std::size_t>(count)),
      run_options);
  if (scan.usage_wanted) print_usage();
  return scan.consumed;
}

void print_usage() {
  write_output(USAGE_TEXT);
  flush_output();
  std::exit(1);
}

}  // namespace ostrel
