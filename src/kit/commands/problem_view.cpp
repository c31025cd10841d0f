#include "kit/commands/problem_view.h"

#include <algorithm>

#include "kit/base/kit_error.h"
#include "kit/base/text.h"
#include "kit/io/engine_run.h"
#include "kit/io/listing_reader.h"
#include "kit/model/internal_coordinate.h"
#include "kit/model/molecule.h"

namespace korven::kit {

Listing listing_of(const std::string& deck_name, const std::string& listing_path) {
  if (!listing_path.empty()) return read_listing_file(listing_path);
  return run_and_read(deck_name);
}

std::vector<int> chosen_problems(const std::string& deck_name, std::size_t count, std::optional<int> requested,
                                 bool need_one) {
  if (requested) {
    if (*requested < 1 || static_cast<std::size_t>(*requested) > count)
      throw input_error(deck_name, "has " + plural(static_cast<long long>(count), "problem") + "; --problem " +
                                       std::to_string(*requested) + " names none of them");
    return {*requested};
  }
  if (need_one && count > 1)
    throw input_error(deck_name, "holds " + std::to_string(count) +
                                     " problems; a Hessian is for one molecule: choose one with --problem");
  if (need_one && count == 0) throw input_error(deck_name, "holds no problem");
  std::vector<int> all(count);
  for (std::size_t p = 0; p < count; ++p) all[p] = static_cast<int>(p) + 1;
  return all;
}

ProblemView::ProblemView(const Deck& d, const Listing* listing, int pos, const std::string& name, bool find_groups)
    : position(pos), deck(d.problems.at(static_cast<std::size_t>(pos - 1))), deck_name(name) {
  if (listing && static_cast<std::size_t>(pos) <= listing->problems.size())
    listed = &listing->problems[static_cast<std::size_t>(pos - 1)];
  atoms = listed ? listed->atoms : static_cast<int>(deck.x.size());
  linear = is_linear_molecule(deck.x);
  vibrations = atoms <= 1 ? 0 : linear ? 3 * atoms - 5 : 3 * atoms - 6;
  rows = deck_rows(deck);
  b_rows = std::max(listed ? listed->nic : deck.nic, static_cast<int>(rows.size()));
  if (listed)
    for (const MatrixElement& e : listed->b) b_rows = std::max(b_rows, e.row);
  if (has_b()) {
    b.resize(static_cast<std::size_t>(b_rows));
    for (const MatrixElement& e : listed->b)
      if (e.row >= 1 && e.row <= b_rows && e.column >= 1 && e.column <= 3 * atoms)
        b[static_cast<std::size_t>(e.row - 1)].emplace_back(e.column - 1, e.value);
  }
  symbols = atom_symbols(deck);
  notes = read_deck_notes(d.comments);
  for (int r = 1; r <= b_rows; ++r) {
    const auto noted = notes.coordinates.find({deck.number, r});
    const DeckRow row = r <= static_cast<int>(rows.size()) ? rows[static_cast<std::size_t>(r - 1)] : DeckRow{r, {}, 0};
    labels.push_back(noted != notes.coordinates.end() ? noted->second : row_label(deck, row, symbols));
    classes.push_back(row_class(deck, row, symbols));
    short_names.push_back(row_symbol(deck, row, symbols));
  }
  if (listed)
    for (std::size_t k = 0; k < listed->mass_sets.size(); ++k)
      mass_sets.push_back(mass_set_view(static_cast<int>(k) + 1, find_groups));
}

MassSetView ProblemView::mass_set_view(int k, bool find_group) const {
  MassSetView m;
  m.number = k;
  m.listed = &listed->mass_sets[static_cast<std::size_t>(k - 1)];
  if (static_cast<std::size_t>(k) <= deck.mass_sets.size()) m.deck = &deck.mass_sets[static_cast<std::size_t>(k - 1)];
  const std::vector<double>& masses = m.listed->masses;
  m.masses_usable = static_cast<int>(masses.size()) == atoms;
  m.inverse_masses = Vector::Zero(3 * atoms);
  for (int a = 0; m.masses_usable && a < atoms; ++a) {
    if (masses[static_cast<std::size_t>(a)] == 0) m.masses_usable = false;
    else m.inverse_masses.segment(3 * a, 3).setConstant(1 / masses[static_cast<std::size_t>(a)]);
  }
  if (find_group && m.masses_usable && atoms >= 2) {
    try {
      m.group = find_point_group(deck.x, masses, std::vector<int>(static_cast<std::size_t>(atoms), 0));
    } catch (const std::exception& e) {
      m.group_fault = e.what();
    }
  }
  m.symmetrized = m.listed->symmetrized && m.deck;
  if (!m.symmetrized) return m;
  const int count = std::max(0, m.deck->symmetry_count);
  m.u = Matrix::Zero(count, b_rows);
  m.u_rows.resize(static_cast<std::size_t>(count));
  for (const MatrixElement& e : m.deck->u)
    if (e.row >= 1 && e.row <= count && e.column >= 1 && e.column <= b_rows) {
      m.u(e.row - 1, e.column - 1) += e.value;
      m.u_rows[static_cast<std::size_t>(e.row - 1)].emplace_back(e.column - 1, e.value);
    }
  for (int v : m.deck->boundaries) m.boundaries.push_back(v - 1);
  return m;
}

double ProblemView::symmetrization_shift() const {
  const auto shift = notes.shifts.find(deck.number);
  return shift != notes.shifts.end() ? shift->second : 0.0;
}

int ProblemView::b_rank() const {
  if (!b_rank_) b_rank_ = numeric_rank(singular_values(b, 3 * atoms), kRankFraction);
  return *b_rank_;
}

std::vector<int> ProblemView::row_preferences() const {
  std::vector<int> ranks(static_cast<std::size_t>(b_rows), traits(CoordinateKind::stretch).preference);
  for (const DeckRow& row : rows)
    if (row.row >= 1 && row.row <= b_rows && !row.entries.empty())
      ranks[static_cast<std::size_t>(row.row - 1)] =
          traits(kind_of_code(deck.entries[static_cast<std::size_t>(row.entries.front())].code)).preference;
  return ranks;
}

std::vector<BlockFinding> ProblemView::block_species_found(const MassSetView& m, std::string& fault) const {
  const std::vector<int>& bounds = m.boundaries;
  const std::size_t blocks = m.listed->blocks.size();
  const bool tiled = !bounds.empty() && bounds.front() == 0 && bounds.back() == m.u.rows() &&
                     std::is_sorted(bounds.begin(), bounds.end()) && blocks + 1 == bounds.size();
  if (!m.symmetrized || !m.group || !tiled || !has_b() || b_rank() != vibrations) return {};
  try {
    return block_species(m.u, bounds, dense_b(), *m.group, vibrations);
  } catch (const std::exception& e) {
    fault = e.what();
    return {};
  }
}

std::optional<std::string> ProblemView::noted_species(const MassSetView& m, int k) const {
  const auto it = notes.species.find({deck.number, m.number, k + 1});
  if (it == notes.species.end()) return std::nullopt;
  return it->second;
}

}  // namespace korven::kit
