// One simulated laser measurement: the aircraft state at its time, the beam from the scanner
// through the injected misalignment, and the rigorous WGS84 intersection with the surface.
#pragma once

#include <cstdint>
#include <vector>

#include "scanner.hpp"
#include "surface.hpp"
#include "trajectory.hpp"
#include "vec3.hpp"
#include "wgs84.hpp"

namespace bsim {

// Everything the measurement model depends on; shared by the simulator and the checker.
struct SensorModel {
  Vec3 lever;                 // scanner origin in the body frame (forward, right, down), metres
  double bore_roll = 0.0;     // scanner misalignment against the body frame, degrees,
  double bore_pitch = 0.0;    // applied to the beam only, as a rotation
  double bore_heading = 0.0;  // heading(z) * pitch(y) * roll(x)
  double range_bias = 0.0;    // metres added to every true range
  double range_noise = 0.0;   // standard deviation of Gaussian range noise, metres
  std::uint64_t seed = 1;
};

struct Measurement {
  std::int64_t tick = 0;
  double t_hours = 0.0;     // decimal hours since midnight
  TrajSample state;         // true aircraft state at the measurement time
  Geodetic origin;          // scanner origin
  Geodetic footprint;       // where the beam meets the surface
  double range_true = 0.0;  // metres, scanner origin to footprint
  bool returned = false;    // false: out of the range counter's reach (written as 0)
  std::uint16_t range_count = 0;
  std::int8_t ampl = 0;
  std::uint16_t angle_count = 0;
};

class BeamModel {
 public:
  BeamModel(const ScanPattern& pattern, const TrajectoryInterp& traj, const Surface& surface,
            const SensorModel& sensor);
  Measurement measure(std::int64_t k, int i) const;
  const ScanPattern& pattern() const { return pattern_; }
  const SensorModel& sensor() const { return sensor_; }

 private:
  const ScanPattern& pattern_;
  const TrajectoryInterp& traj_;
  const Surface& surface_;
  SensorModel sensor_;
  // Beam direction of each index in the body frame, misalignment included.
  std::vector<Vec3> beams_;
};

// Range along the unit ECEF direction u from `from` to the surface; throws when the beam
// does not meet it within 20 Newton steps. `origin` receives the geodetic position of
// `from`, `footprint` the point where the beam meets the surface.
double intersect(const Surface& surface, Vec3 from, Vec3 u, Geodetic& origin, Geodetic& footprint);

// The same from a starting frame near `from` (within metres): Newton then converges from
// there, and `from`'s own geodetic position is never needed.
double intersect_from(const Surface& surface, Vec3 from, GeoFrame start, Vec3 u,
                      Geodetic& footprint);

}  // namespace bsim
