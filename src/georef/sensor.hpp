// The scanner's installation as a whole (lever arm, boresight, range offset)
// and the geolocation of one measurement from it: the single statement of the
// geometry for callers that try parameters one measurement at a time, such as
// a calibration. The measurement loop uses the same formulas with its cached
// sines and cosines and interpolated series terms.
#pragma once

#include "georef/geolocate.hpp"
#include "georef/interp.hpp"
#include "input/geoid.hpp"

namespace bf {

struct SensorModel {
  LeverArm arm;             // metres, body frame (x forward, y right, z down)
  Boresight boresight;      // degrees
  double range_offset = 0;  // metres added to every measured range
};

// One measurement: `range` in metres as read from the scanner file (before
// any offset), `angle_gon` its beam angle (100 = nadir), `s` the aircraft's
// position and attitude at its time with the deck's misalignment angles
// added (TrajectoryCursor::position and attitude). Flat-earth, or on the
// WGS84 ellipsoid when `rigorous`; the geoid (when given) is subtracted at
// the point.
SurfacePoint geolocate_measurement(double range, double angle_gon, const AircraftState& s,
                                   const SensorModel& sensor, bool rigorous, GeoidLookup* geoid);

}  // namespace bf
