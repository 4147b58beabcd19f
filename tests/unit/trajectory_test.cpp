// The trajectory reader: the loading window, the layouts, the capacity, the
// speed column and its statistics, and the report.
#include "input/trajectory.hpp"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "captured_output.hpp"
#include "textio/error.hpp"
#include "textio/freeread.hpp"
#include "textio/infile.hpp"

namespace bf {
namespace {

constexpr double kSecond = 0.0002777777777777778;  // one second in hours

// Shortest text that reads back as exactly v.
std::string exact(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::int32_t load(const std::string& text, double tstart, double tend, bool gpsatt,
                  TrajectoryTable& t) {
  TextInput in(text);
  FreeReader reader(in);
  load_trajectory(reader, "traj.txt", tstart, tend, gpsatt, t);
  return t.ngps;
}

using test::stop_message;

TEST(TrajectoryLoad, AcceptsBothWindowEdgesAndEndsAtTheFirstTimeAbove) {
  const double tmin = 10.0 - kSecond, tmax = 11.0 + kSecond;
  // The last line would be an input error if it were read: the sample above
  // tmax ends the loading before it.
  const std::string text = exact(std::nextafter(tmin, 0.0)) + " 1 1 1\n" + exact(tmin) +
                           " 2 2 2\n10.5 3 3 3\n" + exact(tmax) + " 4 4 4\n" +
                           exact(std::nextafter(tmax, 99.0)) + " 5 5 5\n10.6 6 6 6\nnot a number\n";
  TrajectoryTable t;
  ASSERT_EQ(load(text, 10.0, 11.0, false, t), 3);
  EXPECT_EQ(t.time[1], tmin);
  EXPECT_EQ(t.lat[1], 2);
  EXPECT_EQ(t.time[2], 10.5);
  EXPECT_EQ(t.time[3], tmax);
  EXPECT_EQ(t.lat[3], 4);
  // The entry after the last accepted one holds the sample that ended the reading.
  EXPECT_EQ(t.lat[4], 5);
}

TEST(TrajectoryLoad, SkipsEarlySamplesWhereverTheyStand) {
  TrajectoryTable t;
  ASSERT_EQ(load("9.0 1 1 1\n10.2 2 2 2\n9.5 3 3 3\n10.3 4 4 4\n", 10.0, 11.0, false, t), 2);
  EXPECT_EQ(t.lat[1], 2);
  EXPECT_EQ(t.lat[2], 4);
}

struct LayoutCase {
  const char* what;
  const char* text;
  bool gpsatt;
  std::int32_t ngps;
  double lat2;  // latitude of the second sample (0 when there is none)
  double pitch1, roll1, heading1;
};

TEST(TrajectoryLoad, ReadsFourOrSevenValuesASample) {
  const LayoutCase cases[] = {
      {"attitude read", "10.1 55 9 100 1 2 3\n10.2 56 10 200 4 5 6\n", true, 2, 56, 1, 2, 3},
      {"extra values ignored", "10.1 55 9 100 1 2 3\n10.2 56 10 200 4 5 6\n", false, 2, 56, 0, 0,
       0},
      {"short line goes on", "10.1 55\n9 100\n10.2 56 10 200\n", false, 2, 56, 0, 0, 0},
      {"attitude on the next line", "10.1 55 9 100\n-1.5 2.5 -179\n", true, 1, 0, -1.5, 2.5, -179},
      {"commas", "10.1,55,9,100,7,8,9\n", true, 1, 0, 7, 8, 9},
      {"ends inside the second sample", "10.1 55 9 100\n10.2 56 10", false, 1, 0, 0, 0, 0},
      {"ends inside the attitude", "10.1 55 9 100 1 2 3\n10.2 56 10 200 4\n", true, 1, 0, 1, 2, 3},
      {"empty file", "", true, 0, 0, 0, 0, 0},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.what);
    TrajectoryTable t;
    ASSERT_EQ(load(c.text, 10.0, 11.0, c.gpsatt, t), c.ngps);
    if (c.ngps == 0) continue;
    EXPECT_EQ(t.time[1], 10.1);
    EXPECT_EQ(t.lat[1], 55);
    EXPECT_EQ(t.lon[1], 9);
    EXPECT_EQ(t.h[1], 100);
    EXPECT_EQ(t.pitch[1], c.pitch1);
    EXPECT_EQ(t.roll[1], c.roll1);
    EXPECT_EQ(t.heading[1], c.heading1);
    if (c.ngps > 1) {
      EXPECT_EQ(t.lat[2], c.lat2);
    }
  }
}

TEST(TrajectoryLoad, UnreadableValueIsAnInputError) {
  for (const char* text : {"10.1 55 9 100\n10.2 abc 10 200\n", "time lat lon h\n10.1 55 9 100\n"}) {
    SCOPED_TRACE(text);
    TrajectoryTable t;
    const std::string msg = stop_message([&] { load(text, 10.0, 11.0, false, t); });
    EXPECT_NE(msg.find("input error"), std::string::npos) << msg;
    EXPECT_NE(msg.find("traj.txt"), std::string::npos) << msg;
  }
}

// A latitude beyond 90 degrees either way is no place on Earth: an input error
// naming the latitude's line, wherever the sample lies (the fault: latitude 95
// was interpolated and written as points). The poles themselves are places.
TEST(TrajectoryLoad, LatitudeBeyondAPoleIsAnInputError) {
  TrajectoryTable t;
  EXPECT_EQ(load("10.1 90 9 100\n10.2 -90 10 200\n", 10.0, 11.0, false, t), 2);
  EXPECT_EQ(t.nread, 2);
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"10.1 55 9 100 0 0 0\n10.2 90.000001 10 200 0 0 0\n",
       "*** input error: traj.txt, line 2: latitude 90.000001 lies beyond -90 .. 90 degrees"},
      {"10.1\n-95 9 100 1 2 3\n",
       "*** input error: traj.txt, line 2: latitude -95 lies beyond -90 .. 90 degrees"},
      {"1.0 123 9 100 1 2 3\n10.1 55 9 100 1 2 3\n",
       "*** input error: traj.txt, line 1: latitude 123 lies beyond -90 .. 90 degrees"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(stop_message([&] { load(c.text, 10.0, 11.0, true, t); }), c.message);
  }
}

TEST(TrajectoryLoad, CountsTheSamplesReadInTheWindowOrNot) {
  TrajectoryTable t;
  EXPECT_EQ(load("", 10.0, 11.0, false, t), 0);
  EXPECT_EQ(t.nread, 0);
  EXPECT_EQ(load("9 1 1 1\n9.5 2 2 2\n12 3 3 3\n10.5 4 4 4\n", 10.0, 11.0, false, t), 0);
  EXPECT_EQ(t.nread, 3) << "the sample that ends the loading is read";
}

// n samples at times 1, 2, ... (hours), after `early` samples before the
// window, then one sample beyond the window.
std::string many_samples(int early, int n) {
  std::string text;
  text.reserve(static_cast<std::size_t>(early + n + 1) * 16);
  for (int k = 0; k < early; ++k)
    text += "-5 0 0 0\n";
  for (int k = 1; k <= n; ++k) {
    text += std::to_string(k);
    text += " 0 0 0\n";
  }
  text += "99999999 0 0 0\n";
  return text;
}

TEST(TrajectoryLoad, CapacityStopsAtThe488009thAcceptedSample) {
  {
    TrajectoryTable t;
    EXPECT_EQ(load(many_samples(0, 488008), 0, 1e7, false, t), 488008);
  }
  {
    // Early samples do not count against the capacity.
    TrajectoryTable t;
    EXPECT_EQ(load(many_samples(5, 488008), 0, 1e7, false, t), 488008);
  }
  {
    // The stop comes as the sample is stored, although the next line would
    // have ended the loading.
    TrajectoryTable t;
    EXPECT_EQ(stop_message([&] { load(many_samples(0, 488009), 0, 1e7, false, t); }),
              "too many gps points - increase nmax");
  }
}

// Loads the text over a wide window and computes the speeds.
TrajectoryStats speeds_of(const std::string& text, TrajectoryTable& t) {
  load(text, 0, 100, false, t);
  return compute_speeds(t);
}

std::string report(std::int32_t ngps, const TrajectoryStats& s) {
  test::CapturedOutput out;
  report_trajectory(out.file, ngps, s);
  return out.text();
}

const std::string kOneSecondLater = exact(10.0 + kSecond);

TEST(TrajectorySpeed, OneSecondAndAThousandthOfADegreeGive400KmH) {
  struct Case {
    const char* what;
    std::string text;
  };
  const Case cases[] = {
      {"northwards", "10 55 9 0\n" + kOneSecondLater + " 55.001 9 0\n"},
      // 0.002 degrees of longitude at latitude 60 are 0.001 degrees of arc.
      {"eastwards at 60 N", "10 60 9 0\n" + kOneSecondLater + " 60 9.002 0\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TrajectoryTable t;
    const TrajectoryStats s = speeds_of(c.text, t);
    // 111.194 m in one second: 111.194 * 3.6 = 400.2984 km/h.
    EXPECT_NEAR(t.vel[2], 400.2984, 1e-3);
    EXPECT_EQ(t.vel[1], t.vel[2]);
    EXPECT_NEAR(s.min_spacing, 1.0, 1e-9);
    EXPECT_EQ(s.min_spacing, s.max_spacing);
    EXPECT_EQ(report(t.ngps, s),
              "\n GPS read:     2 gps/attitude data, min max spacing (sec):"
              "     1.00     1.00\n"
              " minimum and maximum velocity (km/h):    400.3   400.3\n");
  }
}

TEST(TrajectorySpeed, ZeroTimeStepGivesInfinityAsLargestSpeed) {
  TrajectoryTable t;
  const TrajectoryStats s =
      speeds_of("10 55 9 0\n10 55.001 9 0\n" + kOneSecondLater + " 55.002 9 0\n", t);
  EXPECT_EQ(t.vel[2], std::numeric_limits<float>::infinity());
  EXPECT_EQ(s.min_spacing, 0);
  EXPECT_EQ(s.max_speed, std::numeric_limits<float>::infinity());
  EXPECT_NEAR(s.min_speed, 400.2984, 1e-3);
  EXPECT_EQ(report(t.ngps, s),
            "\n GPS read:     3 gps/attitude data, min max spacing (sec):"
            "     0.00     1.00\n"
            " minimum and maximum velocity (km/h):    400.3Infinity\n");
}

TEST(TrajectorySpeed, UndefinedSpeedIsNeitherSmallestNorLargest) {
  TrajectoryTable t;
  const TrajectoryStats s =
      speeds_of("10 55 9 0\n10 55 9 0\n" + kOneSecondLater + " 55.001 9 0\n", t);
  EXPECT_TRUE(std::isnan(t.vel[2]));
  EXPECT_TRUE(std::isnan(t.vel[1]));  // vel(1) takes vel(2) whatever it is
  EXPECT_NEAR(s.min_speed, 400.2984, 1e-3);
  EXPECT_EQ(s.min_speed, s.max_speed);
  EXPECT_EQ(s.min_spacing, 0);
}

TEST(TrajectoryReport, NoIntervalKeepsTheStartValues) {
  const char* lines =
      " gps/attitude data, min max spacing (sec):  9999.90     0.00\n"
      " minimum and maximum velocity (km/h):   9999.9 -9999.9\n";
  for (const char* text : {"", "10 55 9 0\n"}) {
    SCOPED_TRACE(text);
    TrajectoryTable t;
    const TrajectoryStats s = speeds_of(text, t);
    EXPECT_EQ(t.vel[1], 0);
    EXPECT_EQ(t.vel[2], 0);
    const std::string count = t.ngps == 0 ? "     0" : "     1";
    EXPECT_EQ(report(t.ngps, s), "\n GPS read:" + count + lines);
  }
}

}  // namespace
}  // namespace bf
