// The cross-line check: every line's points as mean heights on one common grid in a local
// transverse Mercator projection, and the height differences where two lines' cells meet.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "gridder.hpp"
#include "projector.hpp"

namespace campaign {

// Geodetic degrees (WGS84) to metres east and north of the campaign's centre: the kit's
// projector into a transverse Mercator on that centre.
class LocalProjection : public kit::Projector {
 public:
  LocalProjection(double lat0, double lon0);
};

// Mean height of a line's points in each cell of side `cell` metres that holds any: cell
// (i, j) spans x in [i cell, (i+1) cell), y in [j cell, (j+1) cell) of the common projection.
// Sparse, so that a long line across the grid costs only the cells it covers.
struct GridCell {
  std::int32_t j = 0, i = 0;  // row (north) and column (east)
  float mean = 0.0f;          // metres
};

struct LineGrid {
  std::vector<GridCell> cells;                        // ordered by row, then column
  std::int32_t ilo = 0, ihi = -1, jlo = 0, jhi = -1;  // bounding box of the cells, inclusive
  bool empty() const { return cells.empty(); }
  bool box_meets(const LineGrid& o) const {
    return !empty() && !o.empty() && ilo <= o.ihi && o.ilo <= ihi && jlo <= o.jhi && o.jlo <= jhi;
  }
};

// A line's grid built from its points batch by batch, on the kit's tile grid: cell (i, j) is
// the grid's cell (ix, iy) from the origin. grid() ends the accumulation.
class GridAccumulator {
 public:
  explicit GridAccumulator(double cell);
  // x east, y north (metres, common projection), h height (metres); points with a non-finite
  // value or beyond +-2^31 cells are left out.
  void add(std::span<const double> x, std::span<const double> y, std::span<const double> h);
  // The mean of every cell that received a point, the points summed in the order given.
  LineGrid grid();

 private:
  kit::TileGrid grid_;
  std::vector<GridCell> cells_;
};

// The grid of a line's points streamed from `source` (which the kit's gridder may call again
// for tiles the line comes back to): memory follows the cells the line covers and the tiles
// around its front, not its points.
LineGrid grid_stream(const kit::GridSource& source, double cell);

// All of a line's points at once: one batch of a GridAccumulator.
LineGrid grid_points(const std::vector<double>& x, const std::vector<double>& y,
                     const std::vector<double>& h, double cell);

struct OverlapCell {
  std::int32_t j = 0, i = 0;  // as in GridCell
  double dh = 0.0;            // first line minus second, metres
};

struct Overlap {
  std::size_t a = 0, b = 0;        // line indices
  double cell = 0.0;               // metres
  std::vector<OverlapCell> cells;  // ordered like GridCell
  double mean = 0.0, rms = 0.0;    // metres
};

// Cells both lines cover; empty when the swaths do not meet.
Overlap compare_lines(const LineGrid& ga, const LineGrid& gb, double cell);

// The differences as a GeoTIFF (GDAL) over the overlap's bounding box, NaN where not both lines
// have a point. False (nothing written) when that box exceeds `max_cells`.
bool write_overlap_tiff(const std::string& path, const Overlap& o, const std::string& crs,
                        std::int64_t max_cells);

}  // namespace campaign
