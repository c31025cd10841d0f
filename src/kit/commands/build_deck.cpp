#include "kit/commands/build_deck.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "kit/base/elements.h"
#include "kit/base/kit_error.h"
#include "kit/base/text.h"
#include "kit/coordinates/coordinate_generation.h"
#include "kit/coordinates/independence.h"
#include "kit/coordinates/wilson_b.h"
#include "kit/model/deck_notes.h"
#include "kit/model/internal_coordinate.h"
#include "kit/symmetry/point_group.h"
#include "kit/symmetry/symmetry_coordinates.h"

namespace korven::kit {
namespace {

// The value the deck will hold: the double as written to six decimals.
double as_written(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6f", v);
  return std::strtod(text, nullptr);
}

std::string cut(std::string text, std::size_t width, const std::string& what, std::vector<std::string>& warnings) {
  if (text.size() > width) {
    warnings.push_back(what + " is longer than " + std::to_string(width) + " columns and was cut: \"" + text + "\"");
    text.resize(width);
  }
  return text;
}

// Positions moved so that the centre of mass is at the origin, as written.
std::vector<Vec3> written_positions(const Molecule& m, const std::string& file, int problem) {
  std::vector<Vec3> positions;
  std::vector<double> masses;
  for (const Atom& a : m.atoms) positions.push_back(a.position), masses.push_back(a.mass);
  const Vec3 centre = centre_of_mass(positions, masses);
  std::vector<Vec3> x;
  for (std::size_t i = 0; i < m.atoms.size(); ++i) {
    Vec3 p;
    for (int k = 0; k < 3; ++k) {
      const double v = m.atoms[i].position(k) - centre(k);
      if (!std::isfinite(v))
        throw input_error(file, "molecule " + std::to_string(problem) + ": atom " + std::to_string(i + 1) +
                                    " has a coordinate that is not a number");
      if (std::abs(as_written(v)) > 9999.999999)
        throw input_error(file, "molecule " + std::to_string(problem) + ": atom " + std::to_string(i + 1) +
                                    " lies " + format("%.1f", std::abs(v)) +
                                    " A from the centre of mass; the deck's 12 columns hold at most 9999.999999");
      p(k) = as_written(v);
    }
    x.push_back(p);
  }
  return x;
}

void check_atoms(const Molecule& m, const std::vector<Vec3>& x, const std::string& file, int problem) {
  const std::string where = "molecule " + std::to_string(problem) + ": ";
  const int n = static_cast<int>(m.atoms.size());
  if (n == 0) throw input_error(file, where + "no atoms");
  if (n == 1) throw input_error(file, where + "a single atom has no internal coordinates");
  if (n > kMaxDeckAtoms)
    throw input_error(file, where + std::to_string(n) + " atoms; a deck holds at most " + std::to_string(kMaxDeckAtoms));
  for (int a = 0; a < n; ++a)
    for (int b = a + 1; b < n; ++b) {
      const double d = (x[a] - x[b]).norm();
      if (d < kMinAtomDistance)
        throw input_error(file, where + "atoms " + std::to_string(a + 1) + " and " + std::to_string(b + 1) + " are " +
                                    format("%.4f", d) + " A apart, closer than " + format("%.2f", kMinAtomDistance) + " A");
    }
}

// The deck entries of the chosen coordinates. A linear bend with both
// components is one CODE 5 entry; a lone component is a CODE 6 entry with
// L = 0 and its own reference point.
std::vector<CoordinateEntry> entries_for(const std::vector<InternalCoordinate>& cs, const std::vector<Vec3>& x) {
  std::vector<CoordinateEntry> out;
  for (std::size_t r = 0; r < cs.size(); ++r) {
    const InternalCoordinate& c = cs[r];
    const auto& t = c.atoms;
    CoordinateEntry e;
    switch (c.kind) {
      case CoordinateKind::stretch: e.code = 1, e.i = t[0] + 1, e.j = t[1] + 1; break;
      case CoordinateKind::bend: e.code = 2, e.i = t[0] + 1, e.j = t[1] + 1, e.k = t[2] + 1; break;
      case CoordinateKind::out_of_plane:
        e.code = 3, e.i = t[0] + 1, e.j = t[1] + 1, e.k = t[2] + 1, e.l = t[3] + 1;
        break;
      case CoordinateKind::torsion: e.code = 4, e.i = t[0] + 1, e.j = t[1] + 1, e.k = t[2] + 1, e.l = t[3] + 1; break;
      case CoordinateKind::linear_bend: {
        const bool pair = c.component == 1 && r + 1 < cs.size() && cs[r + 1].kind == CoordinateKind::linear_bend &&
                          cs[r + 1].component == 2 && cs[r + 1].atoms == c.atoms;
        Vec3 p = x[t[1]] + c.direction;
        for (int k = 0; k < 3; ++k) p(k) = as_written(p(k));
        e.reference_point = p;
        if (pair) {
          e.code = 5, e.i = 0, e.j = t[0] + 1, e.k = t[1] + 1, e.l = t[2] + 1;
          ++r;  // the second component is the entry's second row
        } else {
          e.code = 6, e.i = t[0] + 1, e.j = t[1] + 1, e.k = t[2] + 1, e.l = 0;
        }
        break;
      }
    }
    out.push_back(e);
  }
  return out;
}

std::vector<MassSet> mass_sets_for(const Molecule& m, const std::vector<Isotopologue>& isotopologues,
                                   const std::string& file, int problem, std::vector<std::string>& warnings) {
  std::vector<int> z;
  for (const Atom& a : m.atoms) z.push_back(a.element);
  MassSet first;
  first.title = cut(hill_formula(z), kMaxMassSetTitleColumns, "the mass-set title", warnings);
  for (const Atom& a : m.atoms) first.masses.push_back(a.mass);
  std::vector<MassSet> sets{first};
  for (const Isotopologue& choice : isotopologues) {
    MassSet s = first;
    s.title = choice.label;
    for (const auto& [atom, text] : choice.substitutions) {
      if (atom < 1 || atom > static_cast<int>(m.atoms.size()))
        throw input_error(file, "isotopologue " + choice.label + ": molecule " + std::to_string(problem) +
                                    " has no atom " + std::to_string(atom));
      const auto iso = parse_isotope(text);
      if (!iso) throw input_error(file, "isotopologue " + choice.label + ": unknown isotope " + text);
      if (iso->z != m.atoms[atom - 1].element)
        throw input_error(file, "isotopologue " + choice.label + ": atom " + std::to_string(atom) + " is " +
                                    element_symbol(m.atoms[atom - 1].element) + ", not " + element_symbol(iso->z));
      s.masses[atom - 1] = iso->mass;
    }
    sets.push_back(s);
  }
  return sets;
}

bool same_group(const PointGroup& a, const PointGroup& b) {
  if (a.type != b.type || a.operations.size() != b.operations.size()) return false;
  for (std::size_t k = 0; k < a.operations.size(); ++k)
    if (a.operations[k].permutation != b.operations[k].permutation ||
        !a.operations[k].matrix.isApprox(b.operations[k].matrix, 1e-9))
      return false;
  return true;
}

// The U cards of one set of symmetry coordinates: each row's coefficients as
// written, those that round to zero left out.
std::vector<MatrixElement> u_cards(const Matrix& u) {
  std::vector<MatrixElement> cards;
  for (Eigen::Index r = 0; r < u.rows(); ++r)
    for (Eigen::Index c = 0; c < u.cols(); ++c) {
      const double v = as_written(u(r, c));
      if (v != 0) cards.push_back({static_cast<int>(r) + 1, static_cast<int>(c) + 1, v});
    }
  return cards;
}

// The species in the mass-set title: "H2O C2v A1:1-2 B2:3", when it fits.
std::string titled(const std::string& title, const std::string& group, const std::vector<SymmetryBlock>& blocks) {
  std::string t = title + " " + group;
  for (const SymmetryBlock& b : blocks)
    t += " " + b.species + ":" + std::to_string(b.first_row + 1) +
         (b.size > 1 ? "-" + std::to_string(b.first_row + b.size) : "");
  if (t.size() <= static_cast<std::size_t>(kMaxMassSetTitleColumns)) return t;
  t = title + " " + group;
  return t.size() <= static_cast<std::size_t>(kMaxMassSetTitleColumns) ? t : title;
}

// A comment card per symmetry coordinate: its species and its terms, as
// far as the card's 80 columns hold them.
void symmetry_cards(int problem, int mass_set, const MassSet& set, const std::vector<SymmetryBlock>& blocks,
                    const std::vector<InternalCoordinate>& cs, const std::vector<int>& z,
                    std::vector<std::string>& comments) {
  std::vector<std::string> symbols;
  for (int e : z) symbols.push_back(element_symbol(e));
  std::vector<std::vector<std::pair<double, std::string>>> rows(static_cast<std::size_t>(set.symmetry_count));
  for (const MatrixElement& e : set.u)
    rows[static_cast<std::size_t>(e.row - 1)].emplace_back(e.value, coordinate_symbol(cs[static_cast<std::size_t>(e.column - 1)], symbols));
  for (const SymmetryBlock& blk : blocks)
    for (int r = blk.first_row; r < blk.first_row + blk.size; ++r) {
      const std::string head = symmetry_coordinate_note(problem, mass_set, r + 1, blk.species + " = ");
      comments.push_back(head + combination_text(rows[static_cast<std::size_t>(r)], kMaxTitleColumns - head.size()));
    }
}

// Symmetry coordinates for every mass set, each isotopologue with its own
// group; a mass set whose group is the one before it reuses the stored U.
void add_symmetry(DeckProblem& problem, const std::vector<int>& z, const std::vector<Vec3>& x,
                  const std::vector<InternalCoordinate>& cs, int vibrations, double tolerance,
                  std::vector<std::string>& comments, std::vector<std::string>& notes) {
  const Matrix b = wilson_b_matrix(x, cs);
  std::optional<PointGroup> previous;
  std::vector<SymmetryBlock> blocks;
  int nsym = 0;
  for (std::size_t k = 0; k < problem.mass_sets.size(); ++k) {
    MassSet& set = problem.mass_sets[k];
    const PointGroup group = find_point_group(x, set.masses, z, tolerance);
    const std::string title = set.title;
    if (previous && same_group(*previous, group)) {
      set.u_mode = -1;
      problem.save = 1;
    } else {
      const SymmetryCoordinates sc = symmetry_coordinates(b, group, vibrations);
      set.u_mode = 1;
      set.u = u_cards(sc.u);
      blocks = sc.blocks;
      nsym = static_cast<int>(sc.u.rows());
    }
    set.symmetry_count = nsym;
    set.boundaries.clear();
    for (const SymmetryBlock& blk : blocks) set.boundaries.push_back(blk.first_row + 1);
    set.boundaries.push_back(nsym + 1);
    set.title = titled(title, group.name(), blocks);
    const int m = static_cast<int>(k) + 1;
    comments.push_back(group_note(problem.number, m, title, group.name()));
    for (std::size_t j = 0; j < blocks.size(); ++j)
      comments.push_back(block_note(problem.number, m, static_cast<int>(j) + 1, blocks[j].species,
                                    blocks[j].first_row + 1, blocks[j].first_row + blocks[j].size));
    if (set.u_mode > 0) symmetry_cards(problem.number, m, set, blocks, cs, z, comments);
    notes.push_back("problem " + std::to_string(problem.number) + ", mass set " + title + ": point group " +
                    group.name() + ", " + std::to_string(blocks.size()) + (blocks.size() == 1 ? " block" : " blocks") +
                    (set.u_mode < 0 ? " (the stored U of the mass set before)" : ""));
    previous = group;
  }
}

// The positions the deck will hold: centred, and with --symmetry
// symmetrized under the group of the most abundant isotopes so that the
// symmetry is exact to the written digits. `shift_comment` gets the comment
// card that records the shift.
std::vector<Vec3> positions_for(const Molecule& source, int number, const BuildOptions& options, BuiltDeck& built,
                                std::optional<std::string>& shift_comment) {
  const std::string& file = options.source_name;
  std::vector<Vec3> x = written_positions(source, file, number);
  check_atoms(source, x, file, number);
  if (!options.symmetry) return x;
  std::vector<double> masses;
  std::vector<int> z;
  for (const Atom& a : source.atoms) masses.push_back(a.mass), z.push_back(a.element);
  const PointGroup group = find_point_group(x, masses, z, options.tolerance);
  const Symmetrized sym = symmetrize(x, group);
  if (sym.largest_shift > options.tolerance)
    throw input_error(file, "molecule " + std::to_string(number) + ": symmetrizing to " + group.name() +
                                " moves an atom by " + format("%.6f", sym.largest_shift) +
                                " A, more than the tolerance of " + format("%g", options.tolerance) + " A");
  for (std::size_t i = 0; i < x.size(); ++i)
    for (int k = 0; k < 3; ++k) x[i](k) = as_written(sym.positions[i](k) - group.center(k));
  shift_comment = shift_note(number, group.name(), sym.largest_shift);
  built.notes.push_back("molecule " + std::to_string(number) + ": symmetrized to " + group.name() +
                        ", largest shift " + format("%.6f", sym.largest_shift) + " A");
  return x;
}

// The coordinates the deck takes: the redundant set, or with --coordinates
// independent its rows kept in preference order.
std::vector<InternalCoordinate> chosen_coordinates(const GeneratedCoordinates& gen, const std::vector<Vec3>& x,
                                                   int number, int vibrations, const BuildOptions& options,
                                                   BuiltDeck& built) {
  std::vector<InternalCoordinate> chosen = gen.coordinates;
  if (options.coordinates == CoordinateMode::independent && !options.symmetry) {
    std::vector<SparseRow> rows;
    std::vector<int> ranks;
    for (const InternalCoordinate& c : chosen) rows.push_back(wilson_b_row(x, c)), ranks.push_back(traits(c.kind).preference);
    const std::vector<bool> kept = independent_rows(rows, 3 * static_cast<int>(x.size()), ranks, vibrations);
    std::vector<InternalCoordinate> subset;
    for (std::size_t r = 0; r < chosen.size(); ++r)
      if (kept[r]) subset.push_back(chosen[r]);
    chosen = subset;
    if (static_cast<int>(chosen.size()) < vibrations)
      built.warnings.push_back("molecule " + std::to_string(number) + ": the coordinates describe only " +
                               std::to_string(chosen.size()) + " of " + std::to_string(vibrations) + " vibrations");
  }
  if (static_cast<int>(chosen.size()) > kMaxDeckCoordinates)
    throw input_error(options.source_name,
                      "molecule " + std::to_string(number) + ": " + std::to_string(chosen.size()) +
                          " internal coordinates; a deck holds at most 999" +
                          (options.symmetry ? std::string(" (symmetry coordinates run over the whole redundant set)")
                                            : std::string(": try --coordinates independent")));
  return chosen;
}

// The comment cards of one problem: its summary line, the symmetrization
// shift, and each coordinate in words with its value.
void comments_for(int number, const std::vector<InternalCoordinate>& chosen, const std::vector<Vec3>& x,
                  const std::vector<std::string>& symbols, const std::string& formula, int vibrations,
                  const BuildOptions& options, const std::optional<std::string>& shift_comment, BuiltDeck& built) {
  std::vector<std::string>& comments = built.deck.comments;
  comments.push_back(cut("    P" + std::to_string(number) + " " + formula + ": " + std::to_string(x.size()) +
                             " atoms, " + std::to_string(chosen.size()) + " coordinates (" +
                             (options.coordinates == CoordinateMode::independent ? "independent" : "redundant") +
                             "), " + std::to_string(vibrations) + " vibrations",
                         80, "a comment", built.warnings));
  if (shift_comment) comments.push_back(*shift_comment);
  for (std::size_t r = 0; r < chosen.size(); ++r)
    comments.push_back(cut(coordinate_note(number, static_cast<int>(r) + 1, coordinate_label(chosen[r], symbols),
                                           coordinate_value_text(chosen[r], x)),
                           80, "a comment", built.warnings));
}

// One molecule's problem, with its comment cards, added to the deck.
void add_problem(const Molecule& source, int number, const BuildOptions& options, BuiltDeck& built) {
  const std::string& file = options.source_name;
  if (source.atoms.empty()) throw input_error(file, "molecule " + std::to_string(number) + ": no atoms");
  std::optional<std::string> shift_comment;
  const std::vector<Vec3> x = positions_for(source, number, options, built, shift_comment);
  Molecule m = source;
  std::vector<int> z;
  std::vector<std::string> symbols;
  for (std::size_t i = 0; i < x.size(); ++i) {
    m.atoms[i].position = x[i];
    z.push_back(m.atoms[i].element);
    symbols.push_back(element_symbol(m.atoms[i].element));
  }
  const GeneratedCoordinates gen = redundant_coordinates(m);
  for (const std::string& w : gen.warnings) built.warnings.push_back("molecule " + std::to_string(number) + ": " + w);
  const int atoms = static_cast<int>(x.size());
  const int vibrations = gen.linear_molecule ? 3 * atoms - 5 : 3 * atoms - 6;
  const std::vector<InternalCoordinate> chosen = chosen_coordinates(gen, x, number, vibrations, options, built);

  DeckProblem problem;
  problem.number = number;
  problem.nic = static_cast<int>(chosen.size());
  problem.save = options.save ? 1 : 0;
  const std::string formula = hill_formula(z);
  const std::string title = !options.title.empty() ? options.title : !source.title.empty() ? source.title : formula;
  problem.title1 = cut(title, kMaxTitleColumns, "the title", built.warnings);
  problem.title2 = cut(formula + ", " + std::to_string(atoms) + " ATOMS", kMaxTitleColumns, "the second title",
                       built.warnings);
  problem.x = x;
  problem.entries = entries_for(chosen, x);
  problem.mass_sets = mass_sets_for(m, options.isotopologues, file, number, built.warnings);
  std::vector<std::string> symmetry_comments;
  if (options.symmetry)
    add_symmetry(problem, z, x, chosen, vibrations, options.tolerance, symmetry_comments, built.notes);
  comments_for(number, chosen, x, symbols, formula, vibrations, options, shift_comment, built);
  for (std::string& c : symmetry_comments) built.deck.comments.push_back(cut(c, 80, "a comment", built.warnings));
  built.deck.problems.push_back(std::move(problem));
}

}  // namespace

Isotopologue parse_isotopologue(const std::string& text) {
  const std::string what = "--isotopologue " + text;
  const auto eq = text.find('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 == text.size())
    throw input_error(what, "expected LABEL=ATOM:ISOTOPE[,ATOM:ISOTOPE...]");
  Isotopologue choice;
  choice.label = text.substr(0, eq);
  if (choice.label.size() > static_cast<std::size_t>(kMaxMassSetTitleColumns))
    throw input_error(what, "the label is longer than the mass-set title's 60 columns");
  std::size_t pos = eq + 1;
  while (pos <= text.size()) {
    const std::size_t comma = std::min(text.find(',', pos), text.size());
    const std::string item = text.substr(pos, comma - pos);
    const auto colon = item.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == item.size())
      throw input_error(what, "\"" + item + "\" is not ATOM:ISOTOPE");
    const std::string atom = item.substr(0, colon);
    if (!std::all_of(atom.begin(), atom.end(), [](unsigned char ch) { return std::isdigit(ch); }) || atom.size() > 6)
      throw input_error(what, "\"" + atom + "\" is not an atom number");
    const std::string isotope = item.substr(colon + 1);
    if (!parse_isotope(isotope)) throw input_error(what, "unknown isotope " + isotope);
    choice.substitutions.emplace_back(std::stoi(atom), isotope);
    pos = comma + 1;
  }
  return choice;
}

std::string default_deck_name(const std::string& geometry_path) {
  std::string stem = std::filesystem::path(geometry_path).stem().string();
  std::string name;
  for (unsigned char ch : stem) {
    const char up = static_cast<char>(std::toupper(ch));
    if ((up >= 'A' && up <= 'Z') || (up >= '0' && up <= '9') || up == '_') name += up;
    if (name.size() == 8) break;
  }
  if (name.empty()) name = "DECK";
  return name + ".DAT";
}

BuiltDeck build_deck(const std::vector<Molecule>& molecules, const BuildOptions& options) {
  BuiltDeck built;
  Deck& deck = built.deck;
  const std::string& file = options.source_name;
  deck.comments.push_back("    Deck written by korvenkit " KORVEN_VERSION " build");
  deck.comments.push_back(cut("    from " + std::filesystem::path(file).filename().string(), 80,
                              "the comment naming the source file", built.warnings));
  if (options.symmetry && options.coordinates == CoordinateMode::independent)
    built.notes.push_back("--coordinates independent --symmetry is --symmetry: the symmetry coordinates "
                          "remove the redundancy of the full set");
  for (std::size_t p = 0; p < molecules.size(); ++p) {
    const int number = static_cast<int>(p) + 1;
    try {
      add_problem(molecules[p], number, options, built);
    } catch (const SymmetryError& e) {
      throw input_error(file, "molecule " + std::to_string(number) + ": " + e.what());
    }
  }
  return built;
}

}  // namespace korven::kit
