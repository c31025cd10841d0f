#include "kit/io/deck_replay.h"

#include <algorithm>
#include <cfenv>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

#include "bmatrix/element_list.h"
#include "bmatrix/kind_support.h"
#include "bmatrix/kinds.h"
#include "deck/problem.h"
#include "deck/problem_input.h"
#include "gmatrix/g_matrix.h"
#include "gmatrix/symmetrized_g.h"
#include "kit/base/kit_error.h"
#include "kit/base/text.h"
#include "records/record_io.h"
#include "records/run_end.h"
#include "records/units.h"

namespace korven::kit {

namespace {

namespace fs = std::filesystem;

// The engine's run would end here with a floating-point trap.
struct RunWouldEnd {
  std::string why;
};

// Runs f with the exception flags cleared and tells whether it raised one
// of the conditions the engine traps (invalid, division by zero, overflow).
template <class F>
bool raises_trapped_condition(F&& f) {
  std::feclearexcept(FE_ALL_EXCEPT);
  f();
  const bool raised = std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW) != 0;
  std::feclearexcept(FE_ALL_EXCEPT);
  return raised;
}

kit::Vec3 widened(const korven::Vec3& v) { return {double(v[0]), double(v[1]), double(v[2])}; }

// The range checks of a linear bend ahead of its reference-point card: with
// L positive the chain is J-K-L and I is not looked at.
bool linear_bend_fields_valid(const CoordinateEntry& e, std::int32_t atoms) {
  return scale_fields_valid(e.ix, e.jx, atoms) && e.l <= atoms && names_atom(e.k, atoms) &&
         names_atom(e.j, atoms) && (e.l != 0 || names_atom(e.i, atoms));
}

// The rows an entry writes to must be coordinates 1 ... 999; a second
// linear-bend component needs the pair row of an earlier CODE 5 entry.
bool rows_acceptable(const CoordinateEntry& e, std::int32_t current_row, std::int32_t pair_row) {
  if (current_row < 1 || current_row > kMaxCoordinates) return false;
  if (e.code == 5 && current_row + 1 > kMaxCoordinates) return false;
  if (e.code == 6 && e.l > 0 && (pair_row < 1 || pair_row > kMaxCoordinates)) return false;
  return true;
}

class Replay {
 public:
  explicit Replay(const fs::path& path)
      : path_(path), file_(path.string()), units_(ConsoleStreams{in_, out_, err_, false}) {}

  Deck run();

 private:
  // One read statement of `items` items, `per_card` to a card: body reads
  // them, keeping `item` at the one it is reading, so that a failure names
  // its card. `what` says what the card should hold.
  template <class Body>
  void statement(const char* what, int items, int per_card, Body&& body);
  [[noreturn]] void unreadable(int card, const char* what, const RunFailure& failure) const;

  std::int32_t search(bool first);
  std::int32_t problem();
  bool read_x(DeckProblem& p, const Problem& prob, Positions& x);
  bool read_coordinates(DeckProblem& p, const Problem& prob, const Positions& x);
  bool take_entry(DeckProblem& p, const Problem& prob, const Positions& x, std::int32_t& current_row);
  // Mass sets until a card whose control field is not -6: its control, or
  // nothing after an error report.
  std::optional<std::int32_t> mass_sets(DeckProblem& p, const Problem& prob);
  bool read_u(MassSet& m, const Problem& prob);
  void read_comments(int cards);

  fs::path path_;
  std::string file_;
  std::istringstream in_;
  std::ostringstream out_, err_;
  Units units_;
  Unit* deck_ = nullptr;
  Deck result_;
  int card_ = 0;  // cards read so far
  bool in_problem_ = false;
  std::int32_t pair_row_ = 0;  // kept from problem to problem, as the engine keeps it
  ElementList stored_u_;       // the U list last built, end entry included
  bool stored_u_usable_ = false;
};

template <class Body>
void Replay::statement(const char* what, int items, int per_card, Body&& body) {
  const int first = card_ + 1;
  int item = 0;
  try {
    body(item);
  } catch (const RunFailure& failure) {
    unreadable(first + item / std::max(per_card, 1), what, failure);
  }
  card_ += items <= 0 ? 1 : (items + per_card - 1) / per_card;
}

void Replay::unreadable(int card, const char* what, const RunFailure& failure) const {
  const std::string at = "card " + std::to_string(card) + ": ";
  if (failure.number == kEndOfFile) {
    if (!in_problem_) throw input_error(file_, at + "the deck ends before its 999 card");
    throw input_error(file_, at + "the deck ends inside problem " + std::to_string(result_.problems.size()) +
                                 " where " + what + " should be");
  }
  throw input_error(file_, at + std::string(what) + ": " + std::string(failure_message(failure.number)));
}

void Replay::read_comments(int cards) {
  // The same records as the engine's: the bytes up to LF, the data up to CR.
  std::ifstream in(path_, std::ios::binary);
  std::string line;
  for (int n = 0; n < cards && std::getline(in, line); ++n) {
    const std::size_t cr = line.find('\r');
    if (cr != std::string::npos) line.erase(cr);
    result_.comments.push_back(line);
  }
}

std::int32_t Replay::search(bool first) {
  in_problem_ = false;
  for (;;) {
    std::int32_t control = 0;
    statement("columns 1-3", 1, 1, [&](int&) {
      ReadStatement card(*deck_, "(I3)");
      card.read_integer(control);
      card.end_read();
    });
    if (control == kEndOfDeck || control == kProblemFollows) {
      if (first) read_comments(card_ - 1);
      return control;
    }
  }
}

Deck Replay::run() {
  std::error_code ec;
  if (!fs::exists(path_, ec)) throw input_error(file_, "no such file");
  if (!fs::is_regular_file(path_, ec)) throw input_error(file_, "not a regular file");
  try {
    units_.open_unit(kDeckUnit, file_, "OLD");
  } catch (const RunFailure& failure) {
    throw input_error(file_, "cannot be opened: " + std::string(failure_message(failure.number)));
  }
  deck_ = &units_.unit(kDeckUnit);
  try {
    std::int32_t control = search(true);
    while (control != kEndOfDeck) control = control == kProblemFollows ? problem() : search(false);
  } catch (const RunWouldEnd& end) {
    result_.run_end = end.why;
  }
  return std::move(result_);
}

std::int32_t Replay::problem() {
  in_problem_ = true;
  result_.problems.emplace_back();
  DeckProblem& p = result_.problems.back();
  Problem prob;
  statement("the problem card", 5, 5, [&](int&) { read_problem_card(*deck_, prob); });
  for (std::string* title : {&prob.title1, &prob.title2}) {
    statement("a title card", 1, 1, [&](int&) {
      ReadStatement card(*deck_, "(A)");
      card.read_text(*title, 80);
      card.end_read();
    });
  }
  p.number = prob.number;
  p.nic = prob.coordinates;
  p.save = prob.save;
  p.title1 = trimmed_right(prob.title1);
  p.title2 = trimmed_right(prob.title2);

  const auto abandon = [&] {
    p.abandoned = true;
    return search(false);
  };
  if (prob.atoms < 1 || prob.atoms > kMaxAtoms || prob.coordinates < 1 || prob.coordinates > kMaxCoordinates)
    return abandon();
  Positions x;
  if (!read_x(p, prob, x)) return abandon();
  if (!read_coordinates(p, prob, x)) return abandon();
  const std::optional<std::int32_t> control = mass_sets(p, prob);
  return control ? *control : abandon();
}

bool Replay::read_x(DeckProblem& p, const Problem& prob, Positions& x) {
  x.assign(static_cast<std::size_t>(prob.atoms), {0.0f, 0.0f, 0.0f});
  bool ok = true;
  for (bool done = false; !done;) {
    std::int32_t row[4] = {};
    std::int32_t atom[4] = {};
    float value[4] = {};
    statement("an X-matrix card", 12, 12, [&](int&) {
      ReadStatement card(*deck_, "(4(2I3,F12.6))");
      for (int k = 0; k < 4; ++k) card.read_integer(row[k]).read_integer(atom[k]).read_real(value[k]);
      card.end_read();
    });
    for (int k = 0; k < 4 && !done; ++k) {
      if (row[k] == -1) {
        done = true;
      } else if (row[k] == 0) {
        continue;
      } else if (row[k] < 0 || row[k] > 3 || atom[k] < 1 || atom[k] > prob.atoms) {
        ok = false;  // the X-matrix error report
        done = true;
      } else {
        x[static_cast<std::size_t>(atom[k] - 1)][static_cast<std::size_t>(row[k] - 1)] = value[k];
      }
    }
  }
  p.x.clear();
  for (const korven::Vec3& a : x) p.x.push_back(widened(a));
  return ok;
}

bool Replay::read_coordinates(DeckProblem& p, const Problem& prob, const Positions& x) {
  std::int32_t current_row = 0;
  for (;;) {
    std::int32_t f[24] = {};
    statement("a coordinate card", 24, 24, [&](int&) {
      ReadStatement card(*deck_, "(24I3)");
      for (std::int32_t& field : f) card.read_integer(field);
      card.end_read();
    });
    for (int e = 0; e < 3; ++e) {
      const std::int32_t* g = f + 8 * e;
      CoordinateEntry entry{g[0], g[1], g[2], g[3], g[4], g[5], g[6], g[7], std::nullopt};
      if (entry.no < 0) return true;
      if (entry.no > 0) {
        ++current_row;
      } else if (entry.code <= 0) {
        continue;  // a blank entry
      }
      p.entries.push_back(entry);
      if (!take_entry(p, prob, x, current_row)) return false;
    }
  }
}

// The engine's dispatch of one entry taken up: its checks, its
// reference-point card, and the B-row routine run for its verdict only.
bool Replay::take_entry(DeckProblem& p, const Problem& prob, const Positions& x, std::int32_t& current_row) {
  const CoordinateEntry& e = p.entries.back();
  if (e.code > 6 || !rows_acceptable(e, current_row, pair_row_)) return false;
  const std::int32_t row = current_row;
  const std::int32_t atoms = prob.atoms;
  ElementList scratch;
  std::int32_t error = 0;
  const auto verdict = [&](auto&& routine) {
    if (raises_trapped_condition(routine))
      throw RunWouldEnd{"card " + std::to_string(card_) + ": the B row of coordinate " + std::to_string(row) +
                        " meets a floating-point trap (coincident atoms?)"};
  };
  switch (e.code) {
    case 2:
      verdict([&] { bend_row(scratch, x, atoms, row, e.i, e.j, e.k, e.l, e.ix, e.jx, error); });
      break;
    case 3:
      verdict([&] { out_of_plane_row(scratch, x, atoms, row, e.i, e.j, e.k, e.l, e.ix, e.jx, error); });
      break;
    case 4:
      verdict([&] { torsion_row(scratch, x, atoms, row, e.i, e.j, e.k, e.l, e.ix, e.jx, error); });
      break;
    case 5:
    case 6: {
      if (e.code == 5) {
        pair_row_ = row + 1;
        current_row = row + 1;
      }
      if (!linear_bend_fields_valid(e, atoms)) return false;  // its reference-point card stays unread
      korven::Vec3 point{};
      statement("a reference-point card", 3, 3, [&](int&) {
        ReadStatement card(*deck_, "(3F12.6)");
        card.read_real(point[0]).read_real(point[1]).read_real(point[2]);
        card.end_read();
      });
      p.entries.back().reference_point = widened(point);
      if (e.l < 0) return false;
      const bool two_rows = e.l > 0;
      const std::int32_t a = two_rows ? e.j : e.i;
      const std::int32_t centre = two_rows ? e.k : e.j;
      const std::int32_t c = two_rows ? e.l : e.k;
      verdict([&] {
        const LinearBendFrame frame = compute_linear_bend_frame(x, a, centre, c, point);
        append_linear_bend_rows(scratch, frame, scale_length(x, e.ix, e.jx), row, pair_row_, a, centre, c,
                                two_rows, error);
      });
      break;
    }
    default:
      verdict([&] { stretch_row(scratch, x, atoms, row, e.i, e.j, e.k, e.l, e.ix, e.jx, error); });
      break;
  }
  return error <= 0;
}

std::optional<std::int32_t> Replay::mass_sets(DeckProblem& p, const Problem& prob) {
  const int atoms = prob.atoms;
  for (;;) {
    MassSetCard card;
    statement("a mass-set card", 5, 5, [&](int&) { read_mass_set(*deck_, card); });
    if (card.control != kMassSetControl) return card.control;
    p.mass_sets.emplace_back();
    MassSet& m = p.mass_sets.back();
    m.title = trimmed_right(card.title);
    m.u_mode = card.u_mode;
    m.symmetry_count = card.symmetry_count;

    std::vector<float> masses(static_cast<std::size_t>(atoms), 0.0f);
    statement("a mass card", atoms, 6, [&](int& item) {
      ReadStatement rd(*deck_, "(6F12.6)");
      for (item = 0; item < atoms; ++item) rd.read_real(masses[static_cast<std::size_t>(item)]);
      rd.end_read();
    });
    for (std::size_t a = 0; a < masses.size(); ++a) {
      m.masses.push_back(double(masses[a]));
      // The engine takes 1/m in single precision for G.
      volatile float q = 0.0f;
      if (raises_trapped_condition([&] { q = static_cast<float>(1.0 / static_cast<double>(masses[a])); }))
        throw RunWouldEnd{"card " + std::to_string(card_) + ": the reciprocal of the mass of atom " +
                          std::to_string(a + 1) + " meets a floating-point trap"};
    }
    if (card.u_mode == 0) continue;

    if (card.u_mode > 0) {
      if (!read_u(m, prob)) return std::nullopt;
    } else {
      const bool fits = stored_u_usable_ && !stored_u_.empty() &&
                        std::all_of(stored_u_.begin(), stored_u_.end() - 1,
                                    [&](const Element& e) { return e.col <= prob.coordinates; });
      if (!fits) return std::nullopt;  // the stored-U report
      for (auto it = stored_u_.begin(); it + 1 < stored_u_.end(); ++it)
        m.u.push_back({it->row, it->col, double(it->value)});
    }

    // Block card: a boundary count below 2 reads no card.
    if (card.boundary_count < 2) return std::nullopt;
    std::vector<std::int32_t> blocks(static_cast<std::size_t>(card.boundary_count), 0);
    statement("a block card", card.boundary_count, 24, [&](int& item) {
      ReadStatement rd(*deck_, "(24I3)");
      for (item = 0; item < card.boundary_count; ++item)
        rd.read_integer(blocks[static_cast<std::size_t>(item)]);
      rd.end_read();
    });
    m.boundaries.assign(blocks.begin(), blocks.end());
    if (check_block_card(blocks, card.symmetry_count)) return std::nullopt;
  }
}

// The engine's own U builder checks each triple and normalises the rows
// when the end triple comes.
bool Replay::read_u(MassSet& m, const Problem& prob) {
  UMatrixBuilder builder(m.symmetry_count, prob.coordinates, stored_u_);
  stored_u_usable_ = false;
  for (;;) {
    std::int32_t rows[4] = {};
    std::int32_t columns[4] = {};
    float values[4] = {};
    statement("a U-matrix card", 12, 12, [&](int&) {
      ReadStatement rd(*deck_, "(4(2I3,F12.6))");
      for (int k = 0; k < 4; ++k) rd.read_integer(rows[k]).read_integer(columns[k]).read_real(values[k]);
      rd.end_read();
    });
    for (int k = 0; k < 4; ++k) {
      UTripleOutcome outcome = UTripleOutcome::skipped;
      if (raises_trapped_condition([&] { outcome = builder.take(rows[k], columns[k], values[k]); }))
        throw RunWouldEnd{
            "card " + std::to_string(card_) +
            ": a U row without a non-zero value meets a floating-point trap (division by zero)"};
      if (outcome == UTripleOutcome::error) return false;
      if (outcome == UTripleOutcome::complete) {
        stored_u_usable_ = prob.save > 0;
        for (auto it = stored_u_.begin(); it + 1 < stored_u_.end(); ++it)
          m.u.push_back({it->row, it->col, double(it->value)});
        return true;
      }
    }
  }
}

}  // namespace

Deck replay_deck(const std::filesystem::path& path) { return Replay(path).run(); }

}  // namespace korven::kit
