#include "driver/run.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "bmatrix/b_matrix.h"
#include "bmatrix/coordinate_walk.h"
#include "bmatrix/element_list.h"
#include "deck/problem.h"
#include "deck/problem_input.h"
#include "driver/dialogue.h"
#include "gmatrix/g_matrix.h"
#include "records/file_lock.h"
#include "records/fp_trap.h"
#include "records/record_io.h"
#include "records/run_end.h"

namespace korven {
namespace {

constexpr std::int32_t kEndOfDeck = 999;
constexpr std::int32_t kProblemFollows = -9;

std::string trimmed(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return std::string(s);
}

bool same_file(std::string_view a, std::string_view b) {
  std::error_code ec;
  return std::filesystem::equivalent(std::filesystem::path(a), std::filesystem::path(b), ec) && !ec;
}

// Everything that lives for one run.
class Run {
 public:
  explicit Run(ConsoleStreams console) : units_(console) {}

  int execute();

 private:
  void drive();
  void open_run_files();
  void hold_scratch_files();
  std::int32_t search_for_problem();
  [[noreturn]] void card_dispatch(std::int32_t control);
  std::int32_t run_problem();
  void close_run_files();
  [[noreturn]] void stop_without_files(std::string_view reason);

  Unit& deck() { return units_.unit(kDeckUnit); }
  Unit& listing() { return units_.unit(kListingUnit); }

  // Declared ahead of the units, so that it is let go only after every
  // file of the run is closed (and the scratch files deleted).
  FileLock scratch_lock_;
  Units units_;
  Problem problem_;
  Positions x_;
  ElementList b_;
  std::vector<std::int32_t> row_counts_;
  std::int32_t pair_row_ = 0;  // kept from problem to problem
  StoredU stored_u_;
};

int Run::execute() {
  try {
    const int trap = call_trapping([](void* self) { static_cast<Run*>(self)->drive(); }, this);
    // Arithmetic is guarded where it happens; this is the last resort.
    if (trap != 0) throw FloatingPointTrap{trap};
  } catch (const RunStop& stop) {
    if (units_.line_open()) units_.streams().out << "\r\n";
    units_.streams().out << "Stop - Program terminated.\r\n";
    units_.terminate();
    return stop.status;
  } catch (const RunFailure& failure) {
    units_.write_out_quietly();
    units_.streams().err << failure_report(failure);
    units_.streams().err.flush();
    units_.terminate();
    return 1;
  } catch (const FloatingPointTrap& trap) {
    units_.write_out_quietly();
    units_.streams().err << trap_report(trap.number);
    units_.streams().err.flush();
    units_.terminate();
    return 1;
  }
  return 0;
}

void Run::drive() {
  open_run_files();
  card_dispatch(search_for_problem());
}

// 999 ends the run, -9 announces a problem card, any other value sends the
// driver searching for one of the two.
void Run::card_dispatch(std::int32_t control) {
  while (control != kEndOfDeck) {
    control = control == kProblemFollows ? run_problem() : search_for_problem();
  }
  close_run_files();
  stop_run(0);
}

void Run::stop_without_files(std::string_view reason) {
  write_record(units_.console_out(), "", reason);
  write_record(units_.console_out(), "", " PROGRAM STOPS; TRY AGAIN.\t");
  // A failed start: the stop message as usual, but a calling script must
  // not take it for a success.
  stop_run(1);
}

void Run::open_run_files() {
  write_record(units_.console_out(), "", "Program KORVEN");
  std::string prompt = "\\Enter name of the input file, with extension\\";
  prompt.resize(kPromptLength, ' ');
  std::string input;
  GETNAME(units_, prompt, input);

  int stem = 0;
  int found = 0;
  FINDPERIOD(input, stem, found);
  if (found != 1) stop_without_files("NO PERIOD FOUND IN FILENAME");
  const std::string listing_name = listing_name_for(input, stem);

  // The listing and the scratch files must never replace the deck.
  const std::string in = trimmed(input);
  const std::string out = trimmed(listing_name);
  if (in == out || in == kBScratchName || in == kUScratchName || same_file(in, out) ||
      same_file(in, kBScratchName) || same_file(in, kUScratchName))
    stop_without_files("OUTPUT WOULD OVERWRITE INPUT FILE");

  write_record(units_.console_out(), "", "input file is ", input, ", output file is ", listing_name);
  write_record(units_.console_out(), "");
  write_record(units_.console_out(), "");

  units_.open_unit(kDeckUnit, input, "OLD");
  hold_scratch_files();
  units_.open_unit(kListingUnit, listing_name, "UNKNOWN");
  units_.open_unit(kBScratchUnit, kBScratchName, "UNKNOWN", "unformatted");
  units_.open_unit(kUScratchUnit, kUScratchName, "UNKNOWN", "unformatted");
}

// The scratch files have fixed names, so two runs in one folder would write
// each other's: the run holds a lock on the first scratch file from before
// its first write (the listing's creation or cut) to its end, and a run that
// finds it held ends at once, having changed no file. Where no lock can be
// had (a folder the run cannot write, a file system without such locks) the
// run goes on unguarded, and its opens report what they meet as before.
void Run::hold_scratch_files() {
  if (scratch_lock_.take(std::string(kBScratchName)) == FileLock::Outcome::busy)
    throw_failure(kFileInUse, UnitOperation::open, kBScratchName);
}

std::int32_t Run::search_for_problem() {
  for (;;) {
    std::int32_t control = 0;
    ReadStatement card(deck(), "(I3)");
    card.read_integer(control);
    card.end_read();
    if (control == kEndOfDeck || control == kProblemFollows) return control;
  }
}

// One problem, from its problem card to the card that ends its mass sets.
// Returns the control value for the card dispatch.
std::int32_t Run::run_problem() {
  Unit& deck = this->deck();
  Unit& listing = this->listing();
  read_problem_card(deck, problem_);
  read_titles(deck, problem_);
  write_problem_heading(listing, problem_);
  if (!check_problem_size(listing, problem_)) return search_for_problem();
  if (!read_x_matrix(deck, listing, problem_, x_)) return search_for_problem();
  if (!read_coordinates(deck, listing, problem_, x_, b_, pair_row_, row_counts_)) return search_for_problem();
  finish_b_list(b_, row_counts_);
  write_b_listing(listing, problem_, b_);
  if (problem_.save > 0) store_b_list(units_, b_);
  const MassSetsEnd end = run_mass_sets(units_, problem_, b_, stored_u_);
  return end.search ? search_for_problem() : end.control;
}

void Run::close_run_files() {
  units_.close_unit(kDeckUnit);
  units_.close_unit(kListingUnit);
  // The locked file goes last, so that a run waiting for the folder finds
  // nothing of this one left once it can take the lock.
  units_.close_unit(kUScratchUnit, "delete");
  units_.close_unit(kBScratchUnit, "delete");
}

}  // namespace

int run_korven(ConsoleStreams console) {
  FpTrapScope traps;
  Run run(console);
  return run.execute();
}

}  // namespace korven
