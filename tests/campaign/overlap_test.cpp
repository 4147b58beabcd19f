// The cross-line check's grid and comparison on hand-made points, and its projection against
// the meridian arc.
#include "overlap.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <span>
#include <vector>

namespace campaign {
namespace {

TEST(LineGrid, AveragesEachCellAndFloorsNegativeCoordinates) {
  // Cell side 5 m: x = -0.1 lies in column -1, x = 0 and 4.9 in column 0, x = 5 in column 1.
  const std::vector<double> x = {-0.1, 0.0, 4.9, 5.0, 2.0};
  const std::vector<double> y = {1.0, 1.0, 4.9, 1.0, -3.0};
  const std::vector<double> h = {7.0, 1.0, 2.0, 4.0, 9.0};
  const LineGrid g = grid_points(x, y, h, 5.0);
  ASSERT_EQ(g.cells.size(), 4u);
  // Row -1: (2, -3); row 0: (-0.1, 1), then (0, 1) with (4.9, 4.9), then (5, 1).
  const int want_j[] = {-1, 0, 0, 0}, want_i[] = {0, -1, 0, 1};
  const float want_mean[] = {9.0f, 7.0f, 1.5f, 4.0f};
  for (std::size_t k = 0; k < 4; ++k) {
    EXPECT_EQ(g.cells[k].j, want_j[k]) << k;
    EXPECT_EQ(g.cells[k].i, want_i[k]) << k;
    EXPECT_EQ(g.cells[k].mean, want_mean[k]) << k;
  }
  EXPECT_EQ(g.ilo, -1);
  EXPECT_EQ(g.ihi, 1);
  EXPECT_EQ(g.jlo, -1);
  EXPECT_EQ(g.jhi, 0);
}

TEST(LineGrid, LeavesOutNonFinitePoints) {
  const LineGrid g = grid_points({1.0, NAN, 1.0}, {1.0, 1.0, INFINITY}, {2.0, 3.0, 4.0}, 5.0);
  ASSERT_EQ(g.cells.size(), 1u);
  EXPECT_EQ(g.cells[0].mean, 2.0f);
}

TEST(LineGrid, BatchesSumIntoTheSameCellsAsOnePass) {
  // The summary streams a line in batches: a cell whose points arrive in different batches
  // (row 0, column 0 here: one point in each of
  // the three batches) must get the mean of all of them.
  const std::vector<double> x = {1.0, 6.0, 2.0, -3.0, 3.0, 7.0}, y = {1.0, 1.0, 2.0, 1.0, 3.0, 9.0};
  const std::vector<double> h = {1.0, 5.0, 2.0, 8.0, 6.0, 4.0};
  GridAccumulator acc(5.0);
  for (std::size_t k = 0; k < x.size(); k += 2) {
    acc.add(std::span(x).subspan(k, 2), std::span(y).subspan(k, 2), std::span(h).subspan(k, 2));
  }
  const LineGrid batched = acc.grid(), whole = grid_points(x, y, h, 5.0);
  ASSERT_EQ(batched.cells.size(), 4u);
  ASSERT_EQ(whole.cells.size(), 4u);
  // Row 0: column -1, column 0 (heights 1, 2, 6), column 1; row 1: column 1.
  const float want_mean[] = {8.0f, 3.0f, 5.0f, 4.0f};
  for (std::size_t k = 0; k < 4; ++k) {
    EXPECT_EQ(batched.cells[k].mean, want_mean[k]) << k;
    EXPECT_EQ(batched.cells[k].i, whole.cells[k].i) << k;
    EXPECT_EQ(batched.cells[k].j, whole.cells[k].j) << k;
    EXPECT_EQ(batched.cells[k].mean, whole.cells[k].mean) << k;
  }
  EXPECT_EQ(batched.ilo, -1);
  EXPECT_EQ(batched.ihi, 1);
  EXPECT_EQ(batched.jlo, 0);
  EXPECT_EQ(batched.jhi, 1);
}

TEST(Overlap, DifferencesOnlyWhereBothLinesHaveCells) {
  // Line a: columns 0..3 of row 0 at heights 1, 2, 3, 4; line b: columns 2..5 at 0.5 each.
  const LineGrid a = grid_points({1, 6, 11, 16}, {1, 1, 1, 1}, {1, 2, 3, 4}, 5.0);
  const LineGrid b = grid_points({11, 16, 21, 26}, {1, 1, 1, 1}, {0.5, 0.5, 0.5, 0.5}, 5.0);
  const Overlap o = compare_lines(a, b, 5.0);
  ASSERT_EQ(o.cells.size(), 2u);
  EXPECT_EQ(o.cells[0].i, 2);
  EXPECT_DOUBLE_EQ(o.cells[0].dh, 2.5);
  EXPECT_DOUBLE_EQ(o.cells[1].dh, 3.5);
  EXPECT_DOUBLE_EQ(o.mean, 3.0);
  EXPECT_DOUBLE_EQ(o.rms, std::sqrt((2.5 * 2.5 + 3.5 * 3.5) / 2.0));
}

TEST(Overlap, LinesApartHaveNone) {
  const LineGrid a = grid_points({1, 6}, {1, 1}, {1, 2}, 5.0);
  const LineGrid b = grid_points({1, 6}, {101, 101}, {1, 2}, 5.0);
  EXPECT_TRUE(compare_lines(a, b, 5.0).cells.empty());
  EXPECT_TRUE(compare_lines(a, LineGrid{}, 5.0).cells.empty());
}

TEST(LocalProjection, CentreAtOriginNorthAlongTheMeridian) {
  // 0.01 degree north of 78.5 N on the central meridian: the WGS84 meridian arc,
  // M = a (1 - e2) / (1 - e2 sin^2)^1.5 = 6,397,780 m per radian there: 1116.6 m.
  const LocalProjection p(78.5, -15.0);
  std::vector<double> lon = {-15.0, -15.0}, lat = {78.5, 78.51};
  p.forward(lon, lat);
  EXPECT_NEAR(lon[0], 0.0, 1e-6);
  EXPECT_NEAR(lat[0], 0.0, 1e-6);
  EXPECT_NEAR(lon[1], 0.0, 1e-6);
  const double s2 = std::pow(std::sin(78.505 * std::numbers::pi / 180.0), 2);
  const double m = 6378137.0 * (1 - 0.00669437999014) / std::pow(1 - 0.00669437999014 * s2, 1.5);
  EXPECT_NEAR(lat[1], m * 0.01 * std::numbers::pi / 180.0, 0.01);
}

}  // namespace
}  // namespace campaign
