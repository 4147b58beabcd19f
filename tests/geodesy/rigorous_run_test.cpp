// beamfall --rigorous end to end, on two of the end-to-end fixtures: in
// profile mode the option changes nothing and says so once; in full mode
// "scan.cal" holds each point's offset across the heading and its height on
// the ellipsoid, both computed here with GeographicLib.
#include <gtest/gtest.h>
#include <GeographicLib/Geocentric.hpp>
#include <GeographicLib/LocalCartesian.hpp>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>

#include "fixture_run.hpp"

namespace {

using fixture::FixtureRun;

TEST(RigorousRun, ProfileModeSaysOnceThatTheOptionChangesNothing) {
  const FixtureRun run("geo_profile", "--rigorous");
  ASSERT_EQ(run.status(), 0);
  std::string want = run.expected("stdout");
  const std::string offsets = " offset/misalignment parameters used:";
  const std::size_t line_end = want.find('\n', want.find(offsets));
  ASSERT_NE(line_end, std::string::npos);
  want.insert(line_end + 1, " *** profile mode: --rigorous changes nothing\n");
  EXPECT_EQ(run.output("stdout.txt"), want);
  for (const char* file : {"pts.txt", "cen.txt"})
    EXPECT_EQ(run.output(file), run.expected(std::string("files/") + file)) << file;
}

struct Beam {
  double angle_gon, range;  // as in the fixture's scan.txt
};

TEST(RigorousRun, CrossProfilesHoldTheOffsetAcrossTheHeading) {
  // The fixture: level flight heading north at 1000 m near 55 N, 9 E, no
  // lever arm, ten beams (two scans of five) on a tilted plane.
  const Beam beams[] = {
      {60, 1224.615282}, {80, 1045.942892}, {100, 998.0}, {120, 1052.775708}, {140, 1242.576401}};
  const FixtureRun run("geo_calib", "--rigorous");
  ASSERT_EQ(run.status(), 0);
  const GeographicLib::LocalCartesian local(55, 9, 1000, GeographicLib::Geocentric::WGS84());
  std::istringstream cal(run.output("scan.cal"));
  std::string line;
  double sx = 0, sxx = 0, sz = 0, sxz = 0;
  int count = 0;
  for (; std::getline(cal, line); ++count) {
    ASSERT_LT(count, 10);
    ASSERT_EQ(line.size(), 20u) << line;
    const Beam& b = beams[count % 5];
    // Heading north, wings level: the beam lies in the east-down plane,
    // positive scan angles to the left (west), where xdist is positive.
    const double s = (100 - b.angle_gon) * 0.015707963268;
    const double east = -b.range * std::sin(s), down = b.range * std::cos(s);
    double lat = 0, lon = 0, h = 0;
    local.Reverse(east, 0, -down, lat, lon, h);
    const double xdist = -east;
    EXPECT_NEAR(std::stod(line.substr(0, 10)), xdist, 0.005 + 1e-9) << line;
    EXPECT_NEAR(std::stod(line.substr(10)), h, 0.005 + 1e-9) << line;
    sx += xdist;
    sxx += xdist * xdist;
    sz += h;
    sxz += xdist * h;
  }
  EXPECT_EQ(count, 10);
  // The regression over those pairs, printed as the report prints it.
  const double det = sxx * count - sx * sx;
  const double bias = (sxx * sz - sx * sxz) / det;
  const double roll = -(count * sxz - sx * sz) / det * 57.29577951289617;
  char want[64];
  std::snprintf(want, sizeof want, " bias:%7.2f m, slope (roll0):%6.2f degrees\n", bias, roll);
  EXPECT_NE(run.output("stdout.txt").find(want), std::string::npos) << want;
}

}  // namespace
