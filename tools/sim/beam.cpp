#include "beam.hpp"

#include <cmath>

#include "text.hpp"

namespace bsim {

BeamModel::BeamModel(const ScanPattern& pattern, const TrajectoryInterp& traj,
                     const Surface& surface, const SensorModel& sensor)
    : pattern_(pattern), traj_(traj), surface_(surface), sensor_(sensor) {
  bore_ =
      body_to_ned(sensor_.bore_roll * kDeg, sensor_.bore_pitch * kDeg, sensor_.bore_heading * kDeg);
}

double intersect(const Surface& surface, Vec3 from, Vec3 u, Geodetic& origin, Geodetic& footprint) {
  // A constant surface needs no latitude or longitude until the end.
  const bool angles = !surface.constant();
  GeoFrame f = to_geodetic_frame(from, true);
  origin = f.g;
  Surface::Sample s = surface.at(f.g.lat, f.g.lon);
  // Newton on F(r) = h(r) - S(r): dh/dr is u along the local up; dS/dr follows the footprint's
  // horizontal motion through the surface gradient (the geoid's gradient, 1e-4 at most, is
  // left out, which only slows the convergence slightly).
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
  const Mat3 b2e = n2e * b2n;
  const Vec3 from = to_ecef(antenna) + b2e * sensor_.lever;
  const double sa = pattern_.scan_angle(i);
  // In the scanner frame the beam sweeps the y-z plane; positive angles point left.
  const Vec3 beam_scanner{0.0, -std::sin(sa), std::cos(sa)};
  const Vec3 u = b2e * (bore_ * beam_scanner);
  m.range_true = intersect(surface_, from, u, m.origin, m.footprint);
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
