// The figures' ticks: round steps, as many decimals as the step needs, and no two labels of
// an axis alike (gnuplot's own labels for values all alike read 0.00100, 0.00100, 0.00101).
#include "kit/axis.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

TEST(Axis, RoundStepsOfOneTwoOrFive) {
  struct Case {
    double span;
    int ticks;
    double step;
  } const cases[] = {
      {1.0, 4, 0.5},     {100.0, 4, 50.0}, {0.004, 4, 0.001}, {0.5105, 4, 0.2},
      {550.0, 4, 200.0}, {7.0, 3, 5.0},    {1e-12, 4, 5e-13}, {400.0, 4, 100.0},
  };
  for (const Case& c : cases)
    EXPECT_DOUBLE_EQ(kit::tick_step(c.span, c.ticks), c.step) << c.span;
}

TEST(Axis, DecimalsAndTicksWithin) {
  EXPECT_EQ(kit::tick_decimals(5.0), 0);
  EXPECT_EQ(kit::tick_decimals(100.0), 0);
  EXPECT_EQ(kit::tick_decimals(0.5), 1);
  EXPECT_EQ(kit::tick_decimals(0.002), 3);
  EXPECT_EQ(kit::tick_decimals(0.001), 3);
  const auto ticks = kit::ticks_within(-0.5105, 0.5105, 0.2);
  ASSERT_EQ(ticks.size(), 5u);
  EXPECT_DOUBLE_EQ(ticks.front(), -0.4);
  EXPECT_DOUBLE_EQ(ticks.back(), 0.4);
  EXPECT_EQ(kit::tick_label(ticks[2], 1), "0.0");          // the middle one is 0, never -0
  EXPECT_EQ(kit::ticks_within(0.0, 1.0, 1.0).size(), 2u);  // both edges when on a tick
}

// Values all alike to the three decimals they are written with: distinct labels.
TEST(Axis, NoTwoLabelsAlikeOverAnySpan) {
  for (double span : {0.004, 0.0013, 0.01, 0.37, 1.0, 3.0, 77.0, 550.0, 12345.0}) {
    const double step = kit::tick_step(span, 4);
    std::set<std::string> labels;
    const auto ticks = kit::ticks_within(0.149 - span, 0.149 + span, step);
    for (double t : ticks)
      labels.insert(kit::tick_label(t, kit::tick_decimals(step)));
    EXPECT_EQ(labels.size(), ticks.size()) << span;
    EXPECT_GE(ticks.size(), 4u) << span;
  }
}

}  // namespace
