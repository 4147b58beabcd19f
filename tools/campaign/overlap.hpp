// The cross-line check: every line's points as mean heights on one common grid in a local
// transverse Mercator projection, and the height differences where two lines' cells meet.
#pragma once

#include <cstdint>
#include <string>
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

// Mean height of a line's points in each cell of side `cell` metres; cell (i, j) spans
// x in [i cell, (i+1) cell), y in [j cell, (j+1) cell) of the common projection.
struct LineGrid {
  std::int64_t i0 = 0, j0 = 0;  // first column and row
  std::int64_t nx = 0, ny = 0;
  std::vector<float> mean;  // row-major from row j0; NaN where the line has no point
  bool empty() const { return nx == 0; }
  float at(std::int64_t i, std::int64_t j) const;
};

LineGrid grid_points(const std::vector<double>& x, const std::vector<double>& y,
                     const std::vector<double>& h, double cell);

struct OverlapCell {
  double x, y;  // cell centre, metres
  double dh;    // first line minus second, metres
};

struct Overlap {
  std::size_t a = 0, b = 0;  // line indices
  std::vector<OverlapCell> cells;
  double mean = 0.0, rms = 0.0;  // metres
};

// Cells both lines cover; empty when the swaths do not meet.
Overlap compare_lines(const LineGrid& ga, const LineGrid& gb, double cell);

// The differences as a GeoTIFF (GDAL), NaN where not both lines have a point.
void write_overlap_tiff(const std::string& path, const LineGrid& ga, const LineGrid& gb,
                        double cell, const std::string& crs);

}  // namespace campaign
