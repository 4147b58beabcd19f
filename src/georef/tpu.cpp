#include "georef/tpu.hpp"

#include <algorithm>

#include "textio/units.hpp"

namespace bf {
namespace {

struct Vec3 {
  double n = 0, e = 0, d = 0;
};

Vec3 cross(const Vec3& a, const Vec3& b) {
  return {a.e * b.d - a.d * b.e, a.d * b.n - a.n * b.d, a.n * b.e - a.e * b.n};
}

Vec3 scaled(const Vec3& a, double k) {
  return {a.n * k, a.e * k, a.d * k};
}

// The body-frame vector `a` in north, east, down.
Vec3 body_to_ned(const AttitudeTrig& t, const double (&a)[3]) {
  const NedOffset v = rotate(t, a[0], a[1], a[2]);
  return {v.n, v.e, v.d};
}

// c += w a b^T + w b a^T (a == b: w a a^T twice; callers halve w for that).
void add_product(PointCovariance& c, const Vec3& a, const Vec3& b, double w) {
  c.nn += w * (a.n * b.n + b.n * a.n);
  c.ne += w * (a.n * b.e + b.n * a.e);
  c.nd += w * (a.n * b.d + b.n * a.d);
  c.ee += w * (a.e * b.e + b.e * a.e);
  c.ed += w * (a.e * b.d + b.e * a.d);
  c.dd += w * (a.d * b.d + b.d * a.d);
}

// A source of standard deviation `sigma` moving the point along `j`.
void add_source(PointCovariance& c, const Vec3& j, double sigma) {
  add_product(c, j, j, 0.5 * sigma * sigma);
}

// The boresight angles and the range offset, correlated: J C J^T.
void add_boresight(PointCovariance& c, const Vec3 (&j)[4], const BoresightCovariance& bore) {
  for (int a = 0; a < 4; ++a)
    for (int b = 0; b < 4; ++b)
      add_product(c, j[a], j[b], 0.5 * bore.c[a][b]);
}

void set_axis(double (&axis)[3], const NedOffset& v) {
  axis[0] = v.n;
  axis[1] = v.e;
  axis[2] = v.d;
}

}  // namespace

SensorNoise sensor_noise_axes(SensorNoise noise, const Boresight* boresight) {
  if (boresight == nullptr) return noise;
  const AttitudeTrig b = boresight_trig(*boresight);
  set_axis(noise.x_s, rotate(b, 1, 0, 0));
  set_axis(noise.y_b, NedOffset{-b.sH, b.cH, 0});
  set_axis(noise.z_b, NedOffset{0, 0, 1});
  return noise;
}

PointCovariance point_covariance(double range, const Beam& beam, const AttitudeTrig& t,
                                 const LeverArm& arm, const NavSigma& nav,
                                 const SensorNoise& sensor) {
  const NedOffset offset = rotate_to_ned(range, beam, t, arm);
  const Vec3 v{offset.n, offset.e, offset.d};
  const NedOffset beam_ned = rotate(t, beam.bx, beam.by, beam.bz);
  const Vec3 d{beam_ned.n, beam_ned.e, beam_ned.d};
  const Vec3 reach = scaled(d, range);

  PointCovariance c;
  const double lever2 = sensor.lever * sensor.lever;
  c.nn = nav.n * nav.n + lever2;
  c.ee = nav.e * nav.e + lever2;
  c.dd = nav.d * nav.d + lever2;
  // Roll turns about the body's x axis as pitched and headed, pitch about the
  // headed y axis, heading about down.
  add_source(c, cross({t.cP * t.cH, t.cP * t.sH, -t.sP}, v), nav.roll);
  add_source(c, cross({-t.sH, t.cH, 0}, v), nav.pitch);
  add_source(c, cross({0, 0, 1}, v), nav.heading);
  add_source(c, d, sensor.range);
  const Vec3 scan_axis = body_to_ned(t, sensor.x_s);
  const Vec3 along_scan = cross(scan_axis, reach);
  add_source(c, along_scan, sensor.angle);
  if (sensor.divergence > 0) {
    // The return comes from anywhere in the footprint: an angle of a quarter of
    // the divergence (one sigma of a Gaussian beam whose divergence is taken at
    // 1/e^2) each way across the beam. On level ground its vertical part is
    // range * divergence / 4 * sin(incidence).
    const double s = range * sensor.divergence / 4;
    const double s2 = s * s;
    c.nn += s2 * (1 - d.n * d.n);
    c.ee += s2 * (1 - d.e * d.e);
    c.dd += s2 * (1 - d.d * d.d);
    c.ne -= s2 * d.n * d.e;
    c.nd -= s2 * d.n * d.d;
    c.ed -= s2 * d.e * d.d;
  }
  if (sensor.bore.given) {
    const Vec3 j[4] = {along_scan, cross(body_to_ned(t, sensor.y_b), reach),
                       cross(body_to_ned(t, sensor.z_b), reach), d};
    add_boresight(c, j, sensor.bore);
  }
  return c;
}

NavSigma nav_sigma_at(std::span<const SigmaEpoch> epochs, double thr) {
  const auto after = std::upper_bound(epochs.begin(), epochs.end(), thr,
                                      [](double t, const SigmaEpoch& e) { return t < e.time; });
  const SigmaEpoch& a = after == epochs.begin() ? *after : *(after - 1);
  const SigmaEpoch& b = after == epochs.end() ? *(after - 1) : *after;
  const double f = b.time > a.time ? (thr - a.time) / (b.time - a.time) : 0;
  const auto mix = [f](double x, double y) { return x + f * (y - x); };
  return {mix(a.north, b.north),
          mix(a.east, b.east),
          mix(a.down, b.down),
          mix(a.roll, b.roll) * kDegToRad,
          mix(a.pitch, b.pitch) * kDegToRad,
          mix(a.heading, b.heading) * kDegToRad};
}

}  // namespace bf
