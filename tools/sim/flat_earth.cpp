#include "flat_earth.hpp"

#include <cmath>

namespace bsim {

namespace {
constexpr double kDegToRad = 0.01745329252;  // to 11 decimals, as the processing has it
constexpr double kGonToRad = 0.015707963268;
constexpr double kMetresPerDegree = 111120.0;
}  // namespace

FlatPoint flat_earth_offset(const TrajSample& a, double north, double east, double down) {
  FlatPoint p;
  p.lat = a.lat + north * (1.0 / kMetresPerDegree);
  p.lon = a.lon + east / (std::cos(a.lat * kDegToRad) * kMetresPerDegree);
  p.h = a.h - down;
  return p;
}

namespace {

struct BeamOffset {
  double north = 0.0, east = 0.0, down = 0.0, across = 0.0, scanang = 0.0;
};

// The beam and lever arm in the aircraft's local level frame, with the processing's own
// angle constants.
BeamOffset beam_offset(const TrajSample& a, double range, double angle_gon, double dx, double dy,
                       double dz, double pitch0, double roll0, double heading0,
                       const RunSensor& run) {
  const double sa = (angle_gon - 100.0) * -1.0 * kGonToRad;
  range += run.range_offset;
  Vec3 beam{0.0, -std::sin(sa), std::cos(sa)};
  if (run.roll != 0.0 || run.pitch != 0.0 || run.heading != 0.0)
    beam = body_to_ned(run.roll * kDeg, run.pitch * kDeg, run.heading * kDeg) * beam;
  const double x = dx + range * beam.x;
  const double y = dy + range * beam.y;
  const double z = dz + range * beam.z;
  const double r = (a.roll + roll0) * kDegToRad;
  const double p = (a.pitch + pitch0) * kDegToRad;
  const double h = (a.heading + heading0) * kDegToRad;
  const double sr = std::sin(r), cr = std::cos(r);
  const double sp = std::sin(p), cp = std::cos(p);
  const double sh = std::sin(h), ch = std::cos(h);
  const double north = cp * ch * x + (sp * ch * sr - cr * sh) * y + (sp * ch * cr + sr * sh) * z;
  const double east = cp * sh * x + (sh * sp * sr + cr * ch) * y + (sh * sp * cr - ch * sr) * z;
  const double down = -sp * x + cp * sr * y + cp * cr * z;
  return {north, east, down, north * sh - east * ch, sa};
}

}  // namespace

FlatPoint flat_earth_point(const TrajSample& a, double range, double angle_gon, double dx,
                           double dy, double dz, double pitch0, double roll0, double heading0,
                           const RunSensor& run) {
  const BeamOffset b = beam_offset(a, range, angle_gon, dx, dy, dz, pitch0, roll0, heading0, run);
  FlatPoint out = flat_earth_offset(a, b.north, b.east, b.down);
  out.scanang = b.scanang;
  out.across = b.across;
  return out;
}

FlatPoint rigorous_point(const TrajSample& a, double range, double angle_gon, double dx, double dy,
                         double dz, double pitch0, double roll0, double heading0,
                         const RunSensor& run) {
  const BeamOffset b = beam_offset(a, range, angle_gon, dx, dy, dz, pitch0, roll0, heading0, run);
  const Geodetic g{a.lat * kDeg, a.lon * kDeg, a.h};
  const Geodetic p =
      to_geodetic(to_ecef(g) + ned_to_ecef(g.lat, g.lon) * Vec3{b.north, b.east, b.down});
  FlatPoint out;
  out.lat = p.lat / kDeg;
  out.lon = p.lon / kDeg;
  out.h = p.h;
  out.scanang = b.scanang;
  out.across = b.across;
  return out;
}

void ned_offset(const TrajSample& a, const Geodetic& p, double& north, double& east, double& down) {
  const Geodetic g{a.lat * kDeg, a.lon * kDeg, a.h};
  const Vec3 d = to_ecef(p) - to_ecef(g);
  const Mat3 c = ned_to_ecef(g.lat, g.lon);
  north = c.m[0][0] * d.x + c.m[1][0] * d.y + c.m[2][0] * d.z;
  east = c.m[0][1] * d.x + c.m[1][1] * d.y + c.m[2][1] * d.z;
  down = c.m[0][2] * d.x + c.m[1][2] * d.y + c.m[2][2] * d.z;
}

}  // namespace bsim
