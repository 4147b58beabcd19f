#include "overlap.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <unordered_map>

#include "gdal_io.hpp"

namespace campaign {

namespace {

// Beyond this distance from the latest batch of points a tile is finished (metres).
constexpr double kStreamMargin = 200.0;

}  // namespace

namespace {

std::string tmerc_crs(double lat0, double lon0) {
  char buf[160];
  std::snprintf(buf, sizeof buf,
                "+proj=tmerc +lat_0=%.6f +lon_0=%.6f +k=1 +x_0=0 +y_0=0 +ellps=WGS84 +units=m "
                "+no_defs +type=crs",
                lat0, lon0);
  return buf;
}

}  // namespace

LocalProjection::LocalProjection(double lat0, double lon0) : Projector(tmerc_crs(lat0, lon0)) {}

namespace {

bool by_row_then_column(const GridCell& a, const GridCell& b) {
  return a.j != b.j ? a.j < b.j : a.i < b.i;
}

void set_box(LineGrid& g) {
  if (g.empty()) return;
  g.jlo = g.cells.front().j;
  g.jhi = g.cells.back().j;
  g.ilo = g.ihi = g.cells.front().i;
  for (const GridCell& c : g.cells) {
    g.ilo = std::min(g.ilo, c.i);
    g.ihi = std::max(g.ihi, c.i);
  }
}

// Cells from the origin of the common projection, within +-2^31 of it.
kit::GridFrame common_frame(double cell) {
  kit::GridFrame f;
  f.cell = cell;
  f.ix_min = f.iy_min = -(std::int64_t{1} << 31);
  f.nx = f.ny = (std::int64_t{1} << 32) - 1;
  return f;
}

// A tile's cells that hold points, as GridCells.
void append_cells(std::int64_t tx, std::int64_t ty, const kit::TileGrid::Tile& t,
                  std::vector<GridCell>& out) {
  constexpr int n = kit::TileGrid::kTile;
  for (int r = 0; r < n; ++r) {
    for (int c = 0; c < n; ++c) {
      const auto at = static_cast<std::size_t>(r * n + c);
      if (t.count[at] == 0) continue;
      GridCell g;
      g.j = static_cast<std::int32_t>(ty * n + r);
      g.i = static_cast<std::int32_t>(tx * n + c);
      g.mean = static_cast<float>(t.sum[at] / static_cast<double>(t.count[at]));
      out.push_back(g);
    }
  }
}

LineGrid sorted_grid(std::vector<GridCell> cells) {
  LineGrid g;
  g.cells = std::move(cells);
  std::sort(g.cells.begin(), g.cells.end(), by_row_then_column);
  set_box(g);
  return g;
}

}  // namespace

GridAccumulator::GridAccumulator(double cell) : grid_(common_frame(cell)) {
  grid_.stream_to([this](std::int64_t tx, std::int64_t ty,
                         const kit::TileGrid::Tile& t) { append_cells(tx, ty, t, cells_); },
                  std::numeric_limits<double>::infinity());
}

void GridAccumulator::add(std::span<const double> x, std::span<const double> y,
                          std::span<const double> h) {
  const std::size_t n = std::min({x.size(), y.size(), h.size()});
  for (std::size_t k = 0; k < n; ++k)
    grid_.add(x[k], y[k], h[k]);
}

LineGrid GridAccumulator::grid() {
  grid_.finish();
  return sorted_grid(cells_);
}

LineGrid grid_stream(const kit::GridSource& source, double cell) {
  // A tile handed out again (the line came back to it) replaces its first cells.
  std::unordered_map<std::uint64_t, std::vector<GridCell>> tiles;
  kit::stream_grid(common_frame(cell), kStreamMargin, source,
                   [&](std::int64_t tx, std::int64_t ty, const kit::TileGrid::Tile& t) {
                     std::vector<GridCell>& cells = tiles[kit::TileGrid::key(tx, ty)];
                     cells.clear();
                     append_cells(tx, ty, t, cells);
                   });
  std::vector<GridCell> all;
  for (auto& entry : tiles)
    all.insert(all.end(), entry.second.begin(), entry.second.end());
  return sorted_grid(std::move(all));
}

LineGrid grid_points(const std::vector<double>& x, const std::vector<double>& y,
                     const std::vector<double>& h, double cell) {
  GridAccumulator acc(cell);
  acc.add(x, y, h);
  return acc.grid();
}

Overlap compare_lines(const LineGrid& ga, const LineGrid& gb, double cell) {
  Overlap o;
  o.cell = cell;
  if (!ga.box_meets(gb)) return o;
  double sum = 0.0, sum2 = 0.0;
  std::size_t ka = 0, kb = 0;
  while (ka < ga.cells.size() && kb < gb.cells.size()) {
    const GridCell& a = ga.cells[ka];
    const GridCell& b = gb.cells[kb];
    if (by_row_then_column(a, b)) {
      ++ka;
    } else if (by_row_then_column(b, a)) {
      ++kb;
    } else {
      const double dh = static_cast<double>(a.mean) - static_cast<double>(b.mean);
      o.cells.push_back({a.j, a.i, dh});
      sum += dh;
      sum2 += dh * dh;
      ++ka;
      ++kb;
    }
  }
  if (!o.cells.empty()) {
    const auto n = static_cast<double>(o.cells.size());
    o.mean = sum / n;
    o.rms = std::sqrt(sum2 / n);
  }
  return o;
}

bool write_overlap_tiff(const std::string& path, const Overlap& o, const std::string& crs,
                        std::int64_t max_cells) {
  if (o.cells.empty()) return false;
  std::int32_t ilo = o.cells.front().i, ihi = ilo;
  const std::int32_t jlo = o.cells.front().j, jhi = o.cells.back().j;
  for (const OverlapCell& c : o.cells) {
    ilo = std::min(ilo, c.i);
    ihi = std::max(ihi, c.i);
  }
  const std::int64_t nx64 = std::int64_t{ihi} - ilo + 1, ny64 = std::int64_t{jhi} - jlo + 1;
  if (nx64 * ny64 > max_cells || nx64 > INT32_MAX || ny64 > INT32_MAX) return false;
  const int nx = static_cast<int>(nx64), ny = static_cast<int>(ny64);
  std::vector<float> band(static_cast<std::size_t>(nx64 * ny64),
                          std::numeric_limits<float>::quiet_NaN());
  for (const OverlapCell& c : o.cells) {  // north row first
    const std::int64_t r = std::int64_t{jhi} - c.j, col = std::int64_t{c.i} - ilo;
    band[static_cast<std::size_t>(r * nx64 + col)] = static_cast<float>(c.dh);
  }
  const double cell = o.cell;
  kit::RasterLayout layout;
  layout.width = nx;
  layout.height = ny;
  const double gt[6] = {static_cast<double>(ilo) * cell,         cell, 0.0,
                        (static_cast<double>(jhi) + 1.0) * cell, 0.0,  -cell};
  std::copy(std::begin(gt), std::end(gt), layout.geotransform);
  layout.crs = crs;
  layout.nodata = std::numeric_limits<double>::quiet_NaN();
  GDALDatasetUniquePtr ds = kit::create_geotiff(path, layout);
  kit::write_window(*ds, 0, 0, nx, ny, band.data(), path);
  kit::close_checked(std::move(ds), path);
  return true;
}

}  // namespace campaign
