// Rigorous geolocation on the WGS84 ellipsoid: the beam and lever arm rotated
// into north-east-down at the aircraft as in the flat-earth mode, then placed
// on the ellipsoid instead of the aircraft's tangent plane.
#pragma once

#include <cmath>
#include <cstdint>

#include "georef/geolocate.hpp"
#include "georef/interp.hpp"
#include "georef/wgs84.hpp"
#include "input/trajectory.hpp"

namespace bf {

constexpr double kRadToDegExact = 57.29577951308232;  // 180 / pi

// The aircraft's place on the ellipsoid, as the closed-form expansion and the
// exact conversion need it.
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

// What the third-order series needs at the aircraft (lengths in metres).
struct SeriesTerms {
  double inv_p = 0;   // 1 / distance from the polar axis
  double cL_p = 0;    // cos(latitude) / that distance = 1 / (prime-vertical radius + h)
  double inv_rc = 0;  // 1 / (meridian radius + h)
  double sL = 0, cL = 1;
  double half_dm_rc = 0;  // half the meridian radius's derivative by latitude / (radius + h)
  double reach = 0;       // offsets (summed over the axes) within which the series holds to 1e-7 m
};

// sL, cL: sine and cosine of the latitude; h in metres above the ellipsoid.
SeriesTerms make_series_terms(double sL, double cL, double h);

// Change of geodetic coordinates from the aircraft to a point given by its
// north, east, down offsets (metres) in the aircraft's local level frame.
struct GeodeticOffset {
  double dlat = 0, dlon = 0;  // radians
  double dh = 0;              // metres
};

// The closed-form expansion of ned_to_geodetic_near, summed to third order in
// the offsets (within t.reach; alpha: the offset towards the polar axis over
// its distance p; k0: how far the parallel through the point rises above the
// east direction). Written for a short dependency chain.
inline GeodeticOffset ned_to_geodetic_series(const SeriesTerms& t, double n, double e, double d) {
  const double alpha = (t.sL * n) * t.inv_p + t.cL_p * d;
  const double ep = e * t.inv_p;
  const double e2 = e * e;
  const double k0 = 0.5 * e2 * t.inv_p;
  const double n1 = n * t.inv_rc, d1 = d * t.inv_rc;
  const double ep3 = ep * ep * ep;
  GeodeticOffset o;
  o.dlon = (ep + ep * alpha) + (ep * (alpha * alpha) - ep3 * (1.0 / 3));
  const double dd = d1 + d1 * d1;
  const double n_terms = n1 * ((1 + dd) - ((t.cL * t.inv_rc) * k0 + t.half_dm_rc * n1));
  const double k_terms = ((t.sL * t.inv_rc) * k0) * ((1 + alpha) + d1);
  o.dlat = (n_terms - k_terms) - n1 * (n1 * n1) * (1.0 / 3);
  // cL k = e^2 (1 + alpha) / 2 (rn + h): how far the parallel falls below
  // the tangent plane.
  const double fall = (0.5 * e2 * t.cL_p) * (1 + alpha);
  o.dh = (fall - d) + n1 * (0.5 * n * (1 + d1) - t.sL * k0);
  return o;
}

// The closed-form local expansion alone (offsets within kLocalReach, at least
// kLocalReach from the polar axis; otherwise the exact conversion).
GeodeticOffset ned_to_geodetic_near(const EllipsoidFrame& f, double n, double e, double d);

// The exact conversion through Earth-centred coordinates (slow; any offset).
GeodeticOffset ned_to_geodetic_exact(const EllipsoidFrame& f, double n, double e, double d);

// Offsets up to this many metres (summed over the three axes) take the
// closed-form local expansion.
constexpr double kLocalReach = 6000;

// Beyond the series' reach: the closed-form expansion or the exact
// conversion (sL, cL: of the aircraft's latitude; h: its height, metres).
GeodeticOffset beyond_series(double sL, double cL, double h, double n, double e, double d);

// Within the series' reach (445 m at 78.5 degrees, 1.6 km at 45): the
// series, within 2e-7 m of the exact conversion. Farther out within
// kLocalReach and away from the poles: the closed-form expansion, within
// 2e-6 m. Elsewhere the exact conversion.
inline GeodeticOffset ned_to_geodetic(const SeriesTerms& terms, double sL, double cL, double h,
                                      double n, double e, double d) {
  if (std::fabs(n) + std::fabs(e) + std::fabs(d) <= terms.reach)
    return ned_to_geodetic_series(terms, n, e, d);
  return beyond_series(sL, cL, h, n, e, d);
}

GeodeticOffset ned_to_geodetic(double sL, double cL, double h, double n, double e, double d);

// The series terms along the trajectory: exact at the two samples of the
// interval a time lies in and linear in between, as the aircraft's position is.
// Over an interval short enough that their curvature stays below 1e-9 of
// them (samples up to about 80 m apart in latitude at 78.5 degrees, 330 m at
// 45) that is what the aircraft's own terms are; over longer intervals they
// are computed at the aircraft, with a square root and three divisions more
// a measurement.
class SeriesTermsTrack {
 public:
  explicit SeriesTermsTrack(const TrajectoryTable& table) : t_(table) {}

  // At `place` in the table; s is the aircraft's state there, cL the cosine
  // of its latitude.
  SeriesTerms at(const TrajectoryPlace& place, const AircraftState& s, double cL) {
    if (place.igps != igps_ || place.k2 != k2_) enter(place.igps, place.k2);
    if (!linear_) return make_series_terms(std::sin(s.lat_a * kDegToRad), cL, s.h_a);
    const double f = place.frac;
    SeriesTerms r = first_;
    r.inv_p += f * step_.inv_p;
    r.cL_p += f * step_.cL_p;
    r.inv_rc += f * step_.inv_rc;
    r.sL += f * step_.sL;
    r.cL = cL;
    return r;
  }

 private:
  void enter(std::int32_t igps, std::int32_t k2);

  const TrajectoryTable& t_;
  std::int32_t igps_ = -1, k2_ = -1;
  bool linear_ = false;
  // At the interval's first sample, with half_dm_rc kept (it needs 1e-4 of
  // itself) and the reach of the end nearer the pole; and the change across
  // the interval of the terms that need interpolating (cL comes with the
  // attitude).
  SeriesTerms first_, step_;
};

// A point on the ellipsoid, and its horizontal offset across the aircraft's
// heading (metres, negative to the right: the sign of tan(scanang)).
struct RigorousPoint {
  SurfacePoint point;
  double xdist = 0;
};

// Full geolocation on the ellipsoid with the series terms at the aircraft.
inline RigorousPoint geolocate_rigorous(double range, const Beam& beam, const AircraftState& s,
                                        const AttitudeTrig& t, const SeriesTerms& terms,
                                        const LeverArm& arm, GeoidLookup* geoid) {
  const NedOffset v = rotate_to_ned(range, beam, t, arm);
  const GeodeticOffset o = ned_to_geodetic(terms, terms.sL, terms.cL, s.h_a, v.n, v.e, v.d);
  RigorousPoint r;
  SurfacePoint& p = r.point;
  p.scanang = beam.scanang;
  p.lat = s.lat_a + o.dlat * kRadToDegExact;
  p.lon = s.lon_a + o.dlon * kRadToDegExact;
  p.h = s.h_a + o.dh;
  r.xdist = v.n * t.sH - v.e * t.cH;
  if (geoid != nullptr) p.h -= geoid->at(p.lat, p.lon);
  return r;
}

// The same with the sines and cosines and the series terms computed directly
// (a reference for the cached and interpolated ones).
RigorousPoint geolocate_rigorous(double range, const Beam& beam, const AircraftState& s,
                                 const LeverArm& arm, GeoidLookup* geoid);

}  // namespace bf
