// Total propagated uncertainty of a point: the errors of the navigation
// solution, the scanner and its mounting carried to first order through the
// geolocation of one measurement, as a covariance in the local level frame.
//
// The point is p = a + R (arm + range * beam): a the aircraft's position, R
// its attitude, beam the unit beam in the body frame (the boresight
// included). Each error source moves p along its own partial derivative:
//   position        the identity (north, east, down apart)
//   roll, pitch,    (the rotation axis in north-east-down) x (R (arm + range * beam)):
//   heading         roll about the body's x axis as pitched and headed, pitch
//                   about the headed y axis, heading about down
//   range           the beam in north-east-down, d = R beam
//   scan angle      range * (R x_s) x d, x_s the scanner's axis of rotation
//   lever arm       R, so sigma^2 I whatever the attitude
//   footprint       range * divergence / 4 each way across the beam
//   boresight,      range * (R b_k) x d for the boresight's own axes b_k, and d
//   range offset    for the offset, with their covariance from the calibration
// Left out, with what they are worth: the change of the attitude's axes with
// the attitude errors themselves (second order: sigma^2, 1e-8 of the terms for
// 0.01 degree); the curvature of the Earth between the aircraft's level frame
// and the point's (range / 6.4e6 of the horizontal terms, below 1e-4 of them
// within a kilometre), so the flat-earth and the rigorous geolocation take the
// same covariance; the timing of the measurements, the geoid grid's own error
// and the surface's slope within the footprint (the incidence is taken on a
// level surface: the point's vertical).
#pragma once

#include <cmath>
#include <cstddef>
#include <span>

#include "georef/geolocate.hpp"
#include "input/trajectory_writers.hpp"

namespace bf {

// The navigation solution's standard deviations at one time: metres along
// north, east and down, radians of roll, pitch and heading.
struct NavSigma {
  double n = 0, e = 0, d = 0;
  double roll = 0, pitch = 0, heading = 0;
};

// The calibration's covariance of the boresight roll, pitch, heading
// (radians) and the range offset (metres), in that order; `given` false:
// none.
struct BoresightCovariance {
  bool given = false;
  double c[4][4] = {};
};

// The scanner's standard deviations and the run's fixed geometry.
struct SensorNoise {
  double range = 0;       // metres
  double angle = 0;       // radians, the scan-angle encoder
  double lever = 0;       // metres, each axis of the lever arm
  double divergence = 0;  // radians, the beam's full divergence; 0: no footprint term
  // The scanner's axes in the body frame, turned by the boresight: x_s (the
  // axis the beam sweeps about, also the boresight's roll axis), the
  // boresight's pitch axis Rz(h) y and its heading axis z.
  double x_s[3] = {1, 0, 0};
  double y_b[3] = {0, 1, 0};
  double z_b[3] = {0, 0, 1};
  BoresightCovariance bore;
};

// The sensor noise with the axes of a scanner turned by `boresight` (none:
// the body's axes).
SensorNoise sensor_noise_axes(SensorNoise noise, const Boresight* boresight);

// A point's covariance in north, east, down, square metres.
struct PointCovariance {
  double nn = 0, ne = 0, nd = 0, ee = 0, ed = 0, dd = 0;
};

// One standard deviation, metres: horizontal sqrt(east^2 + north^2), vertical.
struct PointSigma {
  double horizontal = 0, vertical = 0;
};

inline PointSigma point_sigma(const PointCovariance& c) {
  return {std::sqrt(c.nn + c.ee), std::sqrt(c.dd)};
}

namespace tpu_detail {

struct Vec3 {
  double n = 0, e = 0, d = 0;
};

inline Vec3 cross(const Vec3& a, const Vec3& b) {
  return {a.e * b.d - a.d * b.e, a.d * b.n - a.n * b.d, a.n * b.e - a.e * b.n};
}

// The attitude's rotation from the body frame to north, east, down, as
// rotate() applies it, for several vectors at once.
struct Rotation {
  double m[3][3];

  explicit Rotation(const AttitudeTrig& t) {
    const double sPcH = t.sP * t.cH, sPsH = t.sP * t.sH;
    m[0][0] = t.cP * t.cH, m[0][1] = sPcH * t.sR - t.cR * t.sH, m[0][2] = sPcH * t.cR + t.sR * t.sH;
    m[1][0] = t.cP * t.sH, m[1][1] = sPsH * t.sR + t.cR * t.cH, m[1][2] = sPsH * t.cR - t.cH * t.sR;
    m[2][0] = -t.sP, m[2][1] = t.cP * t.sR, m[2][2] = t.cP * t.cR;
  }
  Vec3 operator()(double x, double y, double z) const {
    return {m[0][0] * x + m[0][1] * y + m[0][2] * z, m[1][0] * x + m[1][1] * y + m[1][2] * z,
            m[2][0] * x + m[2][1] * y + m[2][2] * z};
  }
  Vec3 operator()(const double (&a)[3]) const { return (*this)(a[0], a[1], a[2]); }
};

// c += w (a b^T + b a^T) / 2; the diagonal only unless Full.
template <bool Full>
inline void add_product(PointCovariance& c, const Vec3& a, const Vec3& b, double w) {
  c.nn += w * (a.n * b.n);
  c.ee += w * (a.e * b.e);
  c.dd += w * (a.d * b.d);
  if constexpr (Full) {
    c.ne += 0.5 * w * (a.n * b.e + b.n * a.e);
    c.nd += 0.5 * w * (a.n * b.d + b.n * a.d);
    c.ed += 0.5 * w * (a.e * b.d + b.e * a.d);
  }
}

// A source of standard deviation `sigma` moving the point along `j`.
template <bool Full>
inline void add_source(PointCovariance& c, const Vec3& j, double sigma) {
  add_product<Full>(c, j, j, sigma * sigma);
}

// The covariance of point_covariance; with Full false its diagonal only (the
// rest 0), which is all each point's sigmas need.
template <bool Full>
PointCovariance propagate(double range, const Beam& beam, const AttitudeTrig& t,
                          const LeverArm& arm, const NavSigma& nav, const SensorNoise& sensor) {
  const Rotation rot(t);
  const Vec3 d = rot(beam.bx, beam.by, beam.bz);
  const Vec3 reach{d.n * range, d.e * range, d.d * range};
  const Vec3 arm_ned = rot(arm.dx, arm.dy, arm.dz);
  const Vec3 v{arm_ned.n + reach.n, arm_ned.e + reach.e, arm_ned.d + reach.d};

  PointCovariance c;
  const double lever2 = sensor.lever * sensor.lever;
  c.nn = nav.n * nav.n + lever2;
  c.ee = nav.e * nav.e + lever2;
  c.dd = nav.d * nav.d + lever2;
  // Roll turns about the body's x axis as pitched and headed (R x), pitch
  // about the headed y axis, heading about down.
  add_source<Full>(c, cross({rot.m[0][0], rot.m[1][0], rot.m[2][0]}, v), nav.roll);
  add_source<Full>(c, cross({-t.sH, t.cH, 0}, v), nav.pitch);
  add_source<Full>(c, {-v.e, v.n, 0}, nav.heading);  // down x v
  add_source<Full>(c, d, sensor.range);
  const Vec3 along_scan = cross(rot(sensor.x_s), reach);
  add_source<Full>(c, along_scan, sensor.angle);
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
    if constexpr (Full) {
      c.ne -= s2 * d.n * d.e;
      c.nd -= s2 * d.n * d.d;
      c.ed -= s2 * d.e * d.d;
    }
  }
  if (sensor.bore.given) {
    // The boresight angles and the range offset, correlated: J C J^T.
    const Vec3 j[4] = {along_scan, cross(rot(sensor.y_b), reach), cross(rot(sensor.z_b), reach), d};
    for (int a = 0; a < 4; ++a)
      for (int b = 0; b < 4; ++b)
        add_product<Full>(c, j[a], j[b], sensor.bore.c[a][b]);
  }
  return c;
}

}  // namespace tpu_detail

// The covariance of the point that geolocate_full or geolocate_rigorous
// makes of `range` along `beam` from an aircraft with attitude `t` and lever
// arm `arm`. A pure function: nothing is kept from one point to the next.
inline PointCovariance point_covariance(double range, const Beam& beam, const AttitudeTrig& t,
                                        const LeverArm& arm, const NavSigma& nav,
                                        const SensorNoise& sensor) {
  return tpu_detail::propagate<true>(range, beam, t, arm, nav, sensor);
}

// The point's sigmas, from the diagonal of the same covariance (what the run
// computes for every point).
inline PointSigma point_sigma(double range, const Beam& beam, const AttitudeTrig& t,
                              const LeverArm& arm, const NavSigma& nav, const SensorNoise& sensor) {
  return point_sigma(tpu_detail::propagate<false>(range, beam, t, arm, nav, sensor));
}

// The navigation sigmas at `thr` (decimal hours) interpolated linearly
// between the epochs around it (the first or the last one outside them),
// degrees turned into radians. `epochs` is not empty; times increase.
NavSigma nav_sigma_at(std::span<const SigmaEpoch> epochs, double thr);

}  // namespace bf
