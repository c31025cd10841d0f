// The command line of korvenkit: git-style subcommands over the kit's library.
#pragma once

namespace korven::kit {

// Parses the arguments, runs the command and returns the exit status.
int run_cli(int argc, char** argv);

}  // namespace korven::kit
