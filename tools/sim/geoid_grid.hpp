// Geoid grid text file: header (southern latitude, northern latitude, western longitude,
// eastern longitude, latitude step, longitude step, degrees), then the rows, northern row
// first, western value first. Values in metres; 9999 <= v < 10000 marks a missing node.
#pragma once

#include <string>
#include <vector>

namespace bsim {

struct GeoidGrid {
  double glat1 = 0.0;  // southern row, degrees
  double glat2 = 0.0;  // northern row, degrees
  double glon1 = 0.0;  // western column, degrees
  double glon2 = 0.0;  // eastern column, degrees
  double gdlat = 0.0;  // row step, degrees
  double gdlon = 0.0;  // column step, degrees
  int nrow = 0;
  int ncol = 0;
  std::vector<double> values;       // row by row, southern row first
  std::vector<std::string> tokens;  // each value's text as read, same order, for exact copies
};

GeoidGrid read_geoid_grid(const std::string& path);

// Writes the smallest sub-grid (plus `margin` nodes on every side, kept inside the grid)
// that covers the latitude and longitude box in degrees; node values are copied as text.
void write_geoid_crop(const GeoidGrid& g, double lat_lo, double lat_hi, double lon_lo,
                      double lon_hi, int margin, const std::string& path);

// Plain bilinear interpolation in degrees of latitude and longitude; NaN outside the grid or
// where a corner is missing.
double geoid_height(const GeoidGrid& g, double lat_deg, double lon_deg);

}  // namespace bsim
