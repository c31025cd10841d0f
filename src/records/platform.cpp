// The platform calls of the program, all in this one file: the floating-point
// trap mask and its SIGFPE handler, and the test whether standard input is a
// terminal.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE 1
#endif
#include <fenv.h>
#include <signal.h>
#include <unistd.h>

#include <csetjmp>

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

}  // namespace korven
