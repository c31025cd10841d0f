// The B-row routines on hand-worked geometries: element order and values,
// the size tests, scale lengths and the error codes in their order.
#include <gtest/gtest.h>

#include <cmath>

#include "bmatrix/b_matrix.h"
#include "bmatrix/kinds.h"
#include "bmatrix/test_support.h"

namespace korven {
namespace {

using testing::expect_elements;
using testing::positions;
using testing::scaled;

using Routine = decltype(&stretch_row);
struct Fields {
  std::int32_t i, j, k, l, ix, jx;
};

std::int32_t run(Routine routine, const Positions& x, Fields f, ElementList& b,
                 std::int32_t row = 1) {
  std::int32_t error = 0;
  routine(b, x, static_cast<std::int32_t>(x.size()), row, f.i, f.j, f.k, f.l, f.ix, f.jx, error);
  return error;
}

// Every entry must be rejected with the given code, appending nothing.
void expect_rejected(Routine routine, const Positions& x, std::initializer_list<Fields> entries,
                     std::int32_t code) {
  for (const Fields& f : entries) {
    ElementList b;
    EXPECT_EQ(run(routine, x, f, b), code) << f.i << ' ' << f.j << ' ' << f.k << ' ' << f.l
                                           << ' ' << f.ix << ' ' << f.jx;
    EXPECT_TRUE(b.empty());
  }
}

const Positions kRightAngle = positions({{1, 0, 0}, {0, 0, 0}, {0, 1, 0}});
const std::vector<Element> kBendRow = {{1, 7, -1.0f}, {1, 4, 1.0f}, {1, 2, -1.0f}, {1, 5, 1.0f}};
const Positions kWag = positions({{0, 0.5f, 1}, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
const std::vector<Element> kWagRow = {
    {1, 2, -0.8f}, {1, 5, 0.8f}, {1, 3, 0.4f}, {1, 12, -1.0f}, {1, 6, 0.6f}};
const Positions kTwist = positions({{0, 1, 0}, {0, 0, 0}, {1, 0, 0}, {1, 0, 1}});
const std::vector<Element> kTwistRow = {{1, 11, -1.0f}, {1, 8, 1.0f}, {1, 3, -1.0f}, {1, 6, 1.0f}};

TEST(StretchRow, ElementsInOrder) {
  const Positions x = positions({{0, 0, 0}, {1, 0, 0}, {3, 5, 9}});
  ElementList b;
  EXPECT_EQ(run(stretch_row, x, {1, 2, 0, 0, 0, 0}, b), 0);
  expect_elements(b, {{1, 1, -1.0f}, {1, 4, 1.0f}});
  b.clear();
  EXPECT_EQ(run(stretch_row, x, {2, 1, 0, 0, 0, 0}, b), 0);
  expect_elements(b, {{1, 4, 1.0f}, {1, 1, -1.0f}});
  b.clear();  // d = (2, 5, 9), r = sqrt(110)
  EXPECT_EQ(run(stretch_row, x, {2, 3, 0, 0, 0, 0}, b, 12), 0);
  const float r = std::sqrt(110.0f);
  expect_elements(b, {{12, 4, -2 / r}, {12, 7, 2 / r}, {12, 5, -5 / r}, {12, 8, 5 / r},
                      {12, 6, -9 / r}, {12, 9, 9 / r}});
}

TEST(StretchRow, SizeTestIsStrictAndOnTheCoordinateDifference) {
  // Coincident atoms: no element and no error.
  ElementList b;
  EXPECT_EQ(run(stretch_row, positions({{1, 1, 1}, {1, 1, 1}}), {1, 2, 0, 0, 0, 0}, b), 0);
  EXPECT_TRUE(b.empty());
  // A difference of 0.00004 is dropped however long the bond; exactly the
  // threshold is dropped too, the next float above it kept.
  const float above = std::nextafter(kSizeThreshold, 1.0f);
  const Positions x = positions({{0, 0, 0}, {100, 0.00004f, 0}, {0, kSizeThreshold, above}});
  EXPECT_EQ(run(stretch_row, x, {1, 2, 0, 0, 0, 0}, b), 0);
  expect_elements(b, {{1, 1, -1.0f}, {1, 4, 1.0f}});
  b.clear();
  EXPECT_EQ(run(stretch_row, x, {1, 3, 0, 0, 0, 0}, b), 0);
  const float half = std::sqrt(0.5f);
  expect_elements(b, {{1, 3, -half}, {1, 9, half}});
}

TEST(StretchRow, FieldErrors) {
  expect_rejected(stretch_row, kRightAngle,
                  {{1, 2, 3, 0, 0, 0}, {1, 2, 0, 1, 0, 0}, {1, 2, 0, 0, 1, 0}, {1, 2, 0, 0, 0, 1},
                   {1, 4, 0, 0, 0, 0}, {4, 1, 0, 0, 0, 0}, {0, 2, 0, 0, 0, 0}, {1, -2, 0, 0, 0, 0},
                   {1, 2, -1, 0, 0, 0}},
                  kFieldOutOfRange);
}

TEST(BendRow, RightAngleAndScaleLength) {
  // IX = 0 with any JX up to N, and IX = JX, leave the row unscaled.
  for (const Fields& f : {Fields{1, 2, 3, 0, 0, 0}, Fields{1, 2, 3, 0, 0, 3},
                          Fields{1, 2, 3, 0, -4, 0}, Fields{1, 2, 3, 0, 2, 2}}) {
    ElementList b;
    EXPECT_EQ(run(bend_row, kRightAngle, f, b), 0);
    expect_elements(b, kBendRow);
  }
  ElementList b;  // atoms 1 and 3 are sqrt(2) apart
  EXPECT_EQ(run(bend_row, kRightAngle, {1, 2, 3, 0, 1, 3}, b), 0);
  expect_elements(b, scaled(kBendRow, std::sqrt(2.0)));
}

TEST(SizeTest, BendTestsScaledValuesOutOfPlaneAndTorsionUnscaled) {
  // A scale length of 0.00004 (atoms 5 and 6) brings every bend element
  // under the threshold, but keeps every element of the other angle kinds.
  const Positions x = positions({{0.2f, 0.5f, 1}, {0, 0, 0}, {1, 0.1f, 0}, {0.1f, 1, 0.2f},
                                 {5, 5, 5}, {5.00004f, 5, 5}});
  const double s = double(x[5][0]) - x[4][0];
  ElementList b;
  EXPECT_EQ(run(bend_row, x, {1, 2, 3, 0, 5, 6}, b), 0);
  EXPECT_TRUE(b.empty());
  for (Routine routine : {&out_of_plane_row, &torsion_row}) {
    ElementList unscaled, tiny;
    EXPECT_EQ(run(routine, x, {1, 2, 3, 4, 0, 0}, unscaled), 0);
    EXPECT_EQ(run(routine, x, {1, 2, 3, 4, 5, 6}, tiny), 0);
    EXPECT_EQ(unscaled.size(), 12u);
    ASSERT_EQ(tiny.size(), unscaled.size());
    for (std::size_t n = 0; n < tiny.size(); ++n)
      EXPECT_NEAR(tiny[n].value, unscaled[n].value * s, 1e-6 * std::fabs(tiny[n].value));
  }
}

TEST(BendRow, Rejections) {
  // The atoms are collinear, yet field errors are found first.
  const Positions straight = positions({{-1, 0, 0}, {0, 0, 0}, {2, 0, 0}});
  expect_rejected(bend_row, straight,
                  {{1, 2, 3, 1, 0, 0}, {1, 2, 4, 0, 0, 0}, {0, 2, 3, 0, 0, 0}, {1, 2, 3, 0, 4, 1},
                   {1, 2, 3, 0, 0, 4}, {1, 2, 3, 0, 1, 0}},
                  kFieldOutOfRange);
  expect_rejected(bend_row, straight, {{1, 2, 3, 0, 0, 0}}, kDegenerateGeometry);
  expect_rejected(bend_row, positions({{1, 0, 0}, {0, 0, 0}, {2, 0, 0}}), {{1, 2, 3, 0, 0, 0}},
                  kDegenerateGeometry);
}

TEST(OutOfPlaneRow, BondAboveThePlane) {
  ElementList b;
  EXPECT_EQ(run(out_of_plane_row, kWag, {1, 2, 3, 4, 0, 0}, b), 0);
  expect_elements(b, kWagRow);
}

TEST(OutOfPlaneRow, Rejections) {
  // K, J, L in a line span no plane; this is found before the angle.
  const Positions no_plane = positions({{0, 0, 1}, {0, 0, 0}, {1, 0, 0}, {-2, 0, 0}});
  expect_rejected(out_of_plane_row, no_plane, {{1, 2, 3, 5, 0, 0}, {1, 2, 3, 0, 0, 0}},
                  kFieldOutOfRange);
  expect_rejected(out_of_plane_row, no_plane, {{1, 2, 3, 4, 0, 0}}, kDegenerateGeometry);
  // The bond J->I normal to the plane: the tangent is infinite.
  expect_rejected(out_of_plane_row, positions({{0, 0, 1}, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}}),
                  {{1, 2, 3, 4, 0, 0}}, kPerpendicularOutOfPlane);
}

TEST(TorsionRow, NinetyDegreesWithAndWithoutScale) {
  ElementList b;
  EXPECT_EQ(run(torsion_row, kTwist, {1, 2, 3, 4, 0, 0}, b), 0);
  expect_elements(b, kTwistRow);
  b.clear();  // atoms 1 and 4 are sqrt(3) apart
  EXPECT_EQ(run(torsion_row, kTwist, {1, 2, 3, 4, 1, 4}, b), 0);
  expect_elements(b, scaled(kTwistRow, 1.732051));
}

TEST(TorsionRow, Rejections) {
  const Positions straight_ijk = positions({{-1, 0, 0}, {0, 0, 0}, {1, 0, 0}, {1, 1, 0}});
  expect_rejected(torsion_row, straight_ijk, {{1, 2, 3, 4, 5, 1}, {1, 2, 3, 4, 1, 0}},
                  kFieldOutOfRange);
  expect_rejected(torsion_row, straight_ijk, {{1, 2, 3, 4, 0, 0}}, kDegenerateGeometry);
  expect_rejected(torsion_row, positions({{0, 1, 0}, {0, 0, 0}, {1, 0, 0}, {3, 0, 0}}),
                  {{1, 2, 3, 4, 0, 0}}, kDegenerateGeometry);
}

TEST(PlanarMolecule, OutOfPlaneAndTorsionRowsHoldZElementsOnly) {
  const Positions x = positions(
      {{0.3f, 1.1f, 0}, {0, 0, 0}, {1.2f, -0.2f, 0}, {-0.7f, -0.9f, 0}, {2.0f, 0.8f, 0}});
  for (auto [routine, f] : {std::pair{&out_of_plane_row, Fields{1, 2, 3, 4, 0, 0}},
                            std::pair{&torsion_row, Fields{1, 2, 3, 5, 0, 0}}}) {
    ElementList b;
    EXPECT_EQ(run(routine, x, f, b), 0);
    EXPECT_FALSE(b.empty());
    EXPECT_LE(b.size(), 4u);
    for (const Element& e : b) EXPECT_EQ(e.col % 3, 0) << "column " << e.col;
  }
}

// The linear bend's geometry, with its reference point given directly.
const Positions kChain = positions({{-1, 0, 0}, {0, 0, 0}, {2, 0, 0}});

TEST(LinearBendRows, SizeTestIsOnTheDirectionAndKeepsTriplesTogether) {
  LinearBendFrame f = compute_linear_bend_frame(kChain, 1, 2, 3, {0, 1, 0});
  // The x component passes although its elements (1e-5) do not; the z
  // component fails although its elements would pass.
  f.ru = f.rv = 10;
  f.ew = {0.0001f, 1, 0};
  ElementList b;
  std::int32_t error = 0;
  append_linear_bend_rows(b, f, 1.0f, 1, 2, 1, 2, 3, false, error);
  ASSERT_EQ(b.size(), 6u);
  EXPECT_NEAR(b[0].value, -1e-5, 1e-9);
  f.ru = f.rv = 0.1f;
  f.ew = {0, 1, 0.00004f};
  b.clear();
  append_linear_bend_rows(b, f, 1.0f, 1, 2, 1, 2, 3, false, error);
  EXPECT_EQ(b.size(), 3u);
  EXPECT_EQ(error, 0);
}

TEST(LinearBendRows, StraightnessAndPerpendicularity) {
  struct Case {
    float c1, c2;
    std::int32_t error;
  };
  const Case cases[] = {
      {-1.0f, 0.0f, 0},
      {1.0f, 0.0f, 0},  // both ends on one side of the centre
      {-0.99995f, 0.0f, 0},
      {0.99995f, 0.0f, 0},
      {-0.9998f, 0.0f, kDegenerateGeometry},
      {0.9998f, 0.0f, kDegenerateGeometry},
      {-1.0f, kSizeThreshold, 0},  // at the threshold still perpendicular
      {-1.0f, -std::nextafter(kSizeThreshold, 1.0f), kDegenerateGeometry},
      {-1.0f, -0.0001f, kDegenerateGeometry},
  };
  for (const Case& c : cases) {
    LinearBendFrame f = compute_linear_bend_frame(kChain, 1, 2, 3, {0, 1, 0});
    f.c1 = c.c1;
    f.c2 = c.c2;
    ElementList b;
    std::int32_t error = 0;
    append_linear_bend_rows(b, f, 1.0f, 1, 2, 1, 2, 3, true, error);
    EXPECT_EQ(error, c.error) << "c1 " << c.c1 << " c2 " << c.c2;
    EXPECT_EQ(b.empty(), c.error != 0);
  }
}

}  // namespace
}  // namespace korven
