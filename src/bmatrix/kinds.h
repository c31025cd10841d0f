// The B-row routines, one per kind of internal coordinate. Each checks its
// entry's fields, computes the derivatives of its coordinate with respect to
// the Cartesian coordinates at the problem's atom positions, and appends the
// elements that pass the size test to the B list.
//
// A routine that rejects its entry sets error (1 field out of range,
// 2 degenerate geometry, 3 out-of-plane angle of 90 degrees) and appends
// nothing; a routine that succeeds leaves error as it was.
//
// The routines run under the floating-point traps: coincident atoms of an
// angle reach a trapped 0/0 (invalid operation). Their frames hold only
// trivially destructible locals, so that a trap may leave them without
// unwinding.
#pragma once

#include <cstdint>

#include "bmatrix/element_list.h"
#include "bmatrix/vec3.h"
#include "deck/problem.h"
#include "records/units.h"

namespace korven {

// How far the cosine of a linear bend's angle may stray from -1 or +1.
inline constexpr float kLinearityTolerance = 0.0001f;

// CODE 1 and below: the distance from I to J. K, L, IX and JX must be 0.
void stretch_row(ElementList& b, const Positions& x, std::int32_t atoms, std::int32_t row,
                 std::int32_t i, std::int32_t j, std::int32_t k, std::int32_t l,
                 std::int32_t ix, std::int32_t jx, std::int32_t& error);

// CODE 2: the angle I-J-K at the apex J, times the scale length. L must be 0.
void bend_row(ElementList& b, const Positions& x, std::int32_t atoms, std::int32_t row,
              std::int32_t i, std::int32_t j, std::int32_t k, std::int32_t l,
              std::int32_t ix, std::int32_t jx, std::int32_t& error);

// CODE 3: the angle of the bond J->I against the plane K-J-L, times the
// scale length.
void out_of_plane_row(ElementList& b, const Positions& x, std::int32_t atoms, std::int32_t row,
                      std::int32_t i, std::int32_t j, std::int32_t k, std::int32_t l,
                      std::int32_t ix, std::int32_t jx, std::int32_t& error);

// CODE 4: the dihedral angle of the chain I-J-K-L, times the scale length.
void torsion_row(ElementList& b, const Positions& x, std::int32_t atoms, std::int32_t row,
                 std::int32_t i, std::int32_t j, std::int32_t k, std::int32_t l,
                 std::int32_t ix, std::int32_t jx, std::int32_t& error);

// CODE 5 and 6: the bending of the linear chain I-J-K (L = 0) or J-K-L
// (L > 0) towards a reference point read from the next deck card, and for
// L > 0 also perpendicular to it, in pair_row. The reference point, the unit
// vectors and the cosines are written to the listing.
void linear_bend_rows(ElementList& b, const Positions& x, std::int32_t atoms, std::int32_t row,
                      std::int32_t pair_row, std::int32_t i, std::int32_t j, std::int32_t k,
                      std::int32_t l, std::int32_t ix, std::int32_t jx, std::int32_t& error,
                      Unit& deck, Unit& listing);

// The geometry of a linear bend A-B-C (B the centre) with reference point P:
// the unit vectors from B to A, C and P, their lengths, and the cosines of
// the angle A-B-C and of the angle between B->A and B->P.
struct LinearBendFrame {
  Vec3 eu, ev, ew;
  float ru, rv, rw;
  float c1, c2;
};

LinearBendFrame compute_linear_bend_frame(const Positions& x, std::int32_t a, std::int32_t centre,
                                          std::int32_t c, const Vec3& p);

// Tests the frame for a straight chain and a perpendicular reference point
// (else error 2), then appends the row towards P and, when two_rows, the
// pair row perpendicular to both the axis and P, each scaled by s.
void append_linear_bend_rows(ElementList& b, const LinearBendFrame& f, float s, std::int32_t row,
                             std::int32_t pair_row, std::int32_t a, std::int32_t centre,
                             std::int32_t c, bool two_rows, std::int32_t& error);

}  // namespace korven
