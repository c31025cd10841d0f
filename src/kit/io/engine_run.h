// Running a deck through the engine in-process, in a private folder of its
// own, and taking back its listing and console output.
#pragma once

#include <filesystem>
#include <string>

#include "kit/model/listing.h"

namespace korven::kit {

struct EngineRun {
  int status = 0;           // the engine's exit status: 0 the 999 card was reached, 1 a run-time failure
  std::string listing;      // the listing file as written (records end in CR LF); empty if none was written
  std::string console_out;  // what the engine wrote to standard output
  std::string console_err;  // its run-time failure report, if any
};

// Copies the deck as DECK.DAT into a fresh folder under the system's
// temporary folder (the engine's scratch files have fixed names, so no two
// runs may share a folder, and the user's folder is never touched), makes
// it the working directory for the run, answers the engine's dialogue with
// that name, reads DECK.OUT, and removes the folder. The previous working
// directory and floating-point environment are restored, also when the run
// throws. Not to be called from two threads at once: the working directory
// belongs to the process. A deck that is missing or cannot be copied, or a
// folder that cannot be made: InputError naming the deck.
EngineRun run_engine(const std::filesystem::path& deck);

// The engine's failure report as one line ("run-time error F6501: ...;
// - end of file encountered"), for an error message.
std::string engine_failure_line(const EngineRun& run);

// run_engine, then read_listing on its listing. A run-time failure is an
// InputError naming the deck and the engine's report: "DECK: KORVEN ended
// with a run-time failure: ...".
Listing run_and_read(const std::filesystem::path& deck);

// Why korven cannot take this file name (the name without its folder) as
// its DECK, in words; empty when it can.
std::string deck_name_fault(const std::filesystem::path& deck);

}  // namespace korven::kit
