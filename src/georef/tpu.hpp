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

// The covariance of the point that geolocate_full or geolocate_rigorous
// makes of `range` along `beam` from an aircraft with attitude `t` and lever
// arm `arm`. A pure function: nothing is kept from one point to the next.
PointCovariance point_covariance(double range, const Beam& beam, const AttitudeTrig& t,
                                 const LeverArm& arm, const NavSigma& nav,
                                 const SensorNoise& sensor);

// One standard deviation, metres: horizontal sqrt(east^2 + north^2), vertical.
struct PointSigma {
  double horizontal = 0, vertical = 0;
};

inline PointSigma point_sigma(const PointCovariance& c) {
  return {std::sqrt(c.nn + c.ee), std::sqrt(c.dd)};
}

// The navigation sigmas at `thr` (decimal hours) interpolated linearly
// between the epochs around it (the first or the last one outside them),
// degrees turned into radians. `epochs` is not empty; times increase.
NavSigma nav_sigma_at(std::span<const SigmaEpoch> epochs, double thr);

}  // namespace bf
