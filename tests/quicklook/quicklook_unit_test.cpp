// The quick-look's own pieces: the CRS chosen from a track centre, the PROJ transformation on
// a batch and the closed-form projections against it, the DEM's grid and its largest size, the
// sparse tile grid and the constant-memory height histogram.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "dem_grid.hpp"
#include "histogram.hpp"
#include "kit/error.hpp"
#include "map_projection.hpp"
#include "projection.hpp"
#include "tile_grid.hpp"

namespace quicklook {
namespace {

TEST(ChooseEpsg, PolarBeyondSixtyOtherwiseUtmZone) {
  struct Case {
    double lat, lon;
    int epsg;
  } const cases[] = {
      {78.5, -15.0, 3413},  {60.001, 0.0, 3413},   {-75.0, 100.0, 3031}, {-60.001, 0.0, 3031},
      {60.0, 0.0, 32631},   {-60.0, 0.0, 32731},   {45.0, 10.0, 32632},  {-33.9, 151.2, 32756},
      {0.0, -180.0, 32601}, {0.0, 179.999, 32660}, {0.0, 180.0, 32601},  {10.0, 5.999, 32631},
      {10.0, 6.0, 32632},   {-0.001, 0.0, 32731},
  };
  for (const Case& c : cases)
    EXPECT_EQ(choose_epsg(c.lat, c.lon), c.epsg) << c.lat << " " << c.lon;
}

TEST(Projector, UtmOnTheCentralMeridianAndABatch) {
  // On zone 32's central meridian (9 E) at 45 N: easting 500 km; northing 0.9996 times the
  // WGS84 meridian arc to 45 degrees (4,984,944.378 m).
  const Projector utm(32632);
  std::vector<double> x = {9.0, 9.0, 10.0}, y = {45.0, 0.0, 45.0};
  utm.forward(x, y);
  EXPECT_NEAR(x[0], 500000.0, 1e-6);
  EXPECT_NEAR(y[0], 0.9996 * 4984944.378, 0.01);
  EXPECT_NEAR(x[1], 500000.0, 1e-6);
  EXPECT_NEAR(y[1], 0.0, 1e-6);
  EXPECT_GT(x[2], 578000.0);  // one degree east at 45 N: about 78.8 km
  EXPECT_LT(x[2], 579500.0);
}

// The closed-form projections against PROJ on a grid of points: the polar ones over their
// whole cap, UTM across its zone and 15 degrees beyond it on either side, from 80 S to 84 N.
// Within a tenth of a millimetre: a wrong term of the series, a sign of the south's case or a
// zone's central meridian is off by metres to kilometres.
TEST(MapProjection, AgreesWithProjAcrossAndBeyondTheZone) {
  struct Case {
    int epsg;
    double lat_lo, lat_hi, lon_lo, lon_hi;
  } const cases[] = {
      {3413, 55.0, 89.99, -180.0, 180.0},   {3031, -89.99, -55.0, -180.0, 180.0},
      {32632, -80.0, 84.0, -9.0, 27.0},     {32756, -80.0, 84.0, 132.0, 168.0},
      {32601, -80.0, 84.0, -192.0, -162.0}, {32760, -80.0, 84.0, 162.0, 192.0},
      {32731, -80.0, 84.0, -15.0, 21.0},
  };
  for (const Case& c : cases) {
    std::vector<double> x, y;
    for (int i = 0; i <= 40; ++i) {
      for (int j = 0; j <= 40; ++j) {
        x.push_back(c.lon_lo + (c.lon_hi - c.lon_lo) * j / 40.0);
        y.push_back(c.lat_lo + (c.lat_hi - c.lat_lo) * i / 40.0);
      }
    }
    std::vector<double> px = x, py = y;
    Projector(c.epsg).forward(px, py);
    MapProjection(c.epsg).forward(x, y);
    for (std::size_t k = 0; k < x.size(); ++k) {
      EXPECT_NEAR(x[k], px[k], 1e-4) << "EPSG:" << c.epsg << " point " << k;
      EXPECT_NEAR(y[k], py[k], 1e-4) << "EPSG:" << c.epsg << " point " << k;
    }
  }
}

TEST(MapProjection, NonFiniteInNonFiniteOutAndOtherCodesRefused) {
  for (int epsg : {3413, 3031, 32633, 32733}) {
    std::vector<double> x = {NAN, 10.0, INFINITY}, y = {70.0, NAN, -70.0};
    MapProjection(epsg).forward(x, y);
    for (std::size_t k = 0; k < x.size(); ++k)
      EXPECT_FALSE(std::isfinite(x[k]) && std::isfinite(y[k])) << epsg << " point " << k;
  }
  for (int epsg : {4326, 32600, 32661, 32700, 3857})
    EXPECT_THROW(MapProjection{epsg}, kit::ToolError) << epsg;
}

// A straight track northwards, `length` metres, with a swath of 2 x `half_swath` metres.
TrackGeometry straight_track(double length, double half_swath) {
  TrackGeometry t;
  for (int k = 0; k <= 100; ++k) {
    t.x.push_back(600000.0);
    t.y.push_back(-1080000.0 + length * k / 100.0);
  }
  t.length = length;
  t.half_swath = half_swath;
  return t;
}

// A cell far finer than the points (1 cm over a 2 km swath: billions of cells) once gridded
// for minutes; it is refused, the message giving the grid's size and the smallest cell that
// fits, which is accepted while the two-digit cell below it is not. On a short flight the
// cells held at once around the swath front bound the cell (at 4 cm they took 840 MB); on a
// long one the cells under the swath do.
TEST(DemGrid, RefusesAGridBeyondTheLargestAndNamesTheSmallestCellThatFits) {
  const TrackGeometry short_track = straight_track(2000.0, 150.0);
  // 300 m x 400 m around the front in 20 million cells: 0.0775 m.
  EXPECT_DOUBLE_EQ(smallest_cell(short_track), 0.078);
  EXPECT_LE(held_cells(short_track, 0.078), kMostHeldCells);
  EXPECT_GT(held_cells(short_track, 0.077), kMostHeldCells);
  EXPECT_NO_THROW(checked_frame(short_track, 0.078));
  try {
    checked_frame(short_track, 0.01);
    FAIL() << "a 1 cm grid of a 2 km swath was not refused";
  } catch (const kit::UsageError& e) {
    EXPECT_STREQ(e.what(),
                 "--cell 0.01: the DEM would have about 6900 million cells under the swath, "
                 "more than the 500 million a quick look grids; the smallest cell that fits is "
                 "0.078 m");
  }
  try {
    checked_frame(short_track, 0.077);
    FAIL() << "0.077 m was not refused";
  } catch (const kit::UsageError& e) {
    EXPECT_STREQ(e.what(),
                 "--cell 0.077: the DEM would hold about 20.2 million cells at once around the "
                 "swath front, more than the 20 million a quick look holds; the smallest cell "
                 "that fits is 0.078 m");
  }
  EXPECT_THROW(checked_frame(short_track, 1e-12), kit::UsageError);  // beyond a GeoTIFF's side
  // 300 km: (300000 + 300) x 300 m^2 in 500 million cells: 0.4245 m.
  const TrackGeometry long_track = straight_track(300000.0, 150.0);
  EXPECT_DOUBLE_EQ(smallest_cell(long_track), 0.43);
  EXPECT_LE(dem_cells(long_track, 0.43), kMostDemCells);
  EXPECT_GT(dem_cells(long_track, 0.42), kMostDemCells);
  EXPECT_NO_THROW(checked_frame(long_track, 0.43));
  EXPECT_THROW(checked_frame(long_track, 0.42), kit::UsageError);
}

// The work follows the swath, not the frame: a long diagonal flight at 1 m cells, whose frame
// would hold 5 billion cells, fits; a flight with no swath (ranges all at nadir) still counts
// one cell across.
TEST(DemGrid, CountsTheCellsUnderTheSwathNotTheEmptyFrame) {
  TrackGeometry diagonal;
  for (int k = 0; k <= 100; ++k) {
    diagonal.x.push_back(700.0 * k);
    diagonal.y.push_back(700.0 * k);
  }
  diagonal.length = std::hypot(70000.0, 70000.0);
  diagonal.half_swath = 150.0;
  EXPECT_NEAR(dem_cells(diagonal, 1.0), (diagonal.length + 300.0) * 300.0, 1.0);
  const GridFrame f = checked_frame(diagonal, 1.0);
  EXPECT_GT(static_cast<double>(f.nx) * static_cast<double>(f.ny), 4.9e9);
  const TrackGeometry nadir = straight_track(2000.0, 0.0);
  EXPECT_NEAR(dem_cells(nadir, 0.5), (2000.0 + 0.5) * 0.5 / 0.25, 1e-6);
}

// The frame holds the track and its swath with the margin, its edges on multiples of the cell.
TEST(DemGrid, FrameCoversTheSwathOnCellMultiples) {
  const TrackGeometry t = straight_track(2000.0, 150.0);
  const GridFrame f = checked_frame(t, 3.0);
  const double pad = 1.25 * 150.0 + 50.0;
  EXPECT_DOUBLE_EQ(f.x0, std::floor((600000.0 - pad) / 3.0) * 3.0);
  EXPECT_DOUBLE_EQ(f.y0, std::floor((-1080000.0 - pad) / 3.0) * 3.0);
  EXPECT_GE(f.x0 + 3.0 * static_cast<double>(f.nx), 600000.0 + pad);
  EXPECT_GE(f.y0 + 3.0 * static_cast<double>(f.ny), -1078000.0 + pad);
  EXPECT_LT(f.x0 + 3.0 * static_cast<double>(f.nx - 1), 600000.0 + pad);
  EXPECT_EQ(default_cell(t, 1e6), 1.5);  // twice the spacing sqrt(2000 x 300 / 1e6 m^2), rounded
}

TEST(TileGrid, CellsTilesAndTheOccupiedWindow) {
  GridFrame f;
  f.x0 = 1000.0;
  f.y0 = -2000.0;
  f.cell = 2.0;
  f.nx = 300;  // three tiles across, the last one partly outside the frame
  f.ny = 10;
  TileGrid g(f);
  EXPECT_EQ(g.tiles_x(), 3);
  EXPECT_EQ(g.tiles_y(), 1);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(g.add(999.999, -1999.0, 1.0));  // west of the frame
  EXPECT_FALSE(g.add(1600.0, -1999.0, 1.0));   // east edge is outside
  EXPECT_FALSE(g.add(1001.0, -1980.0, 1.0));   // north edge is outside
  EXPECT_FALSE(g.add(nan, -1999.0, 1.0));
  EXPECT_FALSE(g.add(1001.0, -1999.0, nan));
  EXPECT_FALSE(g.add(1e300, -1999.0, 1.0));
  EXPECT_EQ(g.ix_lo, 300);                    // nothing yet
  EXPECT_TRUE(g.add(1000.0, -2000.0, 1.0));   // cell (0, 0)
  EXPECT_TRUE(g.add(1001.9, -1998.1, 3.0));   // the same cell
  EXPECT_TRUE(g.add(1599.9, -1980.1, -2.0));  // cell (299, 9), third tile
  EXPECT_EQ(g.tile(1, 0), nullptr);           // no point: never allocated
  const TileGrid::Tile* first = g.tile(0, 0);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->count[0], 2u);
  EXPECT_DOUBLE_EQ(first->sum[0], 4.0);
  const TileGrid::Tile* third = g.tile(2, 0);
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(third->count[9 * TileGrid::kTile + 299 - 256], 1u);
  EXPECT_EQ(g.ix_lo, 0);
  EXPECT_EQ(g.ix_hi, 299);
  EXPECT_EQ(g.iy_lo, 0);
  EXPECT_EQ(g.iy_hi, 9);
}

TEST(HeightHistogram, CoarsensWithoutLosingCountsAndKeepsQuantiles) {
  HeightHistogram h;
  // 1000 m of heights at 1 cm bins needs 100,000 bins: more than it keeps, so it coarsens.
  std::int64_t n = 0;
  for (int k = 0; k < 200000; ++k, ++n)
    h.add(-300.0 + 1000.0 * k / 200000.0);
  h.add(std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(h.count(), n);
  EXPECT_NEAR(h.quantile(0.5), 200.0, 0.05);
  EXPECT_NEAR(h.quantile(0.1), -200.0, 0.05);
  std::int64_t total = 0;
  for (const HeightHistogram::Bin& b : h.rebinned(-400.0, 800.0, 60))
    total += b.count;
  EXPECT_EQ(total, n);
}

TEST(HeightHistogram, CentimetreHeightsFillEqualBinsEvenly) {
  // Heights printed to 1 cm, 5 cm output bins: each holds five values' worth exactly.
  HeightHistogram h;
  for (int k = 0; k < 300; ++k)
    for (int rep = 0; rep < 10; ++rep)
      h.add(0.38 + 0.01 * k);
  const std::vector<HeightHistogram::Bin> bins = h.rebinned(h.quantile(0.0), h.quantile(1.0), 60);
  for (std::size_t b = 1; b + 1 < bins.size(); ++b)
    EXPECT_EQ(bins[b].count, 50) << "bin " << b << " from " << bins[b].from;
}

}  // namespace
}  // namespace quicklook
