// Floating-point traps for the whole run and the way back from a trapped
// operation. The platform calls behind this (the trap mask, the SIGFPE
// handler, the console test) live in platform.cpp and nowhere else.
#pragma once

#include <cfenv>
#include <type_traits>
#include <utility>

#include "records/run_end.h"

namespace korven {

// While alive: invalid operation, division by zero and overflow trap, and a
// trap returns to the innermost call_trapping. Restores the previous
// floating-point environment and signal handler on destruction.
class FpTrapScope {
 public:
  FpTrapScope();
  ~FpTrapScope();
  FpTrapScope(const FpTrapScope&) = delete;
  FpTrapScope& operator=(const FpTrapScope&) = delete;

 private:
  std::fenv_t saved_env_;
  void* saved_action_;
};

// Runs body(context). Returns 0 when it returned normally, or the trap number
// (kTrapInvalid, kTrapDivideByZero, kTrapOverflow) when an operation in it
// trapped: control then comes back here without unwinding, so every frame
// active inside body at a trap must hold only trivially destructible locals.
// C++ exceptions thrown by body pass through unchanged.
int call_trapping(void (*body)(void*), void* context);

// Runs f under call_trapping and turns a trap into a FloatingPointTrap
// exception. Use it around every arithmetic that can trap.
template <class F>
void fp_guarded(F&& f) {
  using Fn = std::remove_reference_t<F>;
  const int trap = call_trapping([](void* c) { (*static_cast<Fn*>(c))(); }, &f);
  if (trap != 0) throw FloatingPointTrap{trap};
}

// Holds the traps off while a library routine (decimal parsing) runs, so that
// it can never raise a spurious trap; the flags it raised are discarded.
class TrapPause {
 public:
  TrapPause() { std::feholdexcept(&saved_); }
  ~TrapPause() { std::fesetenv(&saved_); }
  TrapPause(const TrapPause&) = delete;
  TrapPause& operator=(const TrapPause&) = delete;

 private:
  std::fenv_t saved_;
};

// True when standard input is an interactive terminal.
bool stdin_is_console();

}  // namespace korven
