// A run of KORVEN: the whole life of the program, from the greeting to the
// stop, as one function that returns the exit status.
#pragma once

#include "records/units.h"

namespace korven {

// Runs the program on the given console. Every end of the run (the stop, a
// run-time failure, a floating-point trap) comes back here; nothing calls
// exit. All state of the run lives inside the call, so runs can follow one
// another in one process.
int run_korven(ConsoleStreams console);

}  // namespace korven
