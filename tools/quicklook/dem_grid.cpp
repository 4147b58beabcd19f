#include "dem_grid.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "kit/error.hpp"

namespace quicklook {

namespace {

// A round number of metres (1, 1.5, 2, 2.5, 3, 4, 5, 6 or 8 times a power of ten), the
// nearest to v on a log scale.
double round_cell(double v) {
  const double decade = std::pow(10.0, std::floor(std::log10(v)));
  double best = decade;
  for (double m : {1.0, 1.5, 2.0, 2.5, 3.0, 4.0, 5.0, 6.0, 8.0, 10.0})
    if (std::fabs(std::log(m * decade / v)) < std::fabs(std::log(best / v))) best = m * decade;
  return best;
}

// The projected centre track's bounds, widened by the swath and a margin for attitude and
// the lever arm.
struct TrackBox {
  double xlo = INFINITY, xhi = -INFINITY, ylo = INFINITY, yhi = -INFINITY;
};

TrackBox track_box(const TrackGeometry& t) {
  TrackBox b;
  for (std::size_t k = 0; k < t.x.size(); ++k) {
    if (!std::isfinite(t.x[k]) || !std::isfinite(t.y[k])) continue;
    b.xlo = std::min(b.xlo, t.x[k]);
    b.xhi = std::max(b.xhi, t.x[k]);
    b.ylo = std::min(b.ylo, t.y[k]);
    b.yhi = std::max(b.yhi, t.y[k]);
  }
  if (!(b.xlo <= b.xhi)) throw kit::ToolError("no centre point could be projected");
  const double pad = 1.25 * t.half_swath + 50.0;
  return {b.xlo - pad, b.xhi + pad, b.ylo - pad, b.yhi + pad};
}

// The grid's size at one cell: the cells under the swath, which each go through the scratch
// file and dem.tif (the work follows them, not the frame, which for a long diagonal flight is
// mostly empty), and those held in memory at once, in the tiles within the streaming margin
// of the swath front. Infinite when a side of the frame is beyond what a GeoTIFF holds.
struct GridSize {
  double cells = INFINITY, held = INFINITY;
  bool fits() const { return cells <= kMostDemCells && held <= kMostHeldCells; }
};

GridSize size_at(const TrackGeometry& t, const TrackBox& b, double cell) {
  const double nx = std::ceil((b.xhi - b.xlo) / cell + 1.0);
  const double ny = std::ceil((b.yhi - b.ylo) / cell + 1.0);
  if (nx > 2e9 || ny > 2e9) return {};
  const double width = std::max(2.0 * t.half_swath, cell), area = cell * cell;
  const double cells = std::min((t.length + width) * width / area, nx * ny);
  return {cells, std::min(width * 2.0 * kStreamMargin / area, cells)};
}

// m x 10^e for m of two digits: divided, not multiplied, below 1 so that 0.039 is the double
// nearest to it and reads as "0.039".
double smallest_within(const TrackGeometry& t, const TrackBox& b) {
  for (int e = -5; e <= 6; ++e) {
    for (int m = 10; m < 100; ++m) {
      const double cell = e < 0 ? m / std::pow(10.0, -e) : m * std::pow(10.0, e);
      if (size_at(t, b, cell).fits()) return cell;
    }
  }
  return INFINITY;
}

// "6900 million", "20.2 million", "20 million".
std::string millions(double cells) {
  const double m = cells / 1e6;
  std::string text = m >= 100.0 ? std::to_string(std::llround(m)) : runfiles::fixed(m, 1);
  if (text.ends_with(".0")) text.resize(text.size() - 2);
  return text + " million";
}

}  // namespace

double default_cell(const TrackGeometry& t, double points) {
  const double area = std::max(t.length, 1.0) * 2.0 * t.half_swath;
  const double spacing = std::sqrt(area / std::max(points, 1.0));
  return round_cell(std::clamp(2.0 * spacing, 0.01, 10000.0));
}

double dem_cells(const TrackGeometry& t, double cell) {
  return size_at(t, track_box(t), cell).cells;
}

double held_cells(const TrackGeometry& t, double cell) {
  return size_at(t, track_box(t), cell).held;
}

double smallest_cell(const TrackGeometry& t) {
  return smallest_within(t, track_box(t));
}

GridFrame checked_frame(const TrackGeometry& t, double cell) {
  const TrackBox b = track_box(t);
  const GridSize size = size_at(t, b, cell);
  if (!size.fits()) {
    const std::string why =
        !std::isfinite(size.cells) ? "be more than 2 billion cells a side"
        : size.cells > kMostDemCells
            ? "have about " + millions(size.cells) + " cells under the swath, more than the " +
                  millions(kMostDemCells) + " a quick look grids"
            : "hold about " + millions(size.held) + " cells at once around the swath front, " +
                  "more than the " + millions(kMostHeldCells) + " a quick look holds";
    throw kit::UsageError("--cell " + runfiles::exact(cell) + ": the DEM would " + why +
                          "; the smallest cell that fits is " +
                          runfiles::exact(smallest_within(t, b)) + " m");
  }
  GridFrame f;
  f.cell = cell;
  f.x0 = std::floor(b.xlo / cell) * cell;
  f.y0 = std::floor(b.ylo / cell) * cell;
  f.nx = static_cast<std::int64_t>(std::ceil((b.xhi - f.x0) / cell));
  f.ny = static_cast<std::int64_t>(std::ceil((b.yhi - f.y0) / cell));
  return f;
}

}  // namespace quicklook
