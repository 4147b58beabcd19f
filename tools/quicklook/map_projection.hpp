// The quick look's map projections in closed form, on WGS84: polar stereographic (EPSG:3413
// north, 3031 south) and UTM (EPSG:326zz north, 327zz south; transverse Mercator by Krueger's
// series to sixth order in the third flattening, a few nanometres within 4000 km of the
// central meridian). PROJ gives the same coordinates to well under a millimetre
// (quicklook_unit_test holds them against it); these cost a fraction of PROJ's general
// pipeline for each of the millions of points a flight grids.
#pragma once

#include <array>
#include <span>

namespace quicklook {

class MapProjection {
 public:
  // Throws kit::ToolError for a code choose_epsg does not give.
  explicit MapProjection(int epsg);

  // In place: longitude, latitude (degrees, WGS84) become easting, northing (metres). A
  // non-finite coordinate gives a non-finite result.
  void forward(std::span<double> lon_x, std::span<double> lat_y) const;

 private:
  void stereographic(double& lon_x, double& lat_y) const;
  void transverse_mercator(double& lon_x, double& lat_y) const;

  bool polar_ = false;
  double sign_ = 1.0;              // 1 north, -1 south
  double lon0_ = 0.0;              // central meridian, radians
  double scale_ = 0.0;             // polar: a m_c / t_c; UTM: k0 A (metres)
  double false_northing_ = 0.0;    // metres
  std::array<double, 6> alpha_{};  // Krueger's coefficients
};

}  // namespace quicklook
