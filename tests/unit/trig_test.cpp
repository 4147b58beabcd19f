// Sines and cosines by angle addition must agree with the library's within
// an ulp or two, whatever path the angles take.
#include "georef/trig.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace bf {
namespace {

// Error in units of 2^-52: what a sine or cosine contributes to a
// geolocation is its absolute error times a range.
double err(double got, double want) {
  return std::fabs(got - want) / std::numeric_limits<double>::epsilon();
}

// Error in ulps of the value itself.
double ulps(double got, double want) {
  return std::fabs(got - want) / (std::fabs(want) * std::numeric_limits<double>::epsilon());
}

TEST(NearSinCos, AgreesWithTheLibraryAlongRandomWalks) {
  std::mt19937_64 gen(7);
  // Steps from tiny to larger than the series' reach, so both paths run.
  for (double step : {1e-9, 1e-5, 1e-3, 0.03, 0.2}) {
    std::normal_distribution<double> walk(0.0, step);
    NearSinCos sc;
    double x = 0.3;
    double worst = 0, worst_small = 0;
    for (int k = 0; k < 200000; ++k) {
      x += walk(gen);
      if (std::fabs(x) > 4) x = 0.3;  // stay within the angles of an attitude
      double s = 0, c = 0;
      sc.eval(x, s, c);
      worst = std::max({worst, err(s, std::sin(x)), err(c, std::cos(x))});
      if (std::fabs(x) <= NearSinCos::kReach && x != 0) {
        worst_small = std::max({worst_small, ulps(s, std::sin(x)), ulps(c, std::cos(x))});
      }
    }
    EXPECT_LE(worst, 1.0) << "step " << step;
    EXPECT_LE(worst_small, 2.0) << "step " << step;
  }
}

TEST(NearSinCos, FirstCallJumpsAndNonFiniteAnglesUseTheLibrary) {
  NearSinCos sc;
  double s = 0, c = 0;
  sc.eval(1.25, s, c);
  EXPECT_EQ(s, std::sin(1.25));
  EXPECT_EQ(c, std::cos(1.25));
  sc.eval(-2.0, s, c);  // far from the last angle
  EXPECT_EQ(s, std::sin(-2.0));
  EXPECT_EQ(c, std::cos(-2.0));
  sc.eval(std::numeric_limits<double>::quiet_NaN(), s, c);
  EXPECT_TRUE(std::isnan(s) && std::isnan(c));
  sc.eval(std::numeric_limits<double>::infinity(), s, c);
  EXPECT_TRUE(std::isnan(s) && std::isnan(c));
  sc.eval(0.5, s, c);  // back to finite angles after a NaN
  EXPECT_EQ(s, std::sin(0.5));
}

}  // namespace
}  // namespace bf
