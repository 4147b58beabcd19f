#include "georef/interp.hpp"

namespace bf {

void TrajectoryCursor::position(double thr, AircraftState& s) {
  const double* time = t_.time.get();
  const std::int32_t last = t_.ngps - 1;
  if (last < 1) {
    // A single sample: no interval, every time takes that sample.
    igps_ = k2_ = 1;
    frac_ = 0;
    w_ = 1;
  } else {
    while (!(time[igps_ + 1] >= thr)) {
      if (++igps_ > last) {
        igps_ = last;
        break;
      }
    }
    k2_ = igps_ + 1;
    double f = (thr - time[igps_]) / (time[k2_] - time[igps_]);
    if (f < 0) f = 0;
    if (!(f <= 1)) f = 1;  // also an empty interval met exactly at its time
    frac_ = f;
    w_ = 1 - f;
  }
  const std::int32_t k = igps_;
  s.lat_a = w_ * t_.lat[k] + frac_ * t_.lat[k2_];
  s.lon_a = w_ * t_.lon[k] + frac_ * t_.lon[k2_];
  s.h_a = w_ * t_.h[k] + frac_ * t_.h[k2_];
}

double interpolate_heading(double a, double b, double frac, double w, double heading0) {
  if (a * b > -8100) return w * a + frac * b + heading0;
  double heading =
      a < -90 ? w * (a + 360) + frac * b + heading0 : w * a + frac * (b + 360) + heading0;
  if (heading > 180) heading -= 360;
  return heading;
}

void TrajectoryCursor::attitude(const Misalignment& mis, AircraftState& s) const {
  const std::int32_t k = igps_;
  s.pitch = (w_ * t_.pitch[k] + frac_ * t_.pitch[k2_]) + mis.pitch0;
  s.roll = (w_ * t_.roll[k] + frac_ * t_.roll[k2_]) + mis.roll0;
  s.heading = interpolate_heading(t_.heading[k], t_.heading[k2_], frac_, w_, mis.heading0);
}

void TrajectoryCursor::speed(AircraftState& s) const {
  s.vel = static_cast<double>(t_.vel[igps_]) * w_ + static_cast<double>(t_.vel[k2_]) * frac_;
}

}  // namespace bf
