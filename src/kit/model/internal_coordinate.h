// Internal coordinates: the kinds with what the kit knows of each (its name
// in labels, its CODE on the deck's cards, its place in the order of
// preference), a coordinate as the kit generates it from a molecule's bonds,
// and the one spelling of every coordinate and deck row in words.
// Atom indices are 0-based in an InternalCoordinate; the deck's are 1-based.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "kit/base/linalg.h"
#include "kit/model/deck.h"

namespace korven::kit {

enum class CoordinateKind { stretch, bend, linear_bend, out_of_plane, torsion };

struct CoordinateKindTraits {
  CoordinateKind kind;
  std::string_view name;  // "LINEAR BEND": as labels and the deck's comment cards spell it
  int code;               // the deck's CODE; a linear bend is 5 for a pair of components, 6 for one
  int preference;         // the order rows are offered for independence: stretches first
  int atoms;              // the atoms it names
};

const CoordinateKindTraits& traits(CoordinateKind kind);
// The kind of a deck entry's CODE: 2 bend, 3 out-of-plane, 4 torsion, 5 and
// 6 linear bend, anything else (1, 0 or negative) a stretch.
CoordinateKind kind_of_code(int code);

struct InternalCoordinate {
  CoordinateKind kind = CoordinateKind::stretch;
  // stretch: a, b; bend: end, apex, end; linear bend: end, centre, end;
  // out-of-plane: the atom out of the plane, the centre, the two plane atoms;
  // torsion: the chain.
  std::array<int, 4> atoms{-1, -1, -1, -1};
  // Linear bend: component 1 bends towards `direction`, component 2 towards
  // the unit vector along (C - B) × direction; both perpendicular to the axis.
  int component = 0;
  Vec3 direction = Vec3::Zero();
};

// "BEND H2-O1-H3", "LINEAR BEND(2) C1-C2-H3", "OUT-OF-PLANE H4-C1-H2-H3"
// (the atom out of the plane, the centre, the plane's two atoms): the kind,
// a linear bend's component, and the atoms numbered from 1 with their
// element symbols where `symbols` gives them (0-based, one per atom).
std::string coordinate_label(const InternalCoordinate& c, const std::vector<std::string>& symbols);

// The same words for a row of a deck's walk: its one entry (with " TIMES
// R(C1-H4)" for a scale length), "MEAN OF" its entries when several add to
// it, "ROW n" when none does.
std::string row_label(const DeckProblem& problem, const DeckRow& row, const std::vector<std::string>& symbols);

// The class of a row, as the potential-energy distribution in words sums
// it: the kind in lower case and the elements in order — "stretch O-H",
// "bend H-C-H", "linear bend O-C-O", "out-of-plane H-C" (the atom out of
// the plane, then the centre), "torsion C-C" (the central bond). A bond's
// atoms go the better-bonded first (the more stretches of the deck end
// there), then carbon, other elements alphabetically, hydrogen last, as
// chemists write C-H, O-H, S-O, C-Cl; a bend's ends likewise. A row of
// several entries takes its first entry's class; a row without one "other".
std::string row_class(const DeckProblem& problem, const DeckRow& row, const std::vector<std::string>& symbols);

// The short name of a row in a symmetry coordinate written out: r(O1-H2),
// a(H2-O1-H3) for a bend, b1(…) and b2(…) for a linear bend's components,
// w(H4-C1-H2-H3) for an out-of-plane angle, t(H3-C1-C2-H4) for a torsion;
// qN for row N when it is not one entry, or a scaled one.
std::string row_symbol(const DeckProblem& problem, const DeckRow& row, const std::vector<std::string>& symbols);
// The same for a coordinate the kit generated.
std::string coordinate_symbol(const InternalCoordinate& c, const std::vector<std::string>& symbols);

}  // namespace korven::kit
