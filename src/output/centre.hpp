// The scan centre track: the point where each sweep crosses nadir.
#pragma once

#include <cstdint>

#include "output/outpoint.hpp"
#include "textio/outfile.hpp"

namespace bf {

struct CentreState {
  double prevang = 999;  // scan angle of the previous output point
  double tlast = 0;      // thr of the last centre point shown on the console
};

// True where the sweep passes from nadir or the left to the right: the test
// every point makes before centre_test is called for it.
inline bool is_centre_point(const OutPoint& p, const CentreState& st) {
  return st.prevang >= 0 && p.scanang < 0;
}

// Writes a centre point (sweep passing from nadir or the left to the right)
// to the centre file, and to the console during the first scan or when more
// than 29.99988 s have passed since the last one shown.
void centre_test(const OutPoint& p, std::int64_t scanno, std::int64_t nscans, CentreState& st,
                 OutFile& centre, OutFile& console);

}  // namespace bf
