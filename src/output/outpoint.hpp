// The point the output stage writes: to the point file, the centre track,
// the cross profiles and the LAS file.
#pragma once

#include <cstdint>

namespace bf {

// A point as it leaves the output stage (group means when averaging).
struct OutPoint {
  double thr = 0;           // decimal hours
  double lat = 0, lon = 0;  // degrees (profile mode: hours)
  double h = 0;             // metres
  double h_a = 0;           // aircraft height, metres, never geoid-corrected
  double scanang = 0;       // radians
  double range = 0;         // metres, of the measurement that produced the point
  std::int32_t ampl = 0;
  std::int32_t i = 0;
  std::int64_t gcount = 1;
};

}  // namespace bf
