// Rigorous geolocation on the WGS84 ellipsoid: the beam and lever arm rotated
// into north-east-down at the aircraft as in the flat-earth mode, then placed
// on the ellipsoid instead of the aircraft's tangent plane.
#pragma once

#include "georef/geolocate.hpp"

namespace bf {

constexpr double kWgs84A = 6378137.0;  // semi-major axis, metres
constexpr double kWgs84F = 1 / 298.257223563;
constexpr double kWgs84E2 = kWgs84F * (2 - kWgs84F);  // first eccentricity squared
constexpr double kRadToDegExact = 57.29577951308232;  // 180 / pi

// The aircraft's place on the ellipsoid, as the offset conversion needs it.
struct EllipsoidFrame {
  double sL = 0, cL = 1;  // sine and cosine of the aircraft's geodetic latitude
  double h = 0;           // aircraft ellipsoidal height, metres
  double p = 0;           // distance of the aircraft from the polar axis, metres
  double z = 0;           // its distance from the equatorial plane, metres
  double rc = 0;          // meridian radius of curvature plus h, metres
  double inv_rc = 0;      // 1 / rc
  double half_dm = 0;     // half the meridian radius's derivative by latitude, metres
};

// sL, cL: sine and cosine of the latitude; h in metres above the ellipsoid.
EllipsoidFrame make_ellipsoid_frame(double sL, double cL, double h);

// Change of geodetic coordinates from the aircraft to a point given by its
// north, east, down offsets (metres) in the aircraft's local level frame.
struct GeodeticOffset {
  double dlat = 0, dlon = 0;  // radians
  double dh = 0;              // metres
};

// Within kLocalReach of the aircraft and away from the poles: a local
// expansion within 2e-6 m of the exact conversion; elsewhere the exact
// conversion itself.
GeodeticOffset ned_to_geodetic(const EllipsoidFrame& f, double n, double e, double d);

// The exact conversion through Earth-centred coordinates (slow; any offset).
GeodeticOffset ned_to_geodetic_exact(const EllipsoidFrame& f, double n, double e, double d);

// Offsets up to this many metres (summed over the three axes) take the local
// expansion.
constexpr double kLocalReach = 6000;

// Full geolocation on the ellipsoid; t carries sL beside the attitude terms.
// The point's xdist is its horizontal offset across the heading, negative to
// the right (the sign of tan(scanang)).
SurfacePoint geolocate_rigorous(double range, const Beam& beam, const AircraftState& s,
                                const AttitudeTrig& t, const LeverArm& arm, GeoidLookup* geoid);

}  // namespace bf
