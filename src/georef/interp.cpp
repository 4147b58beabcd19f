#include "georef/interp.hpp"

namespace bf {

void TrajectoryCursor::position(double thr, AircraftState& s) {
  const double* time = t_.time.get();
  const std::int32_t last = t_.ngps - 1;
  TrajectoryPlace& p = p_;
  if (last < 1) {
    // A single sample: no interval, every time takes that sample.
    p.igps = p.k2 = 1;
    p.frac = 0;
    p.w = 1;
  } else {
    while (!(time[p.igps + 1] >= thr)) {
      if (++p.igps > last) {
        p.igps = last;
        break;
      }
    }
    p.k2 = p.igps + 1;
    double f = (thr - time[p.igps]) / (time[p.k2] - time[p.igps]);
    if (f < 0) f = 0;
    if (!(f <= 1)) f = 1;  // also an empty interval met exactly at its time
    p.frac = f;
    p.w = 1 - f;
  }
  const std::int32_t k = p.igps, k2 = p.k2;
  s.lat_a = p.w * t_.lat[k] + p.frac * t_.lat[k2];
  s.lon_a = p.w * t_.lon[k] + p.frac * t_.lon[k2];
  s.h_a = p.w * t_.h[k] + p.frac * t_.h[k2];
}

double interpolate_heading(double a, double b, double frac, double w, double heading0) {
  if (a * b > -8100) return w * a + frac * b + heading0;
  double heading =
      a < -90 ? w * (a + 360) + frac * b + heading0 : w * a + frac * (b + 360) + heading0;
  if (heading > 180) heading -= 360;
  return heading;
}

void TrajectoryCursor::attitude(const Misalignment& mis, AircraftState& s) const {
  const TrajectoryPlace& p = p_;
  const std::int32_t k = p.igps, k2 = p.k2;
  s.pitch = (p.w * t_.pitch[k] + p.frac * t_.pitch[k2]) + mis.pitch0;
  s.roll = (p.w * t_.roll[k] + p.frac * t_.roll[k2]) + mis.roll0;
  s.heading = interpolate_heading(t_.heading[k], t_.heading[k2], p.frac, p.w, mis.heading0);
}

void speed_at(const TrajectoryTable& table, const TrajectoryPlace& p, AircraftState& s) {
  s.vel =
      static_cast<double>(table.vel[p.igps]) * p.w + static_cast<double>(table.vel[p.k2]) * p.frac;
}

void TrajectoryCursor::speed(AircraftState& s) const {
  speed_at(t_, p_, s);
}

}  // namespace bf
