// Linear bend: the bending of a straight chain A-B-C (B the centre) towards a
// reference point P read from the deck, and, when asked, perpendicular to
// both the chain and P.
#include <cmath>

#include "bmatrix/kind_support.h"
#include "bmatrix/kinds.h"
#include "records/listing_layouts.h"
#include "records/record_io.h"

namespace korven {

namespace {

// The reference-point card: P in three fields of twelve columns.
Vec3 read_reference_point(Unit& deck) {
  Vec3 p{};
  ReadStatement rd(deck, "(3F12.6)");
  rd.read_real(p[0]).read_real(p[1]).read_real(p[2]);
  rd.end_read();
  return p;
}

void write_three(Unit& listing, float a, float b, float c) {
  write_record(listing, layouts::kLinearBendThree, a, b, c);
}

void write_two(Unit& listing, float a, float b) {
  write_record(listing, layouts::kLinearBendTwo, a, b);
}

// Appends the three elements of one direction component d_k: the gradient of
// -d . (x_A - x_B) / r_u - d . (x_C - x_B) / r_v at the straight chain.
void append_triple(ElementList& b, const LinearBendFrame& f, double s, std::int32_t row,
                   std::int32_t a, std::int32_t centre, std::int32_t c, int n, float d) {
  append_element(b, row, column(a, n), -s * d / f.ru);
  append_element(b, row, column(c, n), -s * d / f.rv);
  append_element(b, row, column(centre, n), s * d * (1.0 / f.rv + 1.0 / f.ru));
}

}  // namespace

LinearBendFrame compute_linear_bend_frame(const Positions& x, std::int32_t a, std::int32_t centre,
                                          std::int32_t c, const Vec3& p) {
  LinearBendFrame f;
  const Vec3& xb = position(x, centre);
  const Vec3 u = difference(position(x, a), xb);
  const Vec3 v = difference(position(x, c), xb);
  const Vec3 w = difference(p, xb);
  f.ru = length(u);
  f.rv = length(v);
  f.rw = length(w);
  f.eu = scaled_down(u, f.ru);
  f.ev = scaled_down(v, f.rv);
  f.ew = scaled_down(w, f.rw);
  f.c1 = dot(f.eu, f.ev);
  f.c2 = dot(f.eu, f.ew);
  return f;
}

void append_linear_bend_rows(ElementList& b, const LinearBendFrame& f, float s, std::int32_t row,
                             std::int32_t pair_row, std::int32_t a, std::int32_t centre,
                             std::int32_t c, bool two_rows, std::int32_t& error) {
  // Either side of the centre may hold A: c1 near -1 and near +1 both pass.
  if (double(kLinearityTolerance) - std::fabs(std::fabs(double(f.c1)) - 1.0) < 0.0) {
    error = kDegenerateGeometry;  // the chain is bent
    return;
  }
  if (double(kSizeThreshold) - std::fabs(double(f.c2)) < 0.0) {
    error = kDegenerateGeometry;  // P does not stand perpendicular to the chain
    return;
  }

  // Wilson, Decius and Cross, "Molecular Vibrations" (1955), the s vectors of
  // a linear bend in a direction d perpendicular to the chain:
  //   s_A = -d / r_u,  s_C = -d / r_v,  s_B = d (1/r_u + 1/r_v).
  // The size test is made on the direction component, and an atom triple is
  // kept or dropped together.
  for (int n = 0; n < 3; ++n) {
    if (passes_size_test(f.ew[n])) append_triple(b, f, s, row, a, centre, c, n, f.ew[n]);
  }
  if (!two_rows) return;
  const Vec3 normal = cross(f.ev, f.ew);
  for (int n = 0; n < 3; ++n) {
    if (passes_size_test(normal[n])) append_triple(b, f, s, pair_row, a, centre, c, n, normal[n]);
  }
}

void linear_bend_rows(ElementList& b, const Positions& x, std::int32_t atoms, std::int32_t row,
                      std::int32_t pair_row, std::int32_t i, std::int32_t j, std::int32_t k,
                      std::int32_t l, std::int32_t ix, std::int32_t jx, std::int32_t& error,
                      Unit& deck, Unit& listing) {
  // With L positive the chain is J-K-L and I is not looked at; a negative L
  // is rejected only after the reference-point card has been read.
  const bool in_range = scale_fields_valid(ix, jx, atoms) && l <= atoms &&
                        names_atom(k, atoms) && names_atom(j, atoms) &&
                        (l != 0 || names_atom(i, atoms));
  if (!in_range) {
    error = kFieldOutOfRange;  // the reference-point card stays unread
    return;
  }

  const Vec3 p = read_reference_point(deck);
  write_three(listing, p[0], p[1], p[2]);
  if (l < 0) {
    error = kFieldOutOfRange;
    return;
  }

  const bool two_rows = l > 0;
  const std::int32_t a = two_rows ? j : i;
  const std::int32_t centre = two_rows ? k : j;
  const std::int32_t c = two_rows ? l : k;
  const LinearBendFrame f = compute_linear_bend_frame(x, a, centre, c, p);
  for (int n = 0; n < 3; ++n) write_three(listing, f.eu[n], f.ev[n], f.ew[n]);
  write_two(listing, f.c1, f.c2);

  append_linear_bend_rows(b, f, scale_length(x, ix, jx), row, pair_row, a, centre, c, two_rows,
                          error);
}

}  // namespace korven
