// The end of a run whose output cannot be written (a full disk, a quota, an
// I/O error): what it printed is cut short, and a script must be able to
// tell.
#pragma once

namespace ostrel {

// Prints `ostrel: write error: ` and the C library's text for `error` on
// standard error and ends the process at once with status 2; a reader gone
// from a pipe (EPIPE) ends it with 141 and no line, as SIGPIPE would. Probe
// threads may still be running, so no destructor and no exit handler runs.
[[noreturn]] void end_on_write_error(int error);

}  // namespace ostrel
