// The one rounding half away from zero of the outputs' scaled integers.
#include "textio/rounding.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "output/points.hpp"

namespace bf {
namespace {

// Adding the largest double below one half and truncating must give
// std::round's integer (half away from zero) on every tie, on its neighbours
// and on values of every magnitude up to the ends of the 32-bit range; the
// binary point records (scaled_int) round the same way.
TEST(Rounding, HalfAwayFromZeroOnTiesNeighboursAndEveryMagnitude) {
  // The ends: the doubles next to -2^31 - 0.5 and 2^31 - 0.5, inside the range.
  std::vector<double> values = {0.0,
                                -0.0,
                                0.49999999999999994,
                                -0.49999999999999994,
                                1e-300,
                                -1e-300,
                                std::nextafter(2147483647.5, 0),
                                std::nextafter(-2147483648.5, 0)};
  std::mt19937_64 rng(12);
  std::uniform_int_distribution<std::int64_t> whole(-2147483648, 2147483646);
  std::uniform_real_distribution<double> unit(1, 2);
  std::uniform_int_distribution<int> exponent(-40, 30);
  for (int k = 0; k < 200000; ++k) {
    const double tie = static_cast<double>(whole(rng)) + 0.5;
    values.push_back(tie);
    values.push_back(std::nextafter(tie, 1e300));
    values.push_back(std::nextafter(tie, -1e300));
    const double v = std::ldexp(unit(rng), exponent(rng));
    values.push_back(k % 2 ? v : -v);
  }
  for (double v : values) {
    const auto expected = static_cast<std::int32_t>(std::round(v));
    ASSERT_EQ(round_half_away_int32(v), expected) << std::hexfloat << v;
    ASSERT_EQ(scaled_int(v, 1.0), expected) << std::hexfloat << v;
  }
}

}  // namespace
}  // namespace bf
