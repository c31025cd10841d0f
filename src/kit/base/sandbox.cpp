#include "kit/base/sandbox.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cfenv>
#include <chrono>
#include <cstdio>
#include <iostream>

#include "kit/base/atomic_file.h"

namespace korven::kit {
namespace {

[[noreturn]] void child_main(int out_fd, const std::function<std::string()>& work) {
  // No core file in the user's folder, no traps or handlers inherited from
  // the parent (the engine runs with floating-point traps on), and nothing
  // of the library's on the user's terminal.
  const rlimit no_core{0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  fedisableexcept(FE_ALL_EXCEPT);
  for (int sig : {SIGSEGV, SIGFPE, SIGBUS, SIGILL, SIGABRT, SIGPIPE}) signal(sig, SIG_DFL);
  const int null_fd = ::open("/dev/null", O_RDWR);
  if (null_fd >= 0) {
    dup2(null_fd, STDIN_FILENO);
    dup2(null_fd, STDOUT_FILENO);
    dup2(null_fd, STDERR_FILENO);
  }
  std::string reply;
  try {
    reply = work();
  } catch (...) {
    _exit(3);
  }
  _exit(write_all(out_fd, reply) ? 0 : 3);
}

// Everything the child writes until it closes the pipe or the time is up.
bool read_until_closed(int fd, int timeout_seconds, std::string& reply) {
  char buffer[1 << 16];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return ready != 0;
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return true;
    reply.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace

ChildOutcome run_in_child(const std::function<std::string()>& work, int timeout_seconds) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return {ChildOutcome::not_started, errno, ""};
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    const int err = errno;
    close(fds[0]);
    close(fds[1]);
    return {ChildOutcome::not_started, err, ""};
  }
  if (pid == 0) {
    close(fds[0]);
    child_main(fds[1], work);
  }
  close(fds[1]);
  ChildOutcome out;
  const bool closed = read_until_closed(fds[0], timeout_seconds, out.reply);
  close(fds[0]);
  if (!closed) kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!closed) return {ChildOutcome::timed_out, timeout_seconds, ""};
  if (WIFSIGNALED(status)) return {ChildOutcome::crashed, WTERMSIG(status), ""};
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {ChildOutcome::failed, WEXITSTATUS(status), ""};
  return out;
}

}  // namespace korven::kit
