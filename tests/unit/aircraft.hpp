// The aircraft of the geolocation tests: 1000 m above `lat` (55 N unless given) and 9 E, in
// the given attitude (degrees).
#pragma once

#include "georef/geolocate.hpp"

namespace bf::test {

inline AircraftState aircraft(double heading, double pitch, double roll, double lat = 55) {
  AircraftState s;
  s.lat_a = lat;
  s.lon_a = 9;
  s.h_a = 1000;
  s.heading = heading;
  s.pitch = pitch;
  s.roll = roll;
  return s;
}

}  // namespace bf::test
