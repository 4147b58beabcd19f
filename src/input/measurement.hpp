// One laser measurement as the scanner readers deliver it, and the time
// window they deliver measurements in.
#pragma once

#include <cstdint>

namespace bf {

// One laser measurement, overwritten by the next.
struct Measurement {
  double thr = 0;                 // decimal hours on the trajectory's time scale
  double tsec = 0;                // timer value, seconds (fraction of the current second)
  double range = 0;               // metres
  double angle = 0;               // gon, 100 = straight down
  std::int32_t angle_count = -1;  // binary form: angle count mod 10000; -1 in the text form
  std::int8_t ampl = 0;
  std::int32_t i = 0;  // index within the scan, 1 = first
  bool newscan = false;
  std::int64_t scanno = 0;
};

// The parts of the run parameters that timing and thinning need.
struct ScanWindow {
  double t0 = 0;      // decimal hours at which the timer counts from zero
  double tstart = 0;  // decimal hours, never before t0
  double tend = 0;
  std::int32_t nthin = 1;
};

}  // namespace bf
