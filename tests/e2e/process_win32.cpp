// The child process on Windows: CreateProcessA with pipes for standard
// output and standard error, and the NUL device as standard input.
#include <windows.h>

#include <functional>
#include <memory>
#include <thread>

#include "e2e/process.h"

namespace ostrel::test {
namespace {

struct HandleCloser {
  void operator()(HANDLE handle) const {
    if (handle && handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
  }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// One argument as the C runtime's command-line parser reads it back:
// quoted when empty or holding blanks or quotes, with the backslashes that
// precede a quote (or the closing quote) doubled.
void append_quoted(std::string& line, const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
    line += arg;
    return;
  }
  line += '"';
  std::size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    line.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    line += c;
  }
  line.append(2 * backslashes, '\\');
  line += '"';
}

std::string command_line(const std::string& program,
                         const std::vector<std::string>& args) {
  std::string line;
  append_quoted(line, program);
  for (const std::string& arg : args) {
    line += ' ';
    append_quoted(line, arg);
  }
  return line;
}

// A pipe whose write end the child inherits.
bool make_pipe(Handle& read_end, Handle& write_end) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE r, w;
  if (!::CreatePipe(&r, &w, &inherit, 0)) return false;
  read_end.reset(r);
  write_end.reset(w);
  return ::SetHandleInformation(r, HANDLE_FLAG_INHERIT, 0) != 0;
}

// Reads a pipe to its end, or only to the end of its first line; the pipe
// is closed when the reader is done, as a reader that leaves closes it.
void drain(Handle pipe, std::string& sink, bool first_line_only) {
  char buffer[65536];
  DWORD got = 0;
  while (::ReadFile(pipe.get(), buffer, sizeof buffer, &got, nullptr) &&
         got > 0) {
    sink.append(buffer, got);
    std::size_t end = sink.find('\n');
    if (first_line_only && end != std::string::npos) {
      sink.resize(end + 1);
      return;
    }
  }
}

}  // namespace

ProcessResult run_process(const std::string& program,
                          const std::vector<std::string>& args,
                          const ProcessOptions& options) {
  ProcessResult result;
  Handle out_read, out_write, err_read, err_write;
  if (!make_pipe(out_read, out_write) || !make_pipe(err_read, err_write))
    return result;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  Handle null_input(::CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ,
                                  &inherit, OPEN_EXISTING, 0, nullptr));

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_input.get();
  startup.hStdOutput =
      options.failing_output ? null_input.get() : out_write.get();
  startup.hStdError = err_write.get();
  std::string line = command_line(program, args);
  PROCESS_INFORMATION child{};
  const char* directory = options.working_directory.empty()
                              ? nullptr
                              : options.working_directory.c_str();
  if (!::CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                        0, nullptr, directory, &startup, &child))
    return result;
  Handle process(child.hProcess);
  Handle thread(child.hThread);
  // Only the child may hold the write ends now, so the reads see their end.
  out_write.reset();
  err_write.reset();

  std::thread out_reader(drain, std::move(out_read), std::ref(result.out),
                         options.first_line_only);
  std::thread err_reader(drain, std::move(err_read), std::ref(result.err),
                         false);
  DWORD wait = ::WaitForSingleObject(
      process.get(), static_cast<DWORD>(options.timeout_seconds) * 1000);
  if (wait != WAIT_OBJECT_0) {
    result.timed_out = true;
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), INFINITE);
  }
  out_reader.join();
  err_reader.join();
  DWORD code = 0;
  if (!result.timed_out && ::GetExitCodeProcess(process.get(), &code))
    result.exit_code = static_cast<int>(code);
  return result;
}

}  // namespace ostrel::test
