// Sines and cosines of angles that change little from one measurement to the
// next (attitude, latitude): angle addition from the last angle evaluated in
// full, with short series for the small difference.
#pragma once

#include <cmath>

namespace bf {

class NearSinCos {
 public:
  // Differences up to this many radians go through the series; the terms
  // kept make their truncation error below 1e-17 relative.
  static constexpr double kReach = 0.1;

  // sin and cos of x (radians): within about 1e-16 of std::sin and std::cos
  // (an ulp or two for angles up to kReach, which take the series directly).
  // Always inlined: four calls a measurement, and the call would cost a tenth
  // of the loop where the compiler's budget for the translation unit runs out.
  [[gnu::always_inline]] void eval(double x, double& s, double& c) {
    if (std::fabs(x) <= kReach) {
      s = x + x * sin_series(x * x);
      c = 1 + cos_series_m1(x * x);
      return;
    }
    const double d = x - base_;
    if (!(std::fabs(d) <= kReach)) {  // also the first call, NaN and infinities
      s = std::sin(x);
      c = std::cos(x);
      base_ = x;
      sb_ = s;
      cb_ = c;
      return;
    }
    const double sin_d = d + d * sin_series(d * d);
    const double cos_d_m1 = cos_series_m1(d * d);
    s = sb_ + (sb_ * cos_d_m1 + cb_ * sin_d);
    c = cb_ + (cb_ * cos_d_m1 - sb_ * sin_d);
  }

  // Moves the base angle as eval(x) would, without the series: a copy that
  // has followed the same angles then gives eval's very bits.
  [[gnu::always_inline]] void follow(double x) {
    if (std::fabs(x) <= kReach || std::fabs(x - base_) <= kReach) return;
    base_ = x;
    sb_ = std::sin(x);
    cb_ = std::cos(x);
  }

 private:
  // (sin d - d) / d and cos d - 1 from d^2, by their Taylor series up to
  // d^9 and d^10.
  static double sin_series(double d2) {
    return d2 * (-1.0 / 6 + d2 * (1.0 / 120 + d2 * (-1.0 / 5040 + d2 * (1.0 / 362880))));
  }
  static double cos_series_m1(double d2) {
    return d2 * (-0.5 +
                 d2 * (1.0 / 24 + d2 * (-1.0 / 720 + d2 * (1.0 / 40320 + d2 * (-1.0 / 3628800)))));
  }

  double base_ = NAN;
  double sb_ = 0, cb_ = 1;
};

}  // namespace bf
