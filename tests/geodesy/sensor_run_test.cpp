// beamfall --boresight and --range-offset end to end on the geo_calib fixture
// (level flight heading north at 1000 m near 55 N, 9 E, no lever arm, ten
// beams from the text scanner form): each point written is where the turned
// beam of the offset range ends, computed here by multiplying out the three
// rotations, flat-earth by hand and on the ellipsoid with GeographicLib. In
// profile mode the boresight changes nothing and the report says so once;
// zero values change no byte.
#include <gtest/gtest.h>
#include <GeographicLib/Geocentric.hpp>
#include <GeographicLib/LocalCartesian.hpp>

#include <array>
#include <cmath>
#include <sstream>
#include <string>

#include "fixture_run.hpp"

namespace {

using fixture::FixtureRun;
using Vec = std::array<double, 3>;
using Mat = std::array<Vec, 3>;

const double kPi = std::acos(-1.0);

Vec times(const Mat& m, const Vec& v) {
  Vec r{};
  for (int i = 0; i < 3; ++i)
    r[i] = m[i][0] * v[0] + m[i][1] * v[1] + m[i][2] * v[2];
  return r;
}

// Right-handed rotations by a degrees about x, y and z.
Mat rx(double a) {
  const double c = std::cos(a * kPi / 180), s = std::sin(a * kPi / 180);
  return {{{1, 0, 0}, {0, c, -s}, {0, s, c}}};
}
Mat ry(double a) {
  const double c = std::cos(a * kPi / 180), s = std::sin(a * kPi / 180);
  return {{{c, 0, s}, {0, 1, 0}, {-s, 0, c}}};
}
Mat rz(double a) {
  const double c = std::cos(a * kPi / 180), s = std::sin(a * kPi / 180);
  return {{{c, -s, 0}, {s, c, 0}, {0, 0, 1}}};
}

struct ScanLine {
  double range, angle_gon, tsec;  // as in the fixture's scan.txt
};

const ScanLine kScan[] = {{1224.615282, 60, 0.1},   {1045.942892, 80, 0.12},
                          {998.0, 100, 0.14},       {1052.775708, 120, 0.16},
                          {1242.576401, 140, 0.18}, {1224.615282, 60, 0.4},
                          {1045.942892, 80, 0.42},  {998.0, 100, 0.44},
                          {1052.775708, 120, 0.46}, {1242.576401, 140, 0.48}};

struct Point {
  double lat, lon, h;
};

// The beam in north, east, down (the body frame of this flight) with the
// boresight roll 2, pitch -3, heading 5 degrees and 0.25 m added to the range.
Vec turned_beam(const ScanLine& b) {
  const double s = (100 - b.angle_gon) * 0.015707963268;
  const double range = b.range + 0.25;
  const Vec scanner{0, -range * std::sin(s), range * std::cos(s)};
  return times(rz(5), times(ry(-3), times(rx(2), scanner)));
}

Point expected_point(const ScanLine& b, bool rigorous) {
  // The trajectory runs from 55 N at 10 h to 55.001 N at 10.001 h.
  const double lat_a = 55 + b.tsec / 3600;
  const Vec v = turned_beam(b);
  if (!rigorous)
    return {lat_a + v[0] / 111120, 9 + v[1] / (111120 * std::cos(lat_a * kPi / 180)), 1000 - v[2]};
  const GeographicLib::LocalCartesian local(lat_a, 9, 1000, GeographicLib::Geocentric::WGS84());
  Point p{};
  local.Reverse(v[1], v[0], -v[2], p.lat, p.lon, p.h);
  return p;
}

TEST(SensorRun, EachPointIsWhereTheTurnedBeamOfTheOffsetRangeEnds) {
  for (const bool rigorous : {false, true}) {
    SCOPED_TRACE(rigorous ? "rigorous" : "flat-earth");
    const FixtureRun run("geo_calib", std::string(rigorous ? "--rigorous " : "") +
                                          "--boresight 2,-3,+5 --range-offset=0.25");
    ASSERT_EQ(run.status(), 0);
    std::istringstream pts(run.output("pts.txt"));
    std::string line;
    int count = 0;
    for (; std::getline(pts, line); ++count) {
      ASSERT_LT(count, 10);
      const Point want = expected_point(kScan[count], rigorous);
      // Text point fields: lat F10.6, lon F12.6, h F8.2.
      EXPECT_NEAR(std::stod(line.substr(9, 10)), want.lat, 0.5e-6 + 1e-9) << line;
      EXPECT_NEAR(std::stod(line.substr(19, 12)), want.lon, 0.5e-6 + 1e-9) << line;
      EXPECT_NEAR(std::stod(line.substr(31, 8)), want.h, 0.005 + 1e-7) << line;
    }
    EXPECT_EQ(count, 10);
  }
}

TEST(SensorRun, ZeroValuesChangeNoByte) {
  const FixtureRun run("geo_calib", "--boresight 0,0,0 --range-offset 0");
  ASSERT_EQ(run.status(), 0);
  EXPECT_EQ(run.output("stdout.txt"), run.expected("stdout"));
  for (const char* file : {"pts.txt", "cen.txt", "scan.cal"})
    EXPECT_EQ(run.output(file), run.expected(std::string("files/") + file)) << file;
}

TEST(SensorRun, ProfileModeSaysOnceThatTheBoresightChangesNothing) {
  const FixtureRun run("geo_profile", "--boresight 1,2,3 --rigorous");
  ASSERT_EQ(run.status(), 0);
  std::string want = run.expected("stdout");
  const std::string offsets = " offset/misalignment parameters used:";
  const std::size_t line_end = want.find('\n', want.find(offsets));
  ASSERT_NE(line_end, std::string::npos);
  want.insert(line_end + 1,
              " *** profile mode: --rigorous changes nothing\n"
              " *** profile mode: --boresight changes nothing\n");
  EXPECT_EQ(run.output("stdout.txt"), want);
  for (const char* file : {"pts.txt", "cen.txt"})
    EXPECT_EQ(run.output(file), run.expected(std::string("files/") + file)) << file;
}

}  // namespace
