#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "process.h"

namespace ostrel::test {
namespace {

[[noreturn]] void exec_child(const std::string& program,
                             const std::vector<std::string>& args,
                             const ProcessOptions& options, int out_fd,
                             int err_fd) {
  int failing_fd = options.failing_output ? open("/dev/full", O_WRONLY) : -1;
  dup2(failing_fd >= 0 ? failing_fd : out_fd, STDOUT_FILENO);
  dup2(err_fd, STDERR_FILENO);
  int null_fd = open("/dev/null", O_RDONLY);
  if (null_fd >= 0) dup2(null_fd, STDIN_FILENO);
  signal(SIGPIPE, options.ignore_sigpipe ? SIG_IGN : SIG_DFL);
  if (!options.working_directory.empty() &&
      chdir(options.working_directory.c_str()) != 0)
    _exit(126);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(program.c_str(), argv.data());
  _exit(127);
}

// Reads both pipes until they close or the deadline passes.
bool drain(int out_fd, int err_fd, ProcessResult& result,
           const ProcessOptions& options) {
  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::seconds(options.timeout_seconds);
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_count = 2;
  char buffer[65536];
  while (open_count > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      for (pollfd& p : fds)
        if (p.fd >= 0) close(p.fd);
      return false;
    }
    int ready = poll(fds, 2, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) sinks[i]->append(buffer, static_cast<std::size_t>(got));
      bool first_line_done = i == 0 && options.first_line_only &&
                             result.out.find('\n') != std::string::npos;
      if (got <= 0 || first_line_done) {
        if (first_line_done) result.out.resize(result.out.find('\n') + 1);
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  return true;
}

}  // namespace

ProcessResult run_process(const std::string& program,
                          const std::vector<std::string>& args,
                          const ProcessOptions& options) {
  ProcessResult result;
  int out_pipe[2], err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0) return result;
  if (pipe2(err_pipe, O_CLOEXEC) != 0) return result;
  pid_t pid = fork();
  if (pid == 0) exec_child(program, args, options, out_pipe[1], err_pipe[1]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  result.timed_out = !drain(out_pipe[0], err_pipe[0], result, options);
  if (result.timed_out) kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

}  // namespace ostrel::test
