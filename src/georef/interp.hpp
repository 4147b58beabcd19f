// The aircraft state at a measurement time, interpolated linearly in the
// trajectory table by a search that only moves forward.
#pragma once

#include <cstdint>

#include "input/trajectory.hpp"

namespace bf {

struct Misalignment {
  double pitch0 = 0, roll0 = 0, heading0 = 0;  // degrees, added to the attitude
};

struct AircraftState {
  double lat_a = 0, lon_a = 0, h_a = 0;     // degrees, degrees, metres
  double pitch = 0, roll = 0, heading = 0;  // degrees, misalignment added
  double vel = 0;                           // km/h (profile mode only)
};

// Interpolation position in the table: interval igps joins entries igps and
// igps + 1. Requires ngps >= 1; with one sample every time gives that sample.
class TrajectoryCursor {
 public:
  explicit TrajectoryCursor(const TrajectoryTable& table) : t_(table) {}

  // Moves to the interval holding thr and sets lat_a, lon_a, h_a.
  void position(double thr, AircraftState& s);
  // Pitch, roll and heading at the same time, with the misalignment angles.
  void attitude(const Misalignment& mis, AircraftState& s) const;
  // Ground speed at the same time.
  void speed(AircraftState& s) const;

  std::int32_t igps() const { return igps_; }
  std::int32_t k2() const { return k2_; }
  double frac() const { return frac_; }

 private:
  const TrajectoryTable& t_;
  std::int32_t igps_ = 1;
  std::int32_t k2_ = 1;  // the interval's later entry (igps + 1, or 1 for a single sample)
  double frac_ = 0, w_ = 1;
};

// Heading between samples a and b (degrees, -180 .. 180) at fraction frac,
// folding across +-180, plus heading0.
double interpolate_heading(double a, double b, double frac, double w, double heading0);

}  // namespace bf
