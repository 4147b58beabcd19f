#include "output/calib.hpp"

#include <cstring>

#include "textio/units.hpp"

namespace bf {

void add_cross_point(double tan_scanang, double h_a, double h, CrossSums& s, OutFile& cal) {
  add_cross_distance(tan_scanang * h_a, h, s, cal);
}

char* put_cross_line(char* out, double xdist, double h) {
  std::memset(out, ' ', 20);
  put_f_on_blanks<10, 2>(out, xdist);
  put_f_on_blanks<10, 2>(out + 10, h);
  out[20] = '\n';
  return out + kCrossLineBytes;
}

void add_cross_distance(double xdist, double h, CrossSums& s, OutFile& cal) {
  add_cross_sums(xdist, h, s);
  cal.commit(put_cross_line(cal.reserve(kCrossLineBytes), xdist, h));
}

Regression solve_regression(const CrossSums& s) {
  const double n = static_cast<double>(s.ncal);
  double det = s.sxx * n - s.sx * s.sx;
  if (det == 0) det = 1e-99;
  Regression r;
  r.bias = (s.sxx * s.sz - s.sx * s.sxz) / det;
  const double slope = (n * s.sxz - s.sx * s.sz) / det;
  r.roll = -slope * kRadToDeg;
  return r;
}

void report_regression(const CrossSums& s, OutFile& console) {
  const Regression r = solve_regression(s);
  console.free_line({});
  console.free_line({"Regression of surface relative to ellipsoid/geoid:"});
  console.free_line({"no of points: ", s.ncal});
  console.record("' bias:' F7.2 ' m, slope (roll0):' F6.2 ' degrees'", {r.bias, r.roll});
  console.free_line({"cross profiles written on file \"scan.cal\""});
}

}  // namespace bf
