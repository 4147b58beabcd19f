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
  int oversample = 1;          // samples of the motion per trajectory sample's interval
  double t_first = 0.0;        // first scan, seconds since midnight
  double duration = 60.0;      // seconds of scanning
  std::uint64_t seed = 1;
};

// Samples of the motion, `rate` x `oversample` a second, from the trajectory sample 1.5 s
// or more before the first scan to the one 1.5 s or more after the last, as the file's text
// reads them back: every `oversample`-th is a sample of the trajectory's rate.
std::vector<TrajSample> fly(const FlightPlan& plan);

// First-order Gauss-Markov errors of a navigation solution, added to trajectory samples:
// each of north, east, up (metres) and roll, pitch, heading (degrees) an independent process
// x' = -x / tau + white noise, stationary from the first sample with standard deviation
// `position` or `attitude`, sampled exactly at the samples' times (x_k+1 = phi x_k +
// sqrt(1 - phi^2) sigma w_k, phi = exp(-dt / tau)); drawn from `seed`.
struct TrajectoryNoise {
  double position = 0.0;  // metres
  double attitude = 0.0;  // degrees
  double tau = 0.0;       // correlation time, seconds
};

std::vector<TrajSample> with_noise(std::vector<TrajSample> samples, const TrajectoryNoise& noise,
                                   std::uint64_t seed);

}  // namespace bsim
