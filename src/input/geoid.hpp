// The geoid grid: a regular latitude/longitude grid of geoid heights and its
// bilinear interpolation.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>

#include "textio/freeread.hpp"
#include "textio/outfile.hpp"

namespace bf {

// Geoid heights (metres, single precision) stored row by row from the
// southern row; node (row i, column c), both 1-based, is values[(i-1)*ncol + c - 1].
struct GeoidGrid {
  static constexpr std::int64_t ngmax = 500000;

  GeoidGrid();

  std::unique_ptr<float[]> values;
  double glat1 = 0, glon1 = 0;  // southern row, western column, degrees
  double gdlat = 1, gdlon = 1;  // row and column spacing, degrees
  std::int32_t nrow = 0, ncol = 0;
};

// Reads the header and the rows (northern row first in the file), then prints
// the confirmation line. `source` names the file in messages. Stops with a
// message when the grid has fewer than 2 rows or columns or more than ngmax
// nodes; an early end or an unreadable value is an input error.
void load_geoid(FreeReader& in, const char* source, GeoidGrid& grid, OutFile& console);

// Floor of x as a 32-bit integer; NaN gives INT32_MIN, values beyond the
// 32-bit range saturate.
std::int32_t ifrac(double x);

// Geoid height at row coordinate x (1 = southern row) and column coordinate y
// (1 = western column), clamped to the grid; exactly 9999.0 when a node it
// needs is missing.
double bilin(double x, double y, const GeoidGrid& grid);

// bilin at a latitude and longitude (degrees) for points that arrive in
// order: the cell of the last interior point is kept, so a point in the same
// cell needs no floor, no table read and no missing-node test. Results are
// exactly bilin's.
class GeoidLookup {
 public:
  explicit GeoidLookup(const GeoidGrid& grid) : g_(grid) {}

  double at(double lat, double lon) {
    const double x = (lat - g_.glat1) / g_.gdlat + 1;
    const double y = (lon - g_.glon1) / g_.gdlon + 1;
    if (x >= x0_ && x < x0_ + 1 && y >= y0_ && y < y0_ + 1) return in_cell(x - x0_, y - y0_);
    return refill(x, y);
  }

 private:
  double in_cell(double fx, double fy) const;
  double refill(double x, double y);

  const GeoidGrid& g_;
  double x0_ = NAN, y0_ = NAN;  // the cell's south-west node; NaN matches no point
  double sw_ = 0, nw_ = 0, se_ = 0, ne_ = 0;
  bool sw_missing_ = false, any_missing_ = false;
};

}  // namespace bf
