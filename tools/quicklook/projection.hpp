// The projected CRS of the quick-look products; the kit's projector transforms into it.
#pragma once

#include "geo/projector.hpp"

namespace quicklook {

using geo::Projector;

// EPSG:3413 (polar stereographic north) beyond 60 N, EPSG:3031 beyond 60 S, otherwise the
// WGS84 UTM zone (EPSG:326zz north, 327zz south) of the given track centre (degrees).
int choose_epsg(double lat_deg, double lon_deg);

}  // namespace quicklook
