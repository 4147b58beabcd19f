#include "wgs84.hpp"

#include <cmath>

namespace bsim {

Vec3 to_ecef(const Geodetic& g) {
  const double sl = std::sin(g.lat);
  const double cl = std::cos(g.lat);
  const double n = normal_radius(g.lat);
  return {(n + g.h) * cl * std::cos(g.lon), (n + g.h) * cl * std::sin(g.lon),
          (n * (1.0 - kWgs84E2) + g.h) * sl};
}

GeoFrame to_geodetic_frame(Vec3 p, bool angles) {
  // Vermeille's closed form (J. Geodesy 2002).
  const double a2 = kWgs84A * kWgs84A;
  const double e4 = kWgs84E2 * kWgs84E2;
  const double rho2 = p.x * p.x + p.y * p.y;
  const double rho = std::sqrt(rho2);
  const double pp = rho2 / a2;
  const double q = (1.0 - kWgs84E2) / a2 * p.z * p.z;
  const double r = (pp + q - e4) / 6.0;
  const double s = e4 * pp * q / (4.0 * r * r * r);
  const double t = std::cbrt(1.0 + s + std::sqrt(s * (2.0 + s)));
  const double u = r * (1.0 + t + 1.0 / t);
  const double v = std::sqrt(u * u + e4 * q);
  const double w = kWgs84E2 * (u + v - q) / (2.0 * v);
  const double k = std::sqrt(u + v + w * w) - w;
  const double d = k * rho / (k + kWgs84E2);
  const double dz = std::sqrt(d * d + p.z * p.z);
  GeoFrame f;
  // The latitude is atan2(z, d): its sine and cosine are z/dz and d/dz.
  f.slat = p.z / dz;
  f.clat = d / dz;
  if (rho > 0.0) {
    f.slon = p.y / rho;
    f.clon = p.x / rho;
  }
  f.g.h = (k + kWgs84E2 - 1.0) / k * dz;
  if (angles) {
    f.g.lat = std::atan2(p.z, d);
    f.g.lon = std::atan2(p.y, p.x);
  }
  return f;
}

Geodetic to_geodetic(Vec3 p) {
  return to_geodetic_frame(p, true).g;
}

double meridian_radius(double lat) {
  const double s = std::sin(lat);
  const double w2 = 1.0 - kWgs84E2 * s * s;
  return kWgs84A * (1.0 - kWgs84E2) / (w2 * std::sqrt(w2));
}

double normal_radius(double lat) {
  const double s = std::sin(lat);
  return kWgs84A / std::sqrt(1.0 - kWgs84E2 * s * s);
}

Mat3 ned_to_ecef(double lat, double lon) {
  const double sl = std::sin(lat);
  const double cl = std::cos(lat);
  const double so = std::sin(lon);
  const double co = std::cos(lon);
  Mat3 c;
  c.m[0][0] = -sl * co;
  c.m[1][0] = -sl * so;
  c.m[2][0] = cl;
  c.m[0][1] = -so;
  c.m[1][1] = co;
  c.m[2][1] = 0.0;
  c.m[0][2] = -cl * co;
  c.m[1][2] = -cl * so;
  c.m[2][2] = -sl;
  return c;
}

Mat3 body_to_ned(double roll, double pitch, double heading) {
  const double sr = std::sin(roll);
  const double cr = std::cos(roll);
  const double sp = std::sin(pitch);
  const double cp = std::cos(pitch);
  const double sh = std::sin(heading);
  const double ch = std::cos(heading);
  Mat3 rx;
  rx.m[1][1] = cr;
  rx.m[1][2] = -sr;
  rx.m[2][1] = sr;
  rx.m[2][2] = cr;
  Mat3 ry;
  ry.m[0][0] = cp;
  ry.m[0][2] = sp;
  ry.m[2][0] = -sp;
  ry.m[2][2] = cp;
  Mat3 rz;
  rz.m[0][0] = ch;
  rz.m[0][1] = -sh;
  rz.m[1][0] = sh;
  rz.m[1][1] = ch;
  return rz * (ry * rx);
}

void north_east_offset(const Geodetic& a, const Geodetic& b, double& dn, double& de) {
  const double lat_mid = 0.5 * (a.lat + b.lat);
  const double h_mid = 0.5 * (a.h + b.h);
  dn = (b.lat - a.lat) * (meridian_radius(lat_mid) + h_mid);
  double dlon = b.lon - a.lon;
  if (dlon > kPi) dlon -= 2.0 * kPi;
  if (dlon < -kPi) dlon += 2.0 * kPi;
  de = dlon * (normal_radius(lat_mid) + h_mid) * std::cos(lat_mid);
}

double horizontal_distance(const Geodetic& a, const Geodetic& b) {
  double dn = 0.0;
  double de = 0.0;
  north_east_offset(a, b, dn, de);
  return std::hypot(dn, de);
}

}  // namespace bsim
