// The cross-line check: every line's points as mean heights on one common grid in a local
// transverse Mercator projection, and the height differences where two lines' cells meet.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace campaign {

// Geodetic degrees (WGS84) to metres east and north of the campaign's centre, by PROJ.
class LocalProjection {
 public:
  LocalProjection(double lat0, double lon0);
  ~LocalProjection();
  LocalProjection(const LocalProjection&) = delete;
  LocalProjection& operator=(const LocalProjection&) = delete;
  // In place: lon, lat (degrees) become x east, y north (metres).
  void forward(std::vector<double>& lon_x, std::vector<double>& lat_y) const;
  const std::string& crs() const { return crs_; }  // PROJ string of the projected CRS

 private:
  std::string crs_;
  void* ctx_ = nullptr;  // PJ_CONTEXT
  void* pj_ = nullptr;   // PJ
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

// A line's grid built from its points batch by batch, in memory proportional to the cells it
// covers, not to its points: the summary streams a line's point file through one of these.
class GridAccumulator {
 public:
  explicit GridAccumulator(double cell) : cell_(cell) {}
  // x east, y north (metres, common projection), h height (metres); points with a non-finite
  // value or beyond +-2^31 cells are left out.
  void add(std::span<const double> x, std::span<const double> y, std::span<const double> h);
  // The mean of every cell that received a point, the points summed in the order given.
  LineGrid grid() const;

 private:
  struct Sum {
    double h = 0.0;
    std::uint32_t n = 0;
  };
  double cell_;
  std::unordered_map<std::uint64_t, Sum> sums_;  // key: row in the high half, column low
};

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
