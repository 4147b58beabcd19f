#include "projection.hpp"

#include <cmath>

namespace quicklook {

int choose_epsg(double lat_deg, double lon_deg) {
  if (lat_deg > 60.0) return 3413;
  if (lat_deg < -60.0) return 3031;
  // Into [-180, 180): 180 E is 180 W, zone 1.
  const double wrapped = lon_deg - 360.0 * std::floor((lon_deg + 180.0) / 360.0);
  int zone = static_cast<int>(std::floor((wrapped + 180.0) / 6.0)) + 1;
  if (zone > 60) zone = 60;  // rounding just below +180
  return (lat_deg >= 0.0 ? 32600 : 32700) + zone;
}

}  // namespace quicklook
