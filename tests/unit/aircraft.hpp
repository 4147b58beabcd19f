// The aircraft of the geolocation tests: 1000 m above 55 N 9 E, in the given attitude
// (degrees).
#pragma once

#include "georef/geolocate.hpp"

namespace bf::test {

inline AircraftState aircraft(double heading, double pitch, double roll) {
  AircraftState s;
  s.lat_a = 55;
  s.lon_a = 9;
  s.h_a = 1000;
  s.heading = heading;
  s.pitch = pitch;
  s.roll = roll;
  return s;
}

}  // namespace bf::test
