#include "georef/rigorous.hpp"

#include <algorithm>
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

SeriesTerms make_series_terms(double sL, double cL, double h) {
  const double iw2 = 1 / (1 - kWgs84E2 * sL * sL);
  const double iw = std::sqrt(iw2);
  const double rn_h = kWgs84A * iw + h;
  const double rm = kWgs84A * (1 - kWgs84E2) * iw * iw2;
  SeriesTerms t;
  t.sL = sL;
  t.cL = cL;
  t.inv_p = 1 / (rn_h * cL);
  t.cL_p = 1 / rn_h;
  t.inv_rc = 1 / (rm + h);
  t.half_dm_rc = 1.5 * kWgs84E2 * rm * iw2 * sL * cL * t.inv_rc;
  // The first terms left out are about rho^4 / p^3: below 1e-7 m for
  // rho <= 3.5e-4 p at any p up to the equator's. Heights of hundreds of
  // kilometres (bad data) leave the series to the other paths.
  t.reach = std::fabs(h) <= 50000 ? 3.5e-4 * rn_h * cL : 0;
  return t;
}

namespace {

SeriesTerms terms_at_sample(const TrajectoryTable& t, std::int32_t k) {
  const double lat = t.lat[k] * kDegToRad;
  return make_series_terms(std::sin(lat), std::cos(lat), t.h[k]);
}

}  // namespace

void SeriesTermsTrack::enter(std::int32_t igps, std::int32_t k2) {
  igps_ = igps;
  k2_ = k2;
  first_ = terms_at_sample(t_, igps);
  const SeriesTerms last = terms_at_sample(t_, k2);
  step_.inv_p = last.inv_p - first_.inv_p;
  step_.cL_p = last.cL_p - first_.cL_p;
  step_.inv_rc = last.inv_rc - first_.inv_rc;
  step_.sL = last.sL - first_.sL;
  first_.reach = std::min(first_.reach, last.reach);
  // Linear interpolation misses the terms by about dlat^2 (1 + 2 tan^2 lat) / 8
  // of themselves: up to 1e-9 here, 2e-6 m at 2 km.
  const double dlat = (t_.lat[k2] - t_.lat[igps]) * kDegToRad;
  const double tan2 = first_.sL * first_.sL / (first_.cL * first_.cL);
  linear_ = dlat * dlat * (1 + 2 * tan2) <= 8e-9 && std::fabs(t_.h[k2] - t_.h[igps]) <= 100;
}

// In the aircraft's meridian plane, with u along the local north and v up,
// a point at latitude lat0 + dlat and height h lies within 2e-6 m (within
// 2 km) of rc' (sin dlat, cos dlat) + (half_dm dlat^2, 0) from the meridian's
// centre of curvature, rc' = rm + h: a circle, plus the first term of the
// meridian radius's change with latitude. Inverting that needs one division
// and short series; the longitude is the angle of the point about the polar
// axis, and the point's distance from that axis grows with the square of its
// east offset.
GeodeticOffset ned_to_geodetic_near(const EllipsoidFrame& f, double n, double e, double d) {
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

GeodeticOffset beyond_series(double sL, double cL, double h, double n, double e, double d) {
  return ned_to_geodetic_near(make_ellipsoid_frame(sL, cL, h), n, e, d);
}

GeodeticOffset ned_to_geodetic(double sL, double cL, double h, double n, double e, double d) {
  return ned_to_geodetic(make_series_terms(sL, cL, h), sL, cL, h, n, e, d);
}

RigorousPoint geolocate_rigorous(double range, const Beam& beam, const AircraftState& s,
                                 const LeverArm& arm, GeoidLookup* geoid) {
  const AttitudeTrig t = direct_attitude_trig(s);
  const SeriesTerms terms = make_series_terms(std::sin(s.lat_a * kDegToRad), t.cL, s.h_a);
  return geolocate_rigorous(range, beam, s, t, terms, arm, geoid);
}

}  // namespace bf
