// The command line of korven: --help, --version, or the deck's name given
// in place of the answer to the dialogue's first prompt.
#pragma once

#include <span>
#include <streambuf>
#include <string>
#include <string_view>

#include "records/units.h"

namespace korven {

// What the command line asks for.
struct CommandLine {
  enum class Action { dialogue, deck, help, version, usage_error };
  Action action = Action::dialogue;
  std::string deck;   // deck: the name, to be answered to the first prompt
  std::string fault;  // usage_error: one line, without the program's name
};

// Reads the arguments after the program's name. Options are acted on in the
// order given, wherever they stand; "--" ends them, so that a deck whose name
// begins with "-" can still be given.
CommandLine parse_command_line(std::span<const std::string_view> arguments);

std::string version_text();
std::string help_text();

// A console input that gives one line of its own first and then everything
// the rest of the input holds, so that the dialogue takes that line as if it
// had been typed at the first prompt.
class AnswerFirst final : public std::streambuf {
 public:
  AnswerFirst(std::string line, std::streambuf* rest);
  AnswerFirst(const AnswerFirst&) = delete;
  AnswerFirst& operator=(const AnswerFirst&) = delete;

 protected:
  int_type underflow() override;
  int_type uflow() override;

 private:
  std::string line_;
  std::streambuf* rest_;
};

// The whole program: the command line, then the run or what was asked for.
// Returns the exit status (2 for a command line that is refused).
int korven_main(std::span<const std::string_view> arguments, ConsoleStreams console);

}  // namespace korven
