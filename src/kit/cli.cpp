#include "kit/cli.h"

#include <iostream>

#include <CLI/CLI.hpp>

#include "kit/kit_error.h"

namespace korven::kit {

int run_cli(int argc, char** argv) {
  CLI::App app{"korvenkit: decks for KORVEN from geometry files, and what a deck describes"};
  app.set_version_flag("--version", std::string("korvenkit ") + KORVEN_VERSION);
  app.require_subcommand(1);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? kExitSuccess : kExitUnusable;
  }
  return kExitSuccess;
}

}  // namespace korven::kit
