#include "platform/write_error.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace ostrel {

void end_on_write_error(int error) {
  // Where SIGPIPE is blocked, a reader gone from a pipe fails the write
  // instead of ending the process; it is no failure of the run all the same.
  if (error == EPIPE) end_process_now(141);
  // Standard error is unbuffered: the line goes out in one write, now.
  std::fprintf(stderr, "ostrel: write error: %s\n", std::strerror(error));
  end_process_now(2);
}

}  // namespace ostrel
