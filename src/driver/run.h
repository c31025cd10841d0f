// A run of KORVEN: the whole life of the program, from the greeting to the
// stop, as one function that returns the exit status.
#pragma once

#include <string_view>

#include "records/units.h"

namespace korven {

// The scratch files of a run, in the working folder: the B list and the U
// list of the current problem.
inline constexpr std::string_view kBScratchName = "dseta.tmp";
inline constexpr std::string_view kUScratchName = "dsetb.tmp";

// Runs the program on the given console. Every end of the run (the stop, a
// run-time failure, a floating-point trap) comes back here; nothing calls
// exit. All state of the run lives inside the call, so runs can follow one
// another in one process.
int run_korven(ConsoleStreams console);

}  // namespace korven
