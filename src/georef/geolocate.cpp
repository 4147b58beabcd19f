#include "georef/geolocate.hpp"

namespace bf {

SurfacePoint geolocate_full(double range, const Beam& beam, const AircraftState& s,
                            const AttitudeTrig& t, const LeverArm& arm, GeoidLookup* geoid) {
  const double sH = t.sH, cH = t.cH, sP = t.sP, cP = t.cP, sR = t.sR, cR = t.cR, cL = t.cL;

  const double x = arm.dx;
  const double y = arm.dy - range * beam.sin_s;
  const double z = arm.dz + range * beam.cos_s;

  const double n = cP * cH * x + (sP * cH * sR - cR * sH) * y + (sP * cH * cR + sR * sH) * z;
  const double e = cP * sH * x + (sH * sP * sR + cR * cH) * y + (sH * sP * cR - cH * sR) * z;
  const double d = -sP * x + cP * sR * y + cP * cR * z;

  SurfacePoint p;
  p.scanang = beam.scanang;
  p.lat = s.lat_a + n * kInvMetresPerDegree;
  p.lon = s.lon_a + e / (cL * 111120);
  p.h = s.h_a - d;
  if (geoid != nullptr) p.h -= geoid->at(p.lat, p.lon);
  return p;
}

SurfacePoint geolocate_full(double range, const Beam& beam, const AircraftState& s,
                            const LeverArm& arm, GeoidLookup* geoid) {
  AttitudeTrig t;
  t.sH = std::sin(s.heading * kDegToRad);
  t.cH = std::cos(s.heading * kDegToRad);
  t.sP = std::sin(s.pitch * kDegToRad);
  t.cP = std::cos(s.pitch * kDegToRad);
  t.sR = std::sin(s.roll * kDegToRad);
  t.cR = std::cos(s.roll * kDegToRad);
  t.cL = std::cos(s.lat_a * kDegToRad);
  return geolocate_full(range, beam, s, t, arm, geoid);
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
