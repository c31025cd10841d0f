#include "driver/command_line.h"

#include <istream>
#include <ostream>
#include <utility>

#include "driver/deck_name.h"
#include "driver/run.h"

#ifndef KORVEN_VERSION
#error "KORVEN_VERSION must be defined by the build (the project's version)"
#endif

namespace korven {
namespace {

constexpr std::string_view kProgram = "korven";

// A word as the shell reads it back: quoted unless it is plain.
std::string shell_word(std::string_view word) {
  bool plain = !word.empty();
  for (const char c : word) {
    const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      std::string_view("._-+/=:@,%").find(c) != std::string_view::npos;
    if (!safe) plain = false;
  }
  if (plain) return std::string(word);
  std::string quoted = "'";
  for (const char c : word) {
    if (c == '\'') quoted += "'\\''";
    else quoted += c;
  }
  return quoted + "'";
}

// A name as the shell reads it back, control characters included ($'...').
std::string shown_name(std::string_view name) {
  bool control = false;
  for (const char c : name) control = control || static_cast<unsigned char>(c) < 32 || c == 127;
  if (!control) return shell_word(name);
  std::string shown = "$'";
  for (const char c : name) {
    const auto code = static_cast<unsigned char>(c);
    if (c == '\\' || c == '\'') {
      shown += '\\';
      shown += c;
    } else if (code < 32 || code == 127) {
      static constexpr char kHex[] = "0123456789abcdef";
      shown += "\\x";
      shown += kHex[code >> 4];
      shown += kHex[code & 15];
    } else {
      shown += c;
    }
  }
  return shown + "'";
}

// The refusal of a deck given with a folder: the run writes its listing and
// scratch files in the working folder, so it must be started in the deck's.
std::string folder_fault(std::string_view deck) {
  std::string fault(deck);
  fault += ": run korven in the deck's folder, where the listing and the scratch files are written";
  const std::size_t slash = deck.find_last_of('/');
  const std::string_view folder = slash == 0 ? deck.substr(0, 1) : deck.substr(0, slash);
  const std::string_view name = deck.substr(slash + 1);
  if (!name.empty())
    fault += ": cd " + shell_word(folder) + " && korven " + (name.front() == '-' ? "-- " : "") + shell_word(name);
  return fault;
}

CommandLine refused(std::string fault) {
  CommandLine line;
  line.action = CommandLine::Action::usage_error;
  line.fault = std::move(fault);
  return line;
}

}  // namespace

CommandLine parse_command_line(std::span<const std::string_view> arguments) {
  CommandLine line;
  bool options = true;
  for (const std::string_view argument : arguments) {
    if (options && argument == "--") {
      options = false;
      continue;
    }
    if (options && !argument.empty() && argument.front() == '-') {
      if (argument == "--help") return {CommandLine::Action::help, {}, {}};
      if (argument == "--version") return {CommandLine::Action::version, {}, {}};
      return refused("unknown option " + std::string(argument) + " (korven --help lists the options)");
    }
    if (line.action == CommandLine::Action::deck)
      return refused(std::string(argument) + ": one deck at a time (korven --help shows how to run several)");
    if (argument.find('\n') != std::string_view::npos)
      return refused("a deck's name is one line; this one holds a line end");
    if (argument.find('/') != std::string_view::npos) return refused(folder_fault(argument));
    // A name the dialogue would cut, or refuse, or keep asking after: not run
    // at all, rather than left waiting at the terminal.
    std::string why;
    if (!usable_deck_name(argument, &why))
      return refused(shown_name(argument) + ": not a usable deck name: " + why + " (korven --help)");
    line.action = CommandLine::Action::deck;
    line.deck = argument;
  }
  return line;
}

std::string version_text() { return std::string(kProgram) + " " KORVEN_VERSION "\n"; }

std::string help_text() {
  return "Usage: korven [DECK]\n"
         "       korven --help | --version\n"
         "\n"
         "Computes the B matrix, the G matrix and the symmetrized G matrix of molecular\n"
         "vibrations from a deck of 80-column cards.\n"
         "\n"
         "Without DECK, korven asks for the deck's name at the console. With DECK, it\n"
         "runs exactly as if DECK had been typed at that prompt. DECK names a file in\n"
         "the working folder, without a folder part: run korven in the deck's folder.\n"
         "DECK has 1 to 12 characters, a period after its first, no blank at either\n"
         "end and no control character, and is neither dseta.tmp, dsetb.tmp nor its\n"
         "own listing's name; korven refuses any other at once.\n"
         "\n"
         "Files, all in the working folder:\n"
         "  DECK                  the deck, only read\n"
         "  STEM.OUT              the listing (STEM: DECK up to its first period)\n"
         "  dseta.tmp, dsetb.tmp  scratch files, deleted when the run ends normally\n"
         "\n"
         "The scratch files have fixed names, so a folder serves one run at a time: a\n"
         "run started where another is at work ends at once (F6418) and writes nothing.\n"
         "Batch runs give every run its own folder, e.g.\n"
         "  for d in runs/*/; do\n"
         "    (cd \"$d\" && korven DECK.DAT </dev/null >console.txt 2>&1)\n"
         "  done\n"
         "\n"
         "Exit status: 0 when the run reaches the deck's 999 card, 1 after a run-time\n"
         "failure or a typed deck name that is refused, 2 for a command line that is\n"
         "refused (an unusable DECK among them).\n"
         "\n"
         "Options:\n"
         "  --help     show this text\n"
         "  --version  show the version\n"
         "  --         end of the options (for a DECK beginning with -)\n"
         "\n"
         "Manual: man korven (docs/korven.1); the deck and the listing are explained in\n"
         "docs/deck-guide.md of the KORVEN sources.\n";
}

AnswerFirst::AnswerFirst(std::string line, std::streambuf* rest) : line_(std::move(line)), rest_(rest) {
  setg(line_.data(), line_.data(), line_.data() + line_.size());
}

// Once the line is used up the get area stays empty, so every read goes
// straight to the rest of the input and nothing of it is held here.
AnswerFirst::int_type AnswerFirst::underflow() {
  setg(nullptr, nullptr, nullptr);
  return rest_ != nullptr ? rest_->sgetc() : traits_type::eof();
}

AnswerFirst::int_type AnswerFirst::uflow() {
  setg(nullptr, nullptr, nullptr);
  return rest_ != nullptr ? rest_->sbumpc() : traits_type::eof();
}

int korven_main(std::span<const std::string_view> arguments, ConsoleStreams console) {
  const CommandLine line = parse_command_line(arguments);
  switch (line.action) {
    case CommandLine::Action::help:
      console.out << help_text();
      console.out.flush();
      return console.out ? 0 : 1;
    case CommandLine::Action::version:
      console.out << version_text();
      console.out.flush();
      return console.out ? 0 : 1;
    case CommandLine::Action::usage_error:
      console.err << kProgram << ": " << line.fault << "\n";
      console.err.flush();
      return 2;
    case CommandLine::Action::deck: {
      AnswerFirst answer(line.deck + "\n", console.in.rdbuf());
      std::istream in(&answer);
      return run_korven({in, console.out, console.err, console.interactive});
    }
    case CommandLine::Action::dialogue: break;
  }
  return run_korven(console);
}

}  // namespace korven
