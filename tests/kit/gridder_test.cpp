// The kit's streaming grid against the same points gridded in one pass: every tile handed out
// (the last time, when a tile is handed out again) holds the same sums, bit for bit, and the
// same counts, whether the track runs straight on, turns back over its own ground or crosses
// itself; and the tiles held at once stay as many when the track is twice as long.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "kit/gridder.hpp"

namespace kit {
namespace {

struct Point {
  double x, y, h;
};

// A swath of `across` points a scan line, `along` scan lines a leg; each leg from one corner
// to the next, metres. Heights vary from point to point so that the order of the sums shows.
std::vector<Point> flight(const std::vector<std::pair<double, double>>& corners, int along,
                          int across, double swath) {
  std::vector<Point> pts;
  for (std::size_t leg = 0; leg + 1 < corners.size(); ++leg) {
    const auto [x0, y0] = corners[leg];
    const auto [x1, y1] = corners[leg + 1];
    const double len = std::hypot(x1 - x0, y1 - y0), ux = (x1 - x0) / len, uy = (y1 - y0) / len;
    for (int s = 0; s < along; ++s) {
      const double f = static_cast<double>(s) / along;
      for (int k = 0; k < across; ++k) {
        const double off = swath * (static_cast<double>(k) / (across - 1) - 0.5);
        const double n = static_cast<double>(pts.size());
        pts.push_back({x0 + f * (x1 - x0) - off * uy, y0 + f * (y1 - y0) + off * ux,
                       30.0 + 3.0 * std::sin(0.37 * n) + 1e-3 * std::fmod(n, 97.0)});
      }
    }
  }
  return pts;
}

GridFrame frame_for(double cell) {
  GridFrame f;
  f.cell = cell;
  f.x0 = -5000.0;
  f.y0 = -5000.0;
  f.nx = f.ny = static_cast<std::int64_t>(std::ceil(60000.0 / cell));
  return f;
}

using Tiles = std::map<std::uint64_t, TileGrid::Tile>;

Tiles one_pass(const std::vector<Point>& pts, const GridFrame& f) {
  TileGrid g(f);
  Tiles out;
  g.stream_to([&](std::int64_t tx, std::int64_t ty,
                  const TileGrid::Tile& t) { out[TileGrid::key(tx, ty)] = t; },
              INFINITY);
  for (const Point& p : pts)
    g.add(p.x, p.y, p.h);
  g.finish();
  return out;
}

Tiles streamed(const std::vector<Point>& pts, const GridFrame& f, double margin, GridStats& s) {
  Tiles out;
  const GridSource source = [&](int, const GridBatchFn& batch) {
    std::vector<double> x, y, h;
    for (std::size_t k = 0; k < pts.size(); ++k) {
      x.push_back(pts[k].x);
      y.push_back(pts[k].y);
      h.push_back(pts[k].h);
      if (x.size() == 4096 || k + 1 == pts.size()) {
        batch(x, y, h);
        x.clear(), y.clear(), h.clear();
      }
    }
  };
  s = stream_grid(f, margin, source,
                  [&](std::int64_t tx, std::int64_t ty, const TileGrid::Tile& t) {
                    out[TileGrid::key(tx, ty)] = t;
                  });
  return out;
}

void expect_same(const Tiles& a, const Tiles& b) {
  ASSERT_EQ(a.size(), b.size());
  for (const auto& [key, ta] : a) {
    const auto it = b.find(key);
    ASSERT_NE(it, b.end()) << key;
    EXPECT_EQ(ta.count, it->second.count) << key;
    EXPECT_EQ(std::memcmp(ta.sum.data(), it->second.sum.data(), ta.sum.size() * sizeof(double)), 0)
        << key;
  }
}

TEST(StreamGrid, SameSumsAsOnePassWhereverTheTrackGoes) {
  struct Case {
    const char* name;
    std::vector<std::pair<double, double>> corners;
    double cell;
    bool comes_back;  // some tile is handed out before the track returns to it
    int min_passes;
  } const cases[] = {
      {"straight", {{0, 0}, {0, 20000}}, 2.0, false, 1},
      {"out and back", {{0, 0}, {0, 8000}, {300, 0}}, 2.0, true, 2},
      {"crossing", {{0, 0}, {0, 8000}, {-4000, 4000}, {4000, 4000}}, 2.0, true, 2},
      // More tiles revisited than one further pass holds: several passes.
      {"back over 40 km", {{0, 0}, {0, 40000}, {0, 0}}, 1.0, true, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<Point> pts = flight(c.corners, 2000, 60, 300.0);
    const GridFrame f = frame_for(c.cell);
    GridStats s;
    const Tiles want = one_pass(pts, f), got = streamed(pts, f, 200.0, s);
    expect_same(want, got);
    EXPECT_EQ(s.passes > 1, c.comes_back);
    EXPECT_GE(s.passes, c.min_passes);
    EXPECT_EQ(s.points, static_cast<std::int64_t>(pts.size()));
  }
}

// Each cell's sum and count, one point at a time in the points' order, without tiles.
using Cells = std::map<std::pair<std::int64_t, std::int64_t>, std::pair<double, std::uint32_t>>;

Cells cell_by_cell(const std::vector<Point>& pts, const GridFrame& f) {
  Cells cells;
  for (const Point& p : pts) {
    const double fx = std::floor((p.x - f.x0) / f.cell), fy = std::floor((p.y - f.y0) / f.cell);
    if (!(fx >= static_cast<double>(f.ix_min) && fx < static_cast<double>(f.ix_min + f.nx) &&
          fy >= static_cast<double>(f.iy_min) && fy < static_cast<double>(f.iy_min + f.ny)))
      continue;
    auto& [sum, count] = cells[{static_cast<std::int64_t>(fx), static_cast<std::int64_t>(fy)}];
    sum += p.h;
    ++count;
  }
  return cells;
}

Cells cells_of(const Tiles& tiles) {
  Cells cells;
  for (const auto& [key, t] : tiles) {
    std::int64_t tx = 0, ty = 0;
    TileGrid::tile_of(key, tx, ty);
    for (int r = 0; r < TileGrid::kTile; ++r) {
      for (int c = 0; c < TileGrid::kTile; ++c) {
        const auto at = static_cast<std::size_t>(r * TileGrid::kTile + c);
        if (t.count[at] == 0) continue;
        cells[{tx * TileGrid::kTile + c, ty * TileGrid::kTile + r}] = {t.sum[at], t.count[at]};
      }
    }
  }
  return cells;
}

// Cells missing from `got` or holding another sum or count than in `want`, and cells too many.
void expect_same_cells(const Cells& want, const Cells& got) {
  std::size_t missing = 0, differing = 0;
  for (const auto& [cell, value] : want) {
    const auto it = got.find(cell);
    if (it == got.end())
      ++missing;
    else if (it->second != value)
      ++differing;
  }
  EXPECT_EQ(missing, 0u) << "of " << want.size() << " cells";
  EXPECT_EQ(differing, 0u) << "of " << want.size() << " cells";
  EXPECT_EQ(got.size(), want.size());
}

TEST(StreamGrid, EveryPointInEveryQuadrant) {
  // Regression: the grid took the key of tile (-1, -1), all bits set, for "no tile yet", so a
  // track that began there (or came back there first in a later pass) lost its points until
  // it reached another tile; the campaign's cross-line check lost the south-west part of the
  // overlaps around its origin. Here cells run from -2^31 as the campaign's common grid does,
  // and the tracks start in tile (-1, -1) and cross into the other three quadrants and back.
  GridFrame f;
  f.cell = 1.0;
  f.ix_min = f.iy_min = -(std::int64_t{1} << 31);
  f.nx = f.ny = (std::int64_t{1} << 32) - 1;
  struct Case {
    const char* name;
    std::vector<std::pair<double, double>> corners;
  } const cases[] = {
      {"north-east from (-1, -1)", {{-60, -60}, {700, 900}}},
      {"a square about the origin", {{-60, -60}, {-60, 600}, {600, 600}, {600, -600}, {-60, -60}}},
      {"west and back east", {{-40, -40}, {-900, -40}, {-900, -80}, {900, -80}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<Point> pts = flight(c.corners, 1500, 40, 60.0);
    const Cells want = cell_by_cell(pts, f);
    expect_same_cells(want, cells_of(one_pass(pts, f)));
    GridStats s;
    expect_same_cells(want, cells_of(streamed(pts, f, 50.0, s)));
    EXPECT_EQ(s.outside, 0);
  }
}

TEST(StreamGrid, TilesHeldStayFlatAsTheTrackDoubles) {
  const GridFrame f = frame_for(1.0);
  std::size_t peak[2] = {};
  for (int k = 0; k < 2; ++k) {
    const double length = 10000.0 * (k + 1);
    GridStats s;
    streamed(flight({{0, 0}, {0, length}}, 1000 * (k + 1), 60, 300.0), f, 200.0, s);
    peak[k] = s.peak_tiles;
    EXPECT_EQ(s.passes, 1);
  }
  EXPECT_GT(peak[0], 0u);
  EXPECT_EQ(peak[0], peak[1]);  // a one-pass grid would hold twice as many
}

TEST(StreamGrid, PointsOutsideTheFrameAreCountedNotGridded) {
  GridFrame f = frame_for(2.0);
  const std::vector<Point> pts = {{0, 0, 1}, {-6000, 0, 1}, {0, NAN, 1}, {0, 0, INFINITY}};
  GridStats s;
  const Tiles got = streamed(pts, f, 200.0, s);
  EXPECT_EQ(s.points, 4);
  EXPECT_EQ(s.outside, 3);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(s.ix_lo, 2500);
  EXPECT_EQ(s.iy_hi, 2500);
}

}  // namespace
}  // namespace kit
