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

// Where a time lies in the trajectory table: interval igps joins entries
// igps and k2 (igps + 1, or 1 for a single sample), at fraction frac of the
// way from the first to the second (w = 1 - frac).
struct TrajectoryPlace {
  std::int32_t igps = 1;
  std::int32_t k2 = 1;
  double frac = 0, w = 1;
};

// Interpolation position in the table, found by a search that only moves
// forward. Requires ngps >= 1; with one sample every time gives that sample.
class TrajectoryCursor {
 public:
  explicit TrajectoryCursor(const TrajectoryTable& table) : t_(table) {}

  // Moves to the interval holding thr and sets lat_a, lon_a, h_a.
  void position(double thr, AircraftState& s);
  // Pitch, roll and heading at the same time, with the misalignment angles.
  void attitude(const Misalignment& mis, AircraftState& s) const;
  // Ground speed at the same time.
  void speed(AircraftState& s) const;

  const TrajectoryPlace& place() const { return p_; }
  std::int32_t igps() const { return p_.igps; }
  std::int32_t k2() const { return p_.k2; }
  double frac() const { return p_.frac; }

 private:
  const TrajectoryTable& t_;
  TrajectoryPlace p_;
};

// The ground speed at `place` (profile mode), into s.vel. Reads the table
// only: the cursor that found the place may have moved on.
void speed_at(const TrajectoryTable& table, const TrajectoryPlace& place, AircraftState& s);

// Heading between samples a and b (degrees, -180 .. 180) at fraction frac,
// folding across +-180, plus heading0.
double interpolate_heading(double a, double b, double frac, double w, double heading0);

}  // namespace bf
