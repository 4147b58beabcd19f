// Trajectory file: one sample a line, "time lat lon h pitch roll heading" in decimal hours,
// degrees, metres (ellipsoidal), degrees (heading within -180 ... 180).
//
// The simulated aircraft moves linearly between the samples of this file (in latitude,
// longitude, height, pitch, roll and in heading taken the short way round), so the file is
// the exact truth of the flight at every measurement time, as read back from its text.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace bsim {

struct TrajSample {
  double t = 0.0;        // decimal hours
  double lat = 0.0;      // degrees
  double lon = 0.0;      // degrees
  double h = 0.0;        // metres above the ellipsoid
  double pitch = 0.0;    // degrees
  double roll = 0.0;     // degrees
  double heading = 0.0;  // degrees, -180 ... 180
};

// The text line written for a sample (without its line end).
std::string format_sample(const TrajSample& s);
// Reads a sample line; false when it does not hold seven numbers.
bool parse_sample(std::string_view line, TrajSample& s);

std::vector<TrajSample> read_trajectory(const std::string& path);

class TrajectoryInterp {
 public:
  explicit TrajectoryInterp(std::vector<TrajSample> samples);
  // State at t (decimal hours); held at the end samples outside the file.
  TrajSample at(double t) const;
  const std::vector<TrajSample>& samples() const { return s_; }

 private:
  std::vector<TrajSample> s_;
};

}  // namespace bsim
