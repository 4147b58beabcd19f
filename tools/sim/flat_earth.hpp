// The checker's own statement of flat-earth geolocation, used to say what error that
// approximation is expected to add for the flown geometry: offsets north and east of the
// aircraft are turned into degrees with 111120 m per degree of latitude (and of longitude
// times the cosine of the aircraft's latitude), and the height is the aircraft's height less
// the down offset.
#pragma once

#include "trajectory.hpp"
#include "wgs84.hpp"

namespace bsim {

struct FlatPoint {
  double lat = 0.0;      // degrees
  double lon = 0.0;      // degrees
  double h = 0.0;        // metres, before any geoid correction
  double scanang = 0.0;  // radians, 0 at nadir, negative to the right
  double across = 0.0;   // metres across the heading from the aircraft, negative to the right
};

// What a run was told of the scanner beyond its deck (beamfall --boresight, --range-offset):
// the scanner's rotation from the body axes, degrees, as heading(z) * pitch(y) * roll(x)
// applied to the beam alone, and metres added to every range.
struct RunSensor {
  double roll = 0.0, pitch = 0.0, heading = 0.0;
  double range_offset = 0.0;
};

// Beam of `range` metres at `angle_gon` (100 = nadir) from a scanner at lever arm (dx, dy, dz)
// in the body frame, with the attitude of `a` plus the misalignment angles (degrees), the
// range and the beam corrected as `run` says.
FlatPoint flat_earth_point(const TrajSample& a, double range, double angle_gon, double dx,
                           double dy, double dz, double pitch0, double roll0, double heading0,
                           const RunSensor& run = {});

// The same beam placed rigorously: the north, east, down offset taken through Earth-centred
// coordinates to the exact geodetic position (the rigorous mode's statement of the beam).
FlatPoint rigorous_point(const TrajSample& a, double range, double angle_gon, double dx, double dy,
                         double dz, double pitch0, double roll0, double heading0,
                         const RunSensor& run = {});

// Flat-earth position of the point at (north, east, down) metres from the aircraft, as the
// offsets of the aircraft's own local level frame.
FlatPoint flat_earth_offset(const TrajSample& a, double north, double east, double down);

// The north, east, down offsets from the aircraft to `p` in the aircraft's local level frame.
void ned_offset(const TrajSample& a, const Geodetic& p, double& north, double& east, double& down);

}  // namespace bsim
