#include "georef/rigorous.hpp"

#include <cmath>

namespace bf {

EllipsoidFrame make_ellipsoid_frame(double sL, double cL, double h) {
  const double w2 = 1 - kWgs84E2 * sL * sL;
  const double iw = 1 / std::sqrt(w2);
  const double rn = kWgs84A * iw;                   // prime-vertical radius
  const double rm = rn * (1 - kWgs84E2) * iw * iw;  // meridian radius
  EllipsoidFrame f;
  f.sL = sL;
  f.cL = cL;
  f.h = h;
  f.p = (rn + h) * cL;
  f.z = (rn * (1 - kWgs84E2) + h) * sL;
  f.rc = rm + h;
  f.inv_rc = 1 / f.rc;
  f.half_dm = 1.5 * rm * kWgs84E2 * sL * cL * iw * iw;
  return f;
}

// In the aircraft's meridian plane, with u along the local north and v up,
// a point at latitude lat0 + dlat and height h lies within 2e-6 m (within
// 2 km) of rc' (sin dlat, cos dlat) + (half_dm dlat^2, 0) from the meridian's
// centre of curvature, rc' = rm + h: a circle, plus the first term of the
// meridian radius's change with latitude. Inverting that needs one division
// and short series; the longitude is the angle of the point about the polar
// axis, and the point's distance from that axis grows with the square of its
// east offset.
GeodeticOffset ned_to_geodetic(const EllipsoidFrame& f, double n, double e, double d) {
  const double x = f.p - (f.sL * n + f.cL * d);  // from the axis, in the aircraft's meridian
  const bool local = std::fabs(n) + std::fabs(e) + std::fabs(d) <= kLocalReach && x > kLocalReach &&
                     std::fabs(e) <= 0.01 * x;
  if (!local) return ned_to_geodetic_exact(f, n, e, d);
  const double t = e / x;
  const double t2 = t * t;
  // atan(t) and x (sqrt(1 + t^2) - 1) = e t (1/2 - t^2/8 + t^4/16) for |t| <= 0.01.
  const double dlon = t * (1 - t2 * (1.0 / 3 - t2 * (1.0 / 5 - t2 * (1.0 / 7))));
  const double k = e * t * (0.5 - t2 * (0.125 - t2 * 0.0625));
  const double u = n - f.sL * k;
  const double v = -d + f.cL * k;
  // 1 / (rc + v) by its series in v / rc (at most 1e-3 here).
  const double w = v * f.inv_rc;
  const double inv_y = f.inv_rc * (1 - w * (1 - w * (1 - w)));
  const double dlat1 = u * inv_y;
  const double q = (u - f.half_dm * dlat1 * dlat1) * inv_y;
  const double q2 = q * q;
  GeodeticOffset o;
  o.dlon = dlon;
  o.dlat = q * (1 - q2 * (1.0 / 3 - q2 * (1.0 / 5)));
  o.dh = v + (f.rc + v) * q2 * (0.5 - q2 * 0.125);
  return o;
}

GeodeticOffset ned_to_geodetic_exact(const EllipsoidFrame& f, double n, double e, double d) {
  const double x = f.p - (f.sL * n + f.cL * d);
  const double z = f.z + (f.cL * n - f.sL * d);
  const double p = std::hypot(x, e);
  // Fixed point on lat = atan2(z + e2 N(lat) sin(lat), p): each step gains a
  // factor of about e2 = 0.0067, at any latitude.
  double lat = std::atan2(z, p * (1 - kWgs84E2));
  for (int it = 0; it < 10; ++it) {
    const double s = std::sin(lat);
    const double rn = kWgs84A / std::sqrt(1 - kWgs84E2 * s * s);
    lat = std::atan2(z + kWgs84E2 * rn * s, p);
  }
  const double s = std::sin(lat), c = std::cos(lat);
  GeodeticOffset o;
  o.dlat = lat - std::atan2(f.sL, f.cL);
  o.dlon = std::atan2(e, x);
  o.dh = p * c + z * s - kWgs84A * std::sqrt(1 - kWgs84E2 * s * s) - f.h;
  return o;
}

SurfacePoint geolocate_rigorous(double range, const Beam& beam, const AircraftState& s,
                                const AttitudeTrig& t, const LeverArm& arm, GeoidLookup* geoid) {
  const NedOffset v = rotate_to_ned(range, beam, t, arm);
  const EllipsoidFrame f = make_ellipsoid_frame(t.sL, t.cL, s.h_a);
  const GeodeticOffset o = ned_to_geodetic(f, v.n, v.e, v.d);
  SurfacePoint p;
  p.scanang = beam.scanang;
  p.lat = s.lat_a + o.dlat * kRadToDegExact;
  p.lon = s.lon_a + o.dlon * kRadToDegExact;
  p.h = s.h_a + o.dh;
  p.xdist = v.n * t.sH - v.e * t.cH;
  if (geoid != nullptr) p.h -= geoid->at(p.lat, p.lon);
  return p;
}

}  // namespace bf
