// Geolocation of one laser point by a local flat-earth rotation of the beam
// and lever arm (111120 m per degree of latitude).
#pragma once

#include <cmath>

#include "georef/interp.hpp"
#include "georef/trig.hpp"
#include "input/geoid.hpp"
#include "textio/units.hpp"

namespace bf {

// Lever arm of the scanner in the body frame (x forward, y right, z down), metres.
struct LeverArm {
  double dx = 0, dy = 0, dz = 0;
};

// Scan angle in radians from the beam angle in gon: 0 at nadir, negative to
// the right of the aircraft.
inline double scan_angle(double angle_gon) {
  return (angle_gon - 100) * (-1) * kGonToRad;
}

// A beam: its scan angle, and its unit direction in the body frame (x
// forward, y right, z down). The scanner sweeps its own y-z plane.
struct Beam {
  double scanang = 0;  // radians
  double bx = 0, by = 0, bz = 1;
};

// The beam at angle_gon with the scanner's axes on the body axes.
inline Beam make_beam(double angle_gon) {
  Beam b;
  b.scanang = scan_angle(angle_gon);
  // -0.0: arm.dx + range * bx is then arm.dx itself, bit for bit, even when dx is -0.0.
  b.bx = -0.0;
  b.by = -std::sin(b.scanang);
  b.bz = std::cos(b.scanang);
  return b;
}

struct SurfacePoint {
  double lat = 0, lon = 0;  // degrees (profile mode: hours)
  double h = 0;             // metres
  double scanang = 0;       // radians
};

// Sines and cosines of heading, pitch and roll, and the cosine of the
// aircraft latitude.
struct AttitudeTrig {
  double sH = 0, cH = 1, sP = 0, cP = 1, sR = 0, cR = 1, cL = 1;
};

// Offset from the trajectory reference point to a surface point in the local
// level frame at the aircraft, metres.
struct NedOffset {
  double n = 0, e = 0, d = 0;
};

// The sines and cosines of s's attitude and latitude, each by libm directly.
AttitudeTrig direct_attitude_trig(const AircraftState& s);

// The vector (x, y, z) turned by Rz(heading) Ry(pitch) Rx(roll): roll about
// x, then pitch about y, then heading about z (t.cL is not used).
inline NedOffset rotate(const AttitudeTrig& t, double x, double y, double z) {
  const double sH = t.sH, cH = t.cH, sP = t.sP, cP = t.cP, sR = t.sR, cR = t.cR;
  NedOffset v;
  v.n = cP * cH * x + (sP * cH * sR - cR * sH) * y + (sP * cH * cR + sR * sH) * z;
  v.e = cP * sH * x + (sH * sP * sR + cR * cH) * y + (sH * sP * cR - cH * sR) * z;
  v.d = -sP * x + cP * sR * y + cP * cR * z;
  return v;
}

// The beam and lever arm rotated from the body frame into north, east, down.
inline NedOffset rotate_to_ned(double range, const Beam& beam, const AttitudeTrig& t,
                               const LeverArm& arm) {
  return rotate(t, arm.dx + range * beam.bx, arm.dy + range * beam.by, arm.dz + range * beam.bz);
}

// The rotation of the scanner's axes from the body axes, in degrees: beam in
// the body frame = Rz(heading) Ry(pitch) Rx(roll) beam in the scanner frame,
// the attitude's own matrices, so a positive roll tilts the beam as a
// positive aircraft roll does (to the left).
struct Boresight {
  double roll = 0, pitch = 0, heading = 0;
};

// The sines and cosines of the boresight angles, as rotate() takes them.
AttitudeTrig boresight_trig(const Boresight& b);

// The beam at angle_gon from a scanner turned by the boresight `bore`.
Beam make_beam(double angle_gon, const AttitudeTrig& bore);

// Computes AttitudeTrig measurement after measurement; each angle is
// evaluated relative to the one before (the attitude changes slowly).
class AttitudeTrigCache {
 public:
  [[gnu::always_inline]] void eval(const AircraftState& s, AttitudeTrig& t) {
    double unused = 0;
    heading_.eval(s.heading * kDegToRad, t.sH, t.cH);
    pitch_.eval(s.pitch * kDegToRad, t.sP, t.cP);
    roll_.eval(s.roll * kDegToRad, t.sR, t.cR);
    lat_.eval(s.lat_a * kDegToRad, unused, t.cL);
  }

  // The state eval(s) leaves, without its sines and cosines: the cache that a
  // block of measurements processed elsewhere starts from.
  [[gnu::always_inline]] void follow(const AircraftState& s) {
    heading_.follow(s.heading * kDegToRad);
    pitch_.follow(s.pitch * kDegToRad);
    roll_.follow(s.roll * kDegToRad);
    lat_.follow(s.lat_a * kDegToRad);
  }

 private:
  NearSinCos heading_, pitch_, roll_, lat_;
};

// Full geolocation with lever arm and attitude; the geoid (when given) is
// subtracted at the point.
SurfacePoint geolocate_full(double range, const Beam& beam, const AircraftState& s,
                            const AttitudeTrig& t, const LeverArm& arm, GeoidLookup* geoid);

// The same with the sines and cosines computed directly (a reference for the
// cached path).
SurfacePoint geolocate_full(double range, const Beam& beam, const AircraftState& s,
                            const LeverArm& arm, GeoidLookup* geoid);

// Profile mode: along-track time and cross-track offset in hours of flight
// at the ground speed; the geoid (when given) is subtracted at the aircraft.
SurfacePoint geolocate_profile(double range, const Beam& beam, double thr, const AircraftState& s,
                               const LeverArm& arm, GeoidLookup* geoid);

}  // namespace bf
