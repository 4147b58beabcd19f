#include "beam.hpp"

#include <cmath>

#include "runfiles/text.hpp"

namespace bsim {

using namespace runfiles;  // the shared readers and text helpers

BeamModel::BeamModel(const ScanPattern& pattern, const TrajectoryInterp& traj,
                     const Surface& surface, const SensorModel& sensor)
    : pattern_(pattern), traj_(traj), surface_(surface), sensor_(sensor) {
  const Mat3 bore =
      body_to_ned(sensor_.bore_roll * kDeg, sensor_.bore_pitch * kDeg, sensor_.bore_heading * kDeg);
  // In the scanner frame the beam sweeps the y-z plane; positive angles point left.
  for (int i = 1; i <= pattern_.nmeas; ++i) {
    const double sa = pattern_.scan_angle(i);
    beams_.push_back(bore * Vec3{0.0, -std::sin(sa), std::cos(sa)});
  }
}

double intersect(const Surface& surface, Vec3 from, Vec3 u, Geodetic& origin, Geodetic& footprint) {
  const GeoFrame f = to_geodetic_frame(from, true);
  origin = f.g;
  return intersect_from(surface, from, f, u, footprint);
}

double intersect_from(const Surface& surface, Vec3 from, GeoFrame f, Vec3 u, Geodetic& footprint) {
  // A constant surface needs no latitude or longitude until the end.
  const bool angles = !surface.constant();
  Surface::Sample s = surface.at(f.g.lat, f.g.lon);
  // Newton on F(r) = h(r) - S(r): dh/dr is u along the local up; dS/dr follows the footprint's
  // horizontal motion through the surface gradient (the geoid's gradient, 1e-4 at most, is
  // left out, which only slows the convergence slightly). The first step also absorbs the
  // start's offset from `from`.
  double r = 0.0;
  for (int it = 0; it < 20; ++it) {
    const double un = -f.slat * f.clon * u.x - f.slat * f.slon * u.y + f.clat * u.z;
    const double ue = -f.slon * u.x + f.clon * u.y;
    const double ud = -f.clat * f.clon * u.x - f.clat * f.slon * u.y - f.slat * u.z;
    const double step = -(f.g.h - s.h) / (-ud - s.dh_dn * un - s.dh_de * ue);
    if (it > 0 && std::abs(step) < 1e-7) {
      // Newton converges quadratically: the point is within about `step` of the surface.
      footprint = f.g;
      if (!angles) {
        footprint.lat = std::atan2(f.slat, f.clat);
        footprint.lon = std::atan2(f.slon, f.clon);
      }
      return r;
    }
    r += step;
    f = to_geodetic_frame(from + r * u, angles);
    if (angles) s = surface.at(f.g.lat, f.g.lon);
  }
  throw ToolError("beam does not meet the surface (too steep a ridge flank?)");
}

Measurement BeamModel::measure(std::int64_t k, int i) const {
  Measurement m;
  m.tick = pattern_.tick(k, i);
  m.t_hours = ScanPattern::seconds(m.tick) / 3600.0;
  m.state = traj_.at(m.t_hours);
  m.angle_count = static_cast<std::uint16_t>(pattern_.angle_count(i));
  const TrajSample& a = m.state;
  const Geodetic antenna{a.lat * kDeg, a.lon * kDeg, a.h};
  const Mat3 n2e = ned_to_ecef(antenna.lat, antenna.lon);
  const Mat3 b2n = body_to_ned(a.roll * kDeg, a.pitch * kDeg, a.heading * kDeg);
  const Vec3 lever_ned = b2n * sensor_.lever;
  // ECEF of the antenna from the frame's sines (no further trigonometric calls).
  const double slat = -n2e.m[2][2], clat = n2e.m[2][0];
  const double slon = -n2e.m[0][1], clon = n2e.m[1][1];
  const double nrad = kWgs84A / std::sqrt(1.0 - kWgs84E2 * slat * slat);
  const Vec3 ant{(nrad + a.h) * clat * clon, (nrad + a.h) * clat * slon,
                 (nrad * (1.0 - kWgs84E2) + a.h) * slat};
  const Vec3 from = ant + n2e * lever_ned;
  // The scanner lies metres from the antenna: its geodetic position to first order in that
  // offset (within 1e-6 m), which is also Newton's start.
  GeoFrame start;
  const double mrad = nrad * (1.0 - kWgs84E2) / (1.0 - kWgs84E2 * slat * slat);
  start.g = {antenna.lat + lever_ned.x / (mrad + a.h),
             antenna.lon + lever_ned.y / ((nrad + a.h) * clat), a.h - lever_ned.z};
  // The antenna's frame serves as the start's: they differ by about 1e-6 radian.
  start.slat = slat;
  start.clat = clat;
  start.slon = slon;
  start.clon = clon;
  m.origin = start.g;
  const Vec3 u = n2e * (b2n * beams_[static_cast<std::size_t>(i - 1)]);
  m.range_true = intersect_from(surface_, from, start, u, m.footprint);
  const std::uint64_t key = static_cast<std::uint64_t>(k);
  const std::uint64_t idx = static_cast<std::uint64_t>(i);
  double measured = m.range_true + sensor_.range_bias;
  if (sensor_.range_noise > 0.0) {
    measured += sensor_.range_noise * normal01(sensor_.seed, key, idx);
  }
  const double count = std::round(measured / static_cast<double>(kRangeUnit));
  m.returned = count >= 1.0 && count <= 65535.0;
  if (m.returned) {
    m.range_count = static_cast<std::uint16_t>(count);
    m.ampl = static_cast<std::int8_t>(
        20 + static_cast<int>(100.0 * uniform01(sensor_.seed, key, idx + 1000000)));
  }
  return m;
}

}  // namespace bsim
