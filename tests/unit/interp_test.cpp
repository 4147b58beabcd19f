// Trajectory interpolation: the forward-only interval search, the clamped
// fraction, position, attitude with the misalignment angles, the heading
// rule across +-180 and the ground speed.
#include "georef/interp.hpp"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

namespace bf {
namespace {

struct Sample {
  double time, lat, lon, h, pitch, roll, heading;
  float vel;
};

void fill(TrajectoryTable& t, std::initializer_list<Sample> samples) {
  std::int32_t k = 0;
  for (const Sample& s : samples) {
    ++k;
    t.time[k] = s.time;
    t.lat[k] = s.lat;
    t.lon[k] = s.lon;
    t.h[k] = s.h;
    t.pitch[k] = s.pitch;
    t.roll[k] = s.roll;
    t.heading[k] = s.heading;
    t.vel[k] = s.vel;
  }
  t.ngps = k;
}

struct HeadingCase {
  double a, b, frac, heading0, expected;
};

TEST(Heading, FoldsAcrossPlusMinus180) {
  const HeadingCase cases[] = {
      {179, -179, 0.5, 0, 180},
      {179, -179, 0.75, 0, -179.5},  // 0.25 * 179 + 0.75 * 181 = 180.5, folded
      {-179, 179, 0.5, 0, 180},
      {-179, 179, 0.25, 0, -179.5},  // 0.75 * 181 + 0.25 * 179 = 180.5, folded
      // The product -8100 counts as a crossing: 180 becomes 540 and 247.5 folds.
      {-45, 180, 0.5, 0, -112.5},
      // The ordinary case does no folding, also beyond 180 with heading0.
      {10, 20, 0.5, 175, 190},
      {170, -170, 0.25, 0, 175},
      {179, -179, 0.75, 10, -169.5},  // 190.5 with heading0, folded
      {-10, 10, 0.5, 0, 0},
      {90, -89, 0.0, 0, 90},  // -8010 > -8100: ordinary
  };
  for (const HeadingCase& c : cases) {
    EXPECT_EQ(interpolate_heading(c.a, c.b, c.frac, 1 - c.frac, c.heading0), c.expected)
        << c.a << " " << c.b << " " << c.frac << " " << c.heading0;
  }
}

// Four samples one hour apart; every column rises with the sample number.
void four_samples(TrajectoryTable& t) {
  fill(t, {{1, 10, 100, 1000, 1, -1, 10, 100.5f},
           {2, 20, 200, 2000, 2, -2, 20, 200.5f},
           {3, 30, 300, 3000, 3, -3, 30, 300.5f},
           {4, 40, 400, 4000, 4, -4, 40, 400.5f}});
}

struct SearchCase {
  const char* what;
  std::vector<double> times;  // measurement times in order; the last is checked
  std::int32_t igps;
  double frac, lat;
};

TEST(TrajectoryCursor, SearchesForwardAndClampsTheFraction) {
  const SearchCase cases[] = {
      {"before the first sample", {0.5}, 1, 0, 10},
      {"inside the first interval", {1.25}, 1, 0.25, 12.5},
      {"after the last sample", {5}, 3, 1, 40},
      {"exactly on the last sample", {4}, 3, 1, 40},
      {"on a sample reached from an earlier interval", {1.5, 2}, 1, 1, 20},
      {"on a sample met by a fresh search", {3}, 2, 1, 30},
      {"backwards into an earlier interval", {3.5, 1.5}, 3, 0, 30},
      {"backwards within the interval", {3.5, 3.25}, 3, 0.25, 32.5},
      {"beyond the end, then back", {9, 2.5}, 3, 0, 30},
  };
  for (const SearchCase& c : cases) {
    SCOPED_TRACE(c.what);
    TrajectoryTable t;
    four_samples(t);
    TrajectoryCursor cur(t);
    AircraftState s;
    for (double thr : c.times)
      cur.position(thr, s);
    EXPECT_EQ(cur.igps(), c.igps);
    EXPECT_EQ(cur.frac(), c.frac);
    EXPECT_EQ(s.lat_a, c.lat);
    EXPECT_EQ(s.lon_a, c.lat * 10);
    EXPECT_EQ(s.h_a, c.lat * 100);
  }
}

TEST(TrajectoryCursor, AttitudeAddsTheMisalignmentAngles) {
  TrajectoryTable t;
  four_samples(t);
  TrajectoryCursor cur(t);
  AircraftState s;
  cur.position(2.25, s);
  cur.attitude(Misalignment{0.5, -0.25, 1}, s);
  EXPECT_EQ(s.pitch, (0.75 * 2 + 0.25 * 3) + 0.5);
  EXPECT_EQ(s.roll, (0.75 * -2 + 0.25 * -3) - 0.25);
  EXPECT_EQ(s.heading, 0.75 * 20 + 0.25 * 30 + 1);
  cur.speed(s);
  EXPECT_EQ(s.vel, 200.5 * 0.75 + 300.5 * 0.25);
}

TEST(TrajectoryCursor, SingleSampleGivesItsValuesEverywhere) {
  TrajectoryTable t;
  fill(t, {{5, 55, 9, 300, 1.5, -2.5, 170, 250}});
  TrajectoryCursor cur(t);
  for (double thr : {4.0, 5.0, 6.0, 4.5}) {
    SCOPED_TRACE(thr);
    AircraftState s;
    cur.position(thr, s);
    cur.attitude(Misalignment{1, 1, 20}, s);
    cur.speed(s);
    EXPECT_EQ(s.lat_a, 55);
    EXPECT_EQ(s.lon_a, 9);
    EXPECT_EQ(s.h_a, 300);
    EXPECT_EQ(s.pitch, 2.5);
    EXPECT_EQ(s.roll, -1.5);
    EXPECT_EQ(s.heading, 190);  // an ordinary heading is not folded
    EXPECT_EQ(s.vel, 250);
  }
}

TEST(TrajectoryCursor, EmptyIntervalMetAtItsTimeGivesTheLaterSample) {
  struct Case {
    double thr;
    double frac, lat;
  };
  // Samples 1 and 2 share their time: the first interval has zero length.
  const Case cases[] = {
      {1.0, 1, 20},  // 0 / 0: the later sample
      {0.5, 0, 10},  // -infinity, clamped to 0
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.thr);
    TrajectoryTable t;
    fill(t, {{1, 10, 0, 0, 0, 0, 0, 0}, {1, 20, 0, 0, 0, 0, 0, 0}, {2, 30, 0, 0, 0, 0, 0, 0}});
    TrajectoryCursor cur(t);
    AircraftState s;
    cur.position(c.thr, s);
    EXPECT_EQ(cur.igps(), 1);
    EXPECT_EQ(cur.frac(), c.frac);
    EXPECT_EQ(s.lat_a, c.lat);
  }
}

TEST(TrajectoryCursor, HeadingCrossingBetweenSamples) {
  TrajectoryTable t;
  fill(t, {{0, 0, 0, 0, 0, 0, 179, 0}, {1, 0, 0, 0, 0, 0, -179, 0}});
  TrajectoryCursor cur(t);
  AircraftState s;
  cur.position(0.75, s);
  cur.attitude(Misalignment{}, s);
  EXPECT_EQ(s.heading, -179.5);
}

}  // namespace
}  // namespace bf
