// Runs the built program as a child process and collects what it printed.
#pragma once

#include <string>
#include <vector>

namespace ostrel::test {

struct ProcessOptions {
  std::string working_directory;  // empty: the test's own
  // Start the child with SIGPIPE ignored, as some shells and services do,
  // to show that the program restores the default itself (POSIX only).
  bool ignore_sigpipe = false;
  // Stop reading standard output after its first line and close the pipe,
  // as `| head -1` does.
  bool first_line_only = false;
  // Standard output to a stream whose every write fails instead of a pipe:
  // /dev/full on POSIX (no space left), NUL opened for reading only on
  // Windows (no right to write).
  bool failing_output = false;
  int timeout_seconds = 300;  // against hangs, not a timing
};

struct ProcessResult {
  std::string out;
  std::string err;
  int exit_code = -1;     // -1 when ended by a signal or the timeout
  int signal = 0;         // the signal that ended it (POSIX)
  bool timed_out = false;
};

ProcessResult run_process(const std::string& program,
                          const std::vector<std::string>& args,
                          const ProcessOptions& options = {});

}  // namespace ostrel::test
