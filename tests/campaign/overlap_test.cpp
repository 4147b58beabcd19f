// The cross-line check's grid and comparison on hand-made points, and its projection against
// the meridian arc.
#include "overlap_reference.hpp"

#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <numbers>
#include <span>
#include <string>
#include <vector>

#include "geo/gdal_io.hpp"

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

// Points of a swath 60 m wide along a path of straight legs (metres), one across-track row a
// metre, heights of a shared surface plus a line's own offset and a wobble a point.
struct Swath {
  std::vector<double> x, y, h;
};

Swath swath(const std::vector<std::pair<double, double>>& path, double offset) {
  Swath s;
  std::uint32_t seed = 12345;
  for (std::size_t leg = 0; leg + 1 < path.size(); ++leg) {
    const auto [x0, y0] = path[leg];
    const auto [x1, y1] = path[leg + 1];
    const double len = std::hypot(x1 - x0, y1 - y0), ux = (x1 - x0) / len, uy = (y1 - y0) / len;
    for (double along = 0.0; along < len; along += 1.0) {
      for (double across = -30.0; across <= 30.0; across += 2.7) {
        const double x = x0 + along * ux - across * uy, y = y0 + along * uy + across * ux;
        seed = seed * 1664525u + 1013904223u;
        const double wobble = static_cast<double>(seed >> 8) / 16777216.0 - 0.5;
        s.x.push_back(x);
        s.y.push_back(y);
        s.h.push_back(100.0 + 0.002 * x + 3.0 * std::sin(y / 40.0) + offset + 0.1 * wobble);
      }
    }
  }
  return s;
}

// The swath in batches of 700 points, the same every pass.
kit::GridSource source_of(const Swath& s) {
  return [&s](int, const kit::GridBatchFn& batch) {
    for (std::size_t k = 0; k < s.x.size(); k += 700) {
      const std::size_t n = std::min<std::size_t>(700, s.x.size() - k);
      batch(std::span(s.x).subspan(k, n), std::span(s.y).subspan(k, n),
            std::span(s.h).subspan(k, n));
    }
  };
}

class ScratchFolder {
 public:
  ScratchFolder() {
    std::string t = (std::filesystem::temp_directory_path() / "overlap_test.XXXXXX").string();
    if (mkdtemp(t.data()) == nullptr) throw std::runtime_error("mkdtemp");
    path = t;
  }
  ~ScratchFolder() { std::filesystem::remove_all(path); }
  std::string path;
};

bool same_bytes(const std::string& a, const std::string& b) {
  std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
  return std::equal(std::istreambuf_iterator<char>(fa), std::istreambuf_iterator<char>(),
                    std::istreambuf_iterator<char>(fb), std::istreambuf_iterator<char>());
}

std::vector<float> read_tiff(const std::string& path, double* gt, int& w, int& h) {
  GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  if (!ds) return {};
  ds->GetGeoTransform(gt);
  w = ds->GetRasterXSize();
  h = ds->GetRasterYSize();
  std::vector<float> v(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
  if (ds->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, w, h, v.data(), w, h, GDT_Float32, 0, 0) !=
      CE_None)
    return {};
  return v;
}

bool same_bits(float a, float b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// A streamed grid's cells, by row from the south, then column.
std::vector<GridCell> cells_of(const TiledGrid& g) {
  std::vector<GridCell> cells;
  std::uint32_t ends[kit::TileGrid::kTile];
  std::vector<TiledGrid::Cell> tile;
  for (const TiledGrid::TileRef& t : g.tiles()) {
    g.read_row_ends(t, ends);
    g.read_cells(t, 0, ends[kit::TileGrid::kTile - 1], tile);
    for (int r = 0, k = 0; r < kit::TileGrid::kTile; ++r)
      for (; k < static_cast<int>(ends[r]); ++k)
        cells.push_back({static_cast<std::int32_t>(t.ty * kit::TileGrid::kTile + r),
                         tile[static_cast<std::size_t>(k)].i,
                         tile[static_cast<std::size_t>(k)].mean});
  }
  std::stable_sort(cells.begin(), cells.end(), [](const GridCell& a, const GridCell& b) {
    return a.j != b.j ? a.j < b.j : a.i < b.i;
  });
  return cells;
}

TEST(LineGrid, BatchesSumIntoTheSameCellsAsOnePass) {
  // The summary streams a line in batches: a cell whose points arrive in different batches
  // (row 0, column 0 here: one point in each of
  // the three batches) must get the mean of all of them.
  const std::vector<double> x = {1.0, 6.0, 2.0, -3.0, 3.0, 7.0}, y = {1.0, 1.0, 2.0, 1.0, 3.0, 9.0};
  const std::vector<double> h = {1.0, 5.0, 2.0, 8.0, 6.0, 4.0};
  const kit::GridSource in_pairs = [&](int, const kit::GridBatchFn& batch) {
    for (std::size_t k = 0; k < x.size(); k += 2)
      batch(std::span(x).subspan(k, 2), std::span(y).subspan(k, 2), std::span(h).subspan(k, 2));
  };
  ScratchFolder dir;
  const TiledGrid streamed = grid_to_file(in_pairs, 5.0, dir.path);
  const std::vector<GridCell> batched = cells_of(streamed);
  const LineGrid whole = grid_points(x, y, h, 5.0);
  ASSERT_EQ(batched.size(), 4u);
  ASSERT_EQ(whole.cells.size(), 4u);
  // Row 0: column -1, column 0 (heights 1, 2, 6), column 1; row 1: column 1.
  const float want_mean[] = {8.0f, 3.0f, 5.0f, 4.0f};
  for (std::size_t k = 0; k < 4; ++k) {
    EXPECT_EQ(batched[k].mean, want_mean[k]) << k;
    EXPECT_EQ(batched[k].i, whole.cells[k].i) << k;
    EXPECT_EQ(batched[k].j, whole.cells[k].j) << k;
    EXPECT_EQ(batched[k].mean, whole.cells[k].mean) << k;
  }
  EXPECT_EQ(streamed.ilo, -1);
  EXPECT_EQ(streamed.ihi, 1);
  EXPECT_EQ(streamed.jlo, 0);
  EXPECT_EQ(streamed.jhi, 1);
}

class StreamedCheck : public testing::TestWithParam<double> {};

TEST_P(StreamedCheck, GivesTheInMemoryCheckOverlapsGeoTiffsAndFigureBlocks) {
  // Line 1 flies 3 km east, turns and comes back west 20 m to the north, past its start: the
  // tiles it left behind (more than the stream's 200 m margin) take points again. Line 2
  // crosses it north to south, line 3 diagonally through both, south-west of the origin too.
  // Line 4 flies west beside line 1's return: at 0.5 m cells a tile row of their overlap spans
  // more tiles than are read whole. Line 5 flies east over line 1 from a first point in tile
  // (-1, -1), whose points the streamed grid once lost until the line left that tile (the
  // reference was the same grid then, and lost them too).
  const double cell = GetParam();
  const std::vector<Swath> lines = {
      swath({{0, 0}, {3000, 0}, {3000, 20}, {-800, 20}}, 0.0),
      swath({{1500, 1500}, {1500, -1500}}, 0.25), swath({{-700, -900}, {2600, 700}}, -0.4),
      swath({{3400, 35}, {-600, 35}}, 0.1), swath({{-20, 11}, {2500, 11}}, 0.3)};
  geo::start_gdal();
  ScratchFolder dir;
  std::vector<TiledGrid> streamed;
  std::vector<LineGrid> whole;
  for (const Swath& s : lines) {
    streamed.push_back(grid_to_file(source_of(s), cell, dir.path));
    whole.push_back(grid_points(s.x, s.y, s.h, cell));
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.path)) << "a scratch file stayed behind";
  for (std::size_t a = 0; a < lines.size(); ++a) {
    for (std::size_t b = 0; b < lines.size(); ++b) {
      if (a == b) continue;
      SCOPED_TRACE("lines " + std::to_string(a) + ", " + std::to_string(b));
      const Overlap want = compare_lines(whole[a], whole[b], cell);
      const PairOverlap got = compare_grids(streamed[a], streamed[b], cell);
      ASSERT_GT(want.cells.size(), 40u);  // 0.5 m cells are sparse: a point each 1 x 2.7 m
      ASSERT_EQ(got.cells, want.cells.size());
      EXPECT_EQ(got.mean, want.mean);
      EXPECT_EQ(got.rms, want.rms);

      // The GeoTIFF: the box of the common cells, each one's difference, NaN elsewhere.
      std::int32_t ilo = want.cells.front().i, ihi = ilo;
      for (const OverlapCell& c : want.cells) {
        ilo = std::min(ilo, c.i);
        ihi = std::max(ihi, c.i);
      }
      const std::int32_t jlo = want.cells.front().j, jhi = want.cells.back().j;
      EXPECT_EQ(got.ilo, ilo);
      EXPECT_EQ(got.ihi, ihi);
      EXPECT_EQ(got.jlo, jlo);
      EXPECT_EQ(got.jhi, jhi);
      const std::string tif = dir.path + "/pair.tif";
      ASSERT_TRUE(write_overlap_tiff(tif, streamed[a], streamed[b], got, "EPSG:32633", 1 << 30));
      double gt[6];
      int w = 0, h = 0;
      std::vector<float> band = read_tiff(tif, gt, w, h);
      ASSERT_EQ(w, ihi - ilo + 1);
      ASSERT_EQ(h, jhi - jlo + 1);
      EXPECT_EQ(gt[0], ilo * cell);
      EXPECT_EQ(gt[3], (jhi + 1) * cell);
      std::vector<float> expected(band.size(), std::numeric_limits<float>::quiet_NaN());
      for (const OverlapCell& c : want.cells) {
        expected[static_cast<std::size_t>(jhi - c.j) * static_cast<std::size_t>(w) +
                 static_cast<std::size_t>(c.i - ilo)] = static_cast<float>(c.dh);
      }
      std::size_t differing = 0;
      for (std::size_t k = 0; k < band.size(); ++k)
        differing += !same_bits(band[k], expected[k]);
      EXPECT_EQ(differing, 0u) << "of " << band.size() << " cells";
      // Byte for byte the file of one write of the whole grid, as the summary wrote it before
      // it streamed.
      const std::string one_write = dir.path + "/one_write.tif";
      geo::RasterLayout layout;
      layout.width = w;
      layout.height = h;
      std::copy(std::begin(gt), std::end(gt), layout.geotransform);
      layout.crs = "EPSG:32633";
      layout.nodata = std::numeric_limits<double>::quiet_NaN();
      GDALDatasetUniquePtr ds = geo::create_geotiff(one_write, layout);
      geo::write_window(*ds, 0, 0, w, h, expected.data(), one_write);
      geo::close_checked(std::move(ds), one_write);
      EXPECT_TRUE(same_bytes(tif, one_write)) << tif;
      std::filesystem::remove(one_write);
      EXPECT_FALSE(write_overlap_tiff(dir.path + "/big.tif", streamed[a], streamed[b], got, "",
                                      std::int64_t{w} * h - 1));

      // The figure's blocks: 100 at most, each the sum of its cells in row, column order.
      const OverlapBlocks blocks = overlap_blocks(streamed[a], streamed[b], got, 100);
      ASSERT_GT(blocks.f, 1);
      ASSERT_LE((w / blocks.f + 1) * (h / blocks.f + 1), 100);
      ASSERT_GT((w / (blocks.f - 1) + 1) * (h / (blocks.f - 1) + 1), 100);
      std::vector<double> sum(static_cast<std::size_t>(blocks.bx * blocks.by), 0.0);
      std::vector<std::int64_t> count(sum.size(), 0);
      for (const OverlapCell& c : want.cells) {
        const auto k =
            static_cast<std::size_t>((c.j - jlo) / blocks.f * blocks.bx + (c.i - ilo) / blocks.f);
        sum[k] += c.dh;
        ++count[k];
      }
      EXPECT_EQ(blocks.sum, sum);
      EXPECT_EQ(blocks.count, count);
    }
  }
  // Lines apart, and a line without points, have no overlap.
  const Swath far = swath({{50000, 50000}, {51000, 50000}}, 0.0);
  EXPECT_EQ(compare_grids(streamed[0], grid_to_file(source_of(far), cell, dir.path), cell).cells,
            0u);
  EXPECT_EQ(compare_grids(streamed[0], TiledGrid{}, cell).cells, 0u);
}

INSTANTIATE_TEST_SUITE_P(Cells, StreamedCheck, testing::Values(5.0, 0.5));

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
