// Cross profiles: heights against cross-track distance, written to
// "scan.cal", and the least-squares line through them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "textio/outfile.hpp"

namespace bf {

struct CrossSums {
  std::int64_t ncal = 0;
  double sx = 0, sxx = 0, sz = 0, sxz = 0;
};

struct Regression {
  double bias = 0;  // metres
  double roll = 0;  // degrees: minus the slope taken as a small angle
};

// Adds one point: xdist = tan(scanang) * h_a, and writes "xdist h" as 2F10.2.
void add_cross_point(double tan_scanang, double h_a, double h, CrossSums& sums, OutFile& cal);

// The same with xdist (metres) given: tan(scanang) * h_a, or in the rigorous
// mode the point's offset across the heading.
void add_cross_distance(double xdist, double h, CrossSums& sums, OutFile& cal);

// The two halves of add_cross_distance: the sums, in the run's order, and
// the line "xdist h" (2F10.2 and the line end) at `out`; returns its end.
inline void add_cross_sums(double xdist, double h, CrossSums& s) {
  ++s.ncal;
  s.sx += xdist;
  s.sxx += xdist * xdist;
  s.sz += h;
  s.sxz += xdist * h;
}
char* put_cross_line(char* out, double xdist, double h);
constexpr std::size_t kCrossLineBytes = 21;

Regression solve_regression(const CrossSums& sums);

// The regression block at the end of the run summary.
void report_regression(const CrossSums& sums, OutFile& console);

}  // namespace bf
