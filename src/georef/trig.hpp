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

  // sin and cos of x (radians). Equal to std::sin/std::cos within an ulp or two.
  void eval(double x, double& s, double& c) {
    const double d = x - base_;
    if (!(std::fabs(d) <= kReach)) {  // also the first call, NaN and infinities
      s = std::sin(x);
      c = std::cos(x);
      base_ = x;
      sb_ = s;
      cb_ = c;
      return;
    }
    const double d2 = d * d;
    // sin d and cos d - 1 by their Taylor series, up to d^9 and d^10.
    const double sin_d =
        d + d * d2 * (-1.0 / 6 + d2 * (1.0 / 120 + d2 * (-1.0 / 5040 + d2 * (1.0 / 362880))));
    const double cos_d_m1 =
        d2 *
        (-0.5 + d2 * (1.0 / 24 + d2 * (-1.0 / 720 + d2 * (1.0 / 40320 + d2 * (-1.0 / 3628800)))));
    s = sb_ + (sb_ * cos_d_m1 + cb_ * sin_d);
    c = cb_ + (cb_ * cos_d_m1 - sb_ * sin_d);
  }

 private:
  double base_ = NAN;
  double sb_ = 0, cb_ = 1;
};

}  // namespace bf
