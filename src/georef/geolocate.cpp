#include "georef/geolocate.hpp"

namespace bf {

SurfacePoint geolocate_full(double range, const Beam& beam, const AircraftState& s,
                            const AttitudeTrig& t, const LeverArm& arm, GeoidLookup* geoid) {
  const NedOffset v = rotate_to_ned(range, beam, t, arm);
  SurfacePoint p;
  p.scanang = beam.scanang;
  p.lat = s.lat_a + v.n * kInvMetresPerDegree;
  p.lon = s.lon_a + v.e / (t.cL * kMetresPerDegree);
  p.h = s.h_a - v.d;
  if (geoid != nullptr) p.h -= geoid->at(p.lat, p.lon);
  return p;
}

AttitudeTrig direct_attitude_trig(const AircraftState& s) {
  AttitudeTrig t;
  t.sH = std::sin(s.heading * kDegToRad);
  t.cH = std::cos(s.heading * kDegToRad);
  t.sP = std::sin(s.pitch * kDegToRad);
  t.cP = std::cos(s.pitch * kDegToRad);
  t.sR = std::sin(s.roll * kDegToRad);
  t.cR = std::cos(s.roll * kDegToRad);
  t.cL = std::cos(s.lat_a * kDegToRad);
  return t;
}

AttitudeTrig boresight_trig(const Boresight& b) {
  AttitudeTrig t;
  t.sH = std::sin(b.heading * kDegToRad);
  t.cH = std::cos(b.heading * kDegToRad);
  t.sP = std::sin(b.pitch * kDegToRad);
  t.cP = std::cos(b.pitch * kDegToRad);
  t.sR = std::sin(b.roll * kDegToRad);
  t.cR = std::cos(b.roll * kDegToRad);
  return t;
}

Beam make_beam(double angle_gon, const AttitudeTrig& bore) {
  Beam b = make_beam(angle_gon);
  const NedOffset v = rotate(bore, b.bx, b.by, b.bz);
  b.bx = v.n;
  b.by = v.e;
  b.bz = v.d;
  return b;
}

SurfacePoint geolocate_full(double range, const Beam& beam, const AircraftState& s,
                            const LeverArm& arm, GeoidLookup* geoid) {
  return geolocate_full(range, beam, s, direct_attitude_trig(s), arm, geoid);
}

SurfacePoint geolocate_profile(double range, const Beam& beam, double thr, const AircraftState& s,
                               const LeverArm& arm, GeoidLookup* geoid) {
  const double w = s.vel * 1000;
  const double pitch = s.pitch * kDegToRad;
  const double tilt = s.roll * kDegToRad + beam.scanang;
  SurfacePoint p;
  p.scanang = beam.scanang;
  p.lat = thr + range * std::sin(pitch) / w;
  p.lon = -range * std::sin(tilt) / w;
  p.h = s.h_a - range * std::cos(pitch) * std::cos(tilt) - arm.dz;
  if (geoid != nullptr) p.h -= geoid->at(s.lat_a, s.lon_a);
  return p;
}

}  // namespace bf
