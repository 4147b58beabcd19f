// The record writer: fixed-width fields, the format interpreter and
// free-format lines.
#include "textio/record.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace bf {
namespace {

std::string f(int w, int d, double v) {
  char buf[64];
  return std::string(buf, put_f(buf, w, d, v));
}

struct FCase {
  int w, d;
  double v;
  const char* text;
};

TEST(FieldF, RoundsTheExactBinaryValue) {
  const FCase cases[] = {
      {8, 3, 0.125, "   0.125"},
      {8, 2, 0.125, "    0.13"},  // exact tie: away from zero
      {8, 2, -0.125, "   -0.13"},
      {8, 2, 0.375, "    0.38"},
      {6, 0, 2.5, "    3."},
      {8, 2, 1.005, "    1.00"},    // 1.005 is 1.00499999999999989... in binary
      {8, 3, -0.0004, "   0.000"},  // rounds to zero: no minus sign
      {8, 2, -0.0, "    0.00"},
      {4, 3, 0.5, ".500"},  // no room for the leading 0
      {5, 3, 0.5, "0.500"},
      {5, 3, -0.5, "-.500"},
      {4, 3, -0.5, "****"},
      {6, 2, 999.994, "999.99"},
      {6, 2, 999.995, "******"},  // 999.995 is above the tie in binary
      {9, 4, -9999.0, "*********"},
      {9, 2, 9999.900390625, "  9999.90"},
      {12, 6, 9.999999747378752e-06, "    0.000010"},
      {12, 6, 1e15, "************"},
      {30, 6, 1e20, "  100000000000000000000.000000"},
      {30, 2, 4503599627370497.0, "           4503599627370497.00"},
      {14, 2, 1000000000.125, " 1000000000.13"},  // tie beyond the scaled-integer path
      {9, 6, 10.5, "10.500000"},
  };
  for (const FCase& c : cases) {
    EXPECT_EQ(f(c.w, c.d, c.v), c.text) << "F" << c.w << "." << c.d << " of " << c.v;
  }
}

// The compile-time formats of the per-point lines write what put_f writes.
template <int W, int D>
void expect_fixed_matches(const std::vector<double>& values) {
  for (double v : values) {
    char fixed[64], runtime[64];
    const std::string a(fixed, put_f_fixed<W, D>(fixed, v));
    const std::string b(runtime, put_f(runtime, W, D, v));
    ASSERT_EQ(a, b) << "F" << W << "." << D << " of " << v;
  }
}

TEST(FieldF, FixedFormatsMatchTheGeneralWriter) {
  std::mt19937_64 gen(5);
  std::uniform_real_distribution<double> mag(-12, 12);
  std::vector<double> values = {0.125,
                                -0.125,
                                2.5,
                                -0.0004,
                                0.0,
                                -0.0,
                                1e300,
                                std::numeric_limits<double>::infinity(),
                                std::numeric_limits<double>::quiet_NaN()};
  for (int k = 0; k < 100000; ++k) {
    const double v = std::pow(10.0, mag(gen));
    values.push_back(gen() % 2 ? v : -v);
  }
  expect_fixed_matches<9, 6>(values);
  expect_fixed_matches<10, 6>(values);
  expect_fixed_matches<12, 6>(values);
  expect_fixed_matches<11, 7>(values);
  expect_fixed_matches<8, 2>(values);
  expect_fixed_matches<10, 2>(values);
}

TEST(FieldF, NonFiniteValues) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(f(8, 1, inf), "Infinity");
  EXPECT_EQ(f(7, 1, inf), "    Inf");
  EXPECT_EQ(f(2, 1, inf), "**");
  EXPECT_EQ(f(9, 1, -inf), "-Infinity");
  EXPECT_EQ(f(8, 1, -inf), "    -Inf");
  EXPECT_EQ(f(3, 1, -inf), "***");
  EXPECT_EQ(f(5, 1, nan), "  NaN");
  EXPECT_EQ(f(2, 1, nan), "**");
}

TEST(FormatRecord, EndsAtTheFirstDescriptorWithoutItem) {
  char buf[256];
  std::initializer_list<Item> two = {1.0, 2.0};
  std::size_t n = format_record(buf, sizeof buf, "' a:' F5.1 ' b:' F5.1 ' c:' F5.1 ' end'", two);
  EXPECT_EQ(std::string(buf, n), " a:  1.0 b:  2.0 c:\n");
  n = format_record(buf, sizeof buf, "' bias:' F7.2 ' m, slope (roll0):' F6.2 ' degrees'",
                    {2.0, -0.5729577951});
  EXPECT_EQ(std::string(buf, n), " bias:   2.00 m, slope (roll0): -0.57 degrees\n");
  EXPECT_EQ(n - 1, 45u);
}

TEST(FreeFormat, SpacingRules) {
  char buf[256];
  std::size_t n = free_format(buf, sizeof buf, {"amplitude lower than ", 23, 45, " meas."});
  EXPECT_EQ(std::string(buf, n), " amplitude lower than  23 45  meas.");
  n = free_format(buf, sizeof buf, {"test", -5, 8224});
  EXPECT_EQ(std::string(buf, n), " test -5 8224 ");
  n = free_format(buf, sizeof buf, {"a", "b "});
  EXPECT_EQ(std::string(buf, n), " ab ");
  n = free_format(buf, sizeof buf, {});
  EXPECT_EQ(std::string(buf, n), "");
}

}  // namespace
}  // namespace bf
