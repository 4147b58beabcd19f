// The projected CRS of the quick-look products. The points and the track go into it by
// MapProjection's closed forms; the kit's PROJ projector is the reference they are held to.
#pragma once

#include "geo/projector.hpp"

namespace quicklook {

using geo::Projector;

// EPSG:3413 (polar stereographic north) beyond 60 N, EPSG:3031 beyond 60 S, otherwise the
// WGS84 UTM zone (EPSG:326zz north, 327zz south) of the given track centre (degrees).
int choose_epsg(double lat_deg, double lon_deg);

}  // namespace quicklook
