// Rigorous WGS84 geometry: geodetic <-> Earth-centred Earth-fixed (ECEF) coordinates,
// the local north-east-down frame and the attitude rotation.
#pragma once

#include "vec3.hpp"

namespace bsim {

inline constexpr double kPi = 3.14159265358979323846;
inline constexpr double kDeg = kPi / 180.0;   // radians per degree
inline constexpr double kWgs84A = 6378137.0;  // semi-major axis, metres
inline constexpr double kWgs84F = 1.0 / 298.257223563;
inline constexpr double kWgs84E2 = kWgs84F * (2.0 - kWgs84F);  // first eccentricity squared

// Geodetic position: latitude and longitude in radians, height above the ellipsoid in metres.
struct Geodetic {
  double lat = 0.0;
  double lon = 0.0;
  double h = 0.0;
};

// ECEF position in metres.
Vec3 to_ecef(const Geodetic& g);

// Exact closed-form inversion (no iteration); valid everywhere except within about
// 40 km of the Earth's centre.
Geodetic to_geodetic(Vec3 p);

// The same inversion with the sines and cosines of latitude and longitude, found without
// trigonometric calls; g.lat and g.lon are filled only when `angles` is true.
struct GeoFrame {
  Geodetic g;
  double slat = 0.0, clat = 1.0, slon = 0.0, clon = 1.0;
};
GeoFrame to_geodetic_frame(Vec3 p, bool angles);

// Radius of curvature in the meridian (M) and in the prime vertical (N), metres; lat in radians.
double meridian_radius(double lat);
double normal_radius(double lat);

// Columns are the unit vectors north, east and down at (lat, lon) in ECEF; so the matrix maps
// a local north-east-down vector to ECEF.
Mat3 ned_to_ecef(double lat, double lon);

// Body (x forward, y right, z down) to north-east-down: roll about x first, then pitch about
// y, then heading about z. Positive roll lowers the right wing, positive pitch raises the
// nose, positive heading turns the nose clockwise from north. Angles in radians.
Mat3 body_to_ned(double roll, double pitch, double heading);

// Horizontal distance in metres between two nearby geodetic points, measured in the
// local north-east plane of the first one (exact enough below a few km).
double horizontal_distance(const Geodetic& a, const Geodetic& b);

// North and east offsets in metres of b from a, to first order in the separation.
void north_east_offset(const Geodetic& a, const Geodetic& b, double& dn, double& de);

}  // namespace bsim
