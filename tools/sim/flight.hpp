// The simulated flight: a line flown at constant ground speed and altitude, optionally with a
// gentle coordinated turn, and small oscillations of attitude and height, sampled into the
// trajectory file.
#pragma once

#include <cstdint>
#include <vector>

#include "trajectory.hpp"

namespace bsim {

struct FlightPlan {
  double lat0 = 78.5;          // position at the first trajectory sample, degrees
  double lon0 = -15.0;         // degrees
  double track0 = 30.0;        // ground track at the start, degrees clockwise from north
  double speed = 70.0;         // ground speed, m/s
  double altitude = 380.0;     // mean ellipsoidal height of the antenna, metres
  double turn_rate = 0.0;      // degrees per second, positive clockwise
  double turn_start = 0.0;     // seconds after the first scan
  double turn_duration = 0.0;  // seconds, including 3 s of smooth entry and exit
  double crab = 2.0;           // heading minus track, degrees
  double pitch = 1.8;          // mean pitch, degrees
  double wobble = 1.0;         // scale of the attitude and height oscillations (0: none)
  double rate = 10.0;          // trajectory samples per second
  double t_first = 0.0;        // first scan, seconds since midnight
  double duration = 60.0;      // seconds of scanning
  std::uint64_t seed = 1;
};

// Samples from 1.5 s before the first scan to 1.5 s after the last, as the file's text
// reads them back.
std::vector<TrajSample> fly(const FlightPlan& plan);

}  // namespace bsim
