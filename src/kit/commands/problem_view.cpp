#include "kit/commands/problem_view.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "kit/base/kit_error.h"
#include "kit/base/text.h"
#include "kit/io/engine_run.h"
#include "kit/io/listing_reader.h"
#include "kit/model/internal_coordinate.h"
#include "kit/model/molecule.h"

namespace korven::kit {

namespace {

// The atoms (from 1) that the entries of a row of the walk name.
std::vector<int> row_atoms(const DeckProblem& p, const DeckRow& row) {
  std::vector<int> atoms;
  for (int e : row.entries) {
    const CoordinateEntry& c = p.entries[static_cast<std::size_t>(e)];
    for (int a : {c.i, c.j, c.k, c.l, c.ix, c.jx})
      if (a > 0) atoms.push_back(a);
  }
  return atoms;
}

// The first B element of `listed` that the deck's walk and X cannot have
// given: an element on an atom its row's coordinate does not name, or a
// plain stretch whose row is not the unit vector between its atoms in X.
std::optional<std::string> b_difference(const DeckProblem& p, const ListedProblem& listed) {
  const std::vector<DeckRow> rows = deck_rows(p);
  for (const MatrixElement& e : listed.b) {
    if (e.row < 1 || e.row > static_cast<int>(rows.size())) continue;
    const DeckRow& row = rows[static_cast<std::size_t>(e.row - 1)];
    const std::vector<int> atoms = row_atoms(p, row);
    const int atom = (e.column - 1) / 3 + 1;
    if (std::find(atoms.begin(), atoms.end(), atom) == atoms.end())
      return "B row " + std::to_string(e.row) + " has an element on atom " + std::to_string(atom) +
             ", which the deck's coordinate " + std::to_string(e.row) + " does not name";
    if (row.entries.size() != 1 || row.component != 0) continue;
    const CoordinateEntry& c = p.entries[static_cast<std::size_t>(row.entries.front())];
    if (c.code != 1 || c.i < 1 || c.j < 1 || c.i > static_cast<int>(p.x.size()) || c.j > static_cast<int>(p.x.size()))
      continue;
    const Vec3 d = p.x[static_cast<std::size_t>(c.i - 1)] - p.x[static_cast<std::size_t>(c.j - 1)];
    if (d.norm() == 0) continue;
    const double sign = atom == c.i ? 1.0 : -1.0;
    const double expected = sign * d((e.column - 1) % 3) / d.norm();
    if (std::abs(std::abs(e.value) - std::abs(expected)) > 2e-5)
      return "B row " + std::to_string(e.row) + " (a stretch) is not the deck's X: " + format("%.6f", e.value) +
             " listed, " + format("%.6f", expected) + " from the deck";
  }
  return std::nullopt;
}

std::optional<std::string> problem_difference(const DeckProblem& p, const ListedProblem& l) {
  const auto differ = [](const std::string& what, const auto& deck, const auto& listing) {
    std::ostringstream out;
    out << what << " " << deck << " in the deck, " << listing << " in the listing";
    return out.str();
  };
  if (l.number != p.number) return differ("problem number", p.number, l.number);
  if (l.atoms != static_cast<int>(p.x.size())) return differ("atoms", p.x.size(), l.atoms);
  if (l.nic != p.nic) return differ("internal coordinates", p.nic, l.nic);
  if (l.title1 != trimmed_right(p.title1)) return differ("title", "\"" + trimmed_right(p.title1) + "\"", "\"" + l.title1 + "\"");
  if (l.mass_sets.size() > p.mass_sets.size()) return differ("mass sets", p.mass_sets.size(), l.mass_sets.size());
  for (std::size_t m = 0; m < l.mass_sets.size(); ++m) {
    const std::vector<double>& listed = l.mass_sets[m].masses;
    const std::vector<double>& deck = p.mass_sets[m].masses;
    for (std::size_t a = 0; a < listed.size() && a < deck.size(); ++a)
      if (std::abs(listed[a] - deck[a]) > 1e-6 * (1 + std::abs(deck[a])))
        return "mass set " + std::to_string(m + 1) + ", atom " + std::to_string(a + 1) + ": mass " +
               format("%.6f", deck[a]) + " in the deck, " + format("%.6f", listed[a]) + " in the listing";
  }
  return b_difference(p, l);
}

}  // namespace

void check_listing_of_deck(const Deck& deck, const Listing& listing, const std::string& deck_name,
                           const std::string& listing_path) {
  const auto refuse = [&](const std::string& why) {
    throw input_error(listing_path, "is not the listing of " + deck_name + ": " + why);
  };
  if (listing.problems.size() > deck.problems.size())
    refuse("it lists " + plural(static_cast<long long>(listing.problems.size()), "problem") + ", the deck has " +
           std::to_string(deck.problems.size()));
  for (std::size_t k = 0; k < listing.problems.size(); ++k)
    if (const auto why = problem_difference(deck.problems[k], listing.problems[k]))
      refuse("problem " + std::to_string(k + 1) + ": " + *why);
}

Listing listing_of(const Deck& deck, const std::string& deck_name, const std::string& listing_path) {
  if (listing_path.empty()) return run_and_read(deck_name);
  Listing listing = read_listing_file(listing_path);
  check_listing_of_deck(deck, listing, deck_name, listing_path);
  return listing;
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
      m.group = find_point_group(deck.x, masses, std::vector<int>(static_cast<std::size_t>(atoms), 0),
                                 kSymmetryTolerance,
                                 notes.other_axes.count(deck.number) ? AxesChoice::other : AxesChoice::standard);
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
