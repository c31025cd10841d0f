// The platform calls of the program, all in this one file: the floating-point
// trap mask and its SIGFPE handler, the test whether standard input is a
// terminal, and the advisory file lock of a run.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE 1
#endif
#include <errno.h>
#include <fcntl.h>
#include <fenv.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csetjmp>

#include "records/file_lock.h"
#include "records/fp_trap.h"

namespace korven {
namespace {

constexpr int kTrapped = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;

// The innermost call_trapping's return point, and the trap that took it.
thread_local std::jmp_buf* g_return_point = nullptr;
volatile sig_atomic_t g_trap = 0;

void on_fpe(int, siginfo_t* info, void*) {
  int trap = kTrapInvalid;
  if (info != nullptr) {
    if (info->si_code == FPE_FLTDIV || info->si_code == FPE_INTDIV) trap = kTrapDivideByZero;
    if (info->si_code == FPE_FLTOVF) trap = kTrapOverflow;
  }
  g_trap = trap;
  if (g_return_point == nullptr) {
    // Nowhere to return to: never the case for arithmetic the program
    // guards. Fall back to the default action.
    signal(SIGFPE, SIG_DFL);
    return;
  }
  // The handler runs with the floating-point state the kernel gives it, all
  // traps masked; SA_NODEFER keeps SIGFPE unblocked, so a plain longjmp is
  // enough to leave it.
  std::longjmp(*g_return_point, 1);
}

}  // namespace

FpTrapScope::FpTrapScope() : saved_action_(new struct sigaction) {
  std::fegetenv(&saved_env_);
  struct sigaction action {};
  action.sa_sigaction = on_fpe;
  action.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  sigaction(SIGFPE, &action, static_cast<struct sigaction*>(saved_action_));
  std::feclearexcept(FE_ALL_EXCEPT);
  feenableexcept(kTrapped);
}

FpTrapScope::~FpTrapScope() {
  std::fesetenv(&saved_env_);
  auto* saved = static_cast<struct sigaction*>(saved_action_);
  sigaction(SIGFPE, saved, nullptr);
  delete saved;
}

int call_trapping(void (*body)(void*), void* context) {
  std::jmp_buf here;
  std::jmp_buf* const outer = g_return_point;
  g_return_point = &here;
  if (setjmp(here) != 0) {
    g_return_point = outer;
    // Back from the handler: re-arm the traps for the rest of the run.
    std::feclearexcept(FE_ALL_EXCEPT);
    feenableexcept(kTrapped);
    return g_trap;
  }
  try {
    body(context);
  } catch (...) {
    g_return_point = outer;
    throw;
  }
  g_return_point = outer;
  return 0;
}

bool stdin_is_console() { return isatty(0) == 1; }

namespace {

// Whether the open file is the one the name stands for now.
bool still_named(int descriptor, const std::string& name) {
  struct stat open_file {};
  struct stat named {};
  return fstat(descriptor, &open_file) == 0 && stat(name.c_str(), &named) == 0 &&
         open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino;
}

}  // namespace

FileLock::Outcome FileLock::take(const std::string& name) {
  release();
  // A holder deletes the file under its lock and lets the lock go after:
  // whoever opened the old file in between finds it no longer named, and
  // tries the name's new one.
  constexpr int kAttempts = 100;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const int descriptor = open(name.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
    if (descriptor < 0) return Outcome::unavailable;
    if (flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      close(descriptor);
      if (error == EINTR) continue;
      return error == EWOULDBLOCK ? Outcome::busy : Outcome::unavailable;
    }
    if (still_named(descriptor, name)) {
      descriptor_ = descriptor;
      return Outcome::held;
    }
    close(descriptor);
  }
  return Outcome::busy;
}

void FileLock::release() {
  if (descriptor_ < 0) return;
  close(descriptor_);  // closing the only descriptor of the open file drops its lock
  descriptor_ = -1;
}

}  // namespace korven
