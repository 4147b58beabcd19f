// LAS file pieces that the end-to-end LAS cases can't reach cheaply: the
// leap-second table at its steps, GPS days, creation days, the choice of
// scale for wide flights, points beyond the chosen range, records across the seams of the output
// buffer, and rolls that went round.
#include "output/las.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "output/points.hpp"

namespace bf {
namespace {

TEST(LasTime, LeapSecondsStepOnTheFirstDayOfTheirMonth) {
  struct Case {
    int y, m, d, leap;
  };
  const Case cases[] = {{1980, 1, 6, 0},  {1981, 6, 30, 0},   {1981, 7, 1, 1},  {1987, 12, 31, 4},
                        {1988, 1, 1, 5},  {2005, 12, 31, 13}, {2006, 1, 1, 14}, {2016, 12, 31, 17},
                        {2017, 1, 1, 18}, {2026, 4, 12, 18}};
  for (const Case& c : cases)
    EXPECT_EQ(gps_minus_utc(c.y, c.m, c.d), c.leap) << c.y << '-' << c.m << '-' << c.d;
}

TEST(LasTime, AdjustedStandardGpsTimeAtDayStart) {
  EXPECT_EQ(adjusted_gps_time_at_day_start(1980, 1, 6, false), -1e9);
  // 2011-09-14 01:46:40 GPS is 1e9 GPS seconds: its day began 6400 s earlier.
  EXPECT_EQ(adjusted_gps_time_at_day_start(2011, 9, 14, false), -6400);
  EXPECT_EQ(adjusted_gps_time_at_day_start(2011, 9, 14, true), -6400 + 15);
  // Across a leap day: 2024-03-01 is two days after 2024-02-28.
  EXPECT_EQ(adjusted_gps_time_at_day_start(2024, 3, 1, false) -
                adjusted_gps_time_at_day_start(2024, 2, 28, false),
            2 * 86400);
}

TEST(LasTime, CreationDayOfYear) {
  struct Case {
    std::int64_t seconds;
    int day, year;
  };
  const Case cases[] = {{0, 1, 1970},           {86399, 1, 1970},
                        {86400, 2, 1970},       {951782400, 60, 2000},  // 2000-02-29
                        {978220800, 366, 2000},                         // 2000-12-31
                        {1776000000, 102, 2026}};
  for (const Case& c : cases) {
    const LasCreationDate d = las_creation_date(c.seconds);
    EXPECT_EQ(d.day_of_year, c.day) << c.seconds;
    EXPECT_EQ(d.year, c.year) << c.seconds;
  }
}

TrajectoryTable track(std::initializer_list<std::pair<double, double>> lat_lon, double h) {
  TrajectoryTable t;
  for (const auto& [lat, lon] : lat_lon) {
    ++t.ngps;
    t.lat[t.ngps] = lat;
    t.lon[t.ngps] = lon;
    t.h[t.ngps] = h;
  }
  return t;
}

TEST(LasScale, FinestScaleWhoseRangeCoversTheFlightAndItsSwath) {
  // 1e-9 degrees reach 2.147 degrees either side of the offset.
  const LasScale short_line = choose_las_scale(track({{55, 9}, {55.5, 9.5}}, 1000));
  EXPECT_EQ(short_line.x_scale, 1e-9);
  EXPECT_EQ(short_line.y_scale, 1e-9);
  EXPECT_EQ(short_line.z_scale, 0.001);
  EXPECT_NEAR(short_line.x_offset, 9.25, 1e-12);
  const LasScale long_line = choose_las_scale(track({{55, 9}, {55, 14}}, 1000));
  EXPECT_EQ(long_line.x_scale, 1e-8);
  const LasScale across_the_map = choose_las_scale(track({{0, -170}, {0, 170}}, 1000));
  EXPECT_EQ(across_the_map.x_scale, 1e-7);
  // Near the pole a swath margin of a few kilometres spans degrees of longitude.
  const LasScale polar = choose_las_scale(track({{88.9, 0}, {88.9, 0.1}}, 3000));
  EXPECT_EQ(polar.x_scale, 1e-8);
}

std::vector<unsigned char> read_all(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(LasWriter, PointBeyondTheRangeIsLeftOutAndCountedBoundsFromTheOthers) {
  const std::string name = std::filesystem::path(::testing::TempDir()) /
                           ("beamfall-las-" + std::to_string(::getpid()) + ".las");
  LasSetup setup;
  setup.scale = LasScale{1e-9, 1e-9, 0.001, 9.0, 55.0, 0};
  setup.wkt = "GEOGCS[]";
  {
    LasWriter las;
    las.create(name);
    las.begin(setup);
    OutPoint p;
    p.lat = 55.5, p.lon = 9.25, p.h = 12.0, p.thr = 10;
    las.add(p, 0, 1);
    p.lon = 11.2;  // 2.2 degrees from the offset: beyond 2.147
    las.add(p, 0, 1);
    p.lon = 8.0, p.h = -3.5;
    las.add(p, 0, 1);
    las.close();
    EXPECT_EQ(las.points_written(), 2u);
    EXPECT_EQ(las.points_left_out(), 1u);
  }
  const std::vector<unsigned char> f = read_all(name);
  std::filesystem::remove(name);
  ASSERT_EQ(f.size(), 375 + 54 + 9 + 54 + 3 * 192 + 2 * 39u);
  auto f64 = [&](std::size_t at) {
    double v;
    std::memcpy(&v, f.data() + at, 8);
    return v;
  };
  std::uint64_t count;
  std::memcpy(&count, f.data() + 247, 8);
  EXPECT_EQ(count, 2u);
  EXPECT_NEAR(f64(179), 9.25, 1e-9);  // max X
  EXPECT_NEAR(f64(187), 8.0, 1e-9);   // min X
  EXPECT_EQ(f64(211), 12.0);          // max Z
  EXPECT_EQ(f64(219), -3.5);          // min Z
}

// Records go out a whole output buffer at a time, and the last record of a
// buffer waits in the next one for the flags that the next point decides:
// across those seams no record may be lost, doubled or left with wrong
// flags, and the bounds must cover every record.
TEST(LasWriter, RecordsFlagsAndBoundsAcrossOutputBufferSeams) {
  const std::string name = std::filesystem::path(::testing::TempDir()) /
                           ("beamfall-las-seams-" + std::to_string(::getpid()) + ".las");
  LasSetup setup;
  setup.scale = LasScale{1e-7, 1e-7, 0.001, 0, 0, 0};
  setup.wkt = "GEOGCS[]";
  constexpr int kScan = 97;        // points a scan: the seams fall anywhere in a scan
  constexpr int kPoints = 100000;  // nearly four buffers of 39-byte records
  {
    LasWriter las;
    las.create(name);
    las.begin(setup);
    for (int k = 0; k < kPoints; ++k) {
      OutPoint p;
      p.lon = -1e-7 * k, p.lat = 1e-7 * k, p.h = 0.001 * (k % 1000);
      const int scan = k / kScan, j = k % kScan;
      p.scanang = (scan % 2 == 0 ? 0.5 : -0.5) * (1 - 0.02 * j);  // even scans: angles fall
      las.add(p, 0, scan + 1);
    }
    las.close();
  }
  const std::vector<unsigned char> f = read_all(name);
  std::filesystem::remove(name);
  const std::size_t first = 375 + 54 + 9 + 54 + 3 * 192;
  ASSERT_EQ(f.size(), first + kPoints * 39u);
  for (int k = 0; k < kPoints; ++k) {
    const unsigned char* r = f.data() + first + 39 * static_cast<std::size_t>(k);
    std::int32_t x;
    std::memcpy(&x, r, 4);
    ASSERT_EQ(x, -k);
    const int scan = k / kScan;
    const bool edge = k % kScan == kScan - 1 || k == kPoints - 1;
    ASSERT_EQ(r[15], (scan % 2 == 0 ? 0x40 : 0) | (edge ? 0x80 : 0)) << "point " << k;
  }
  auto f64 = [&](std::size_t at) {
    double v;
    std::memcpy(&v, f.data() + at, 8);
    return v;
  };
  EXPECT_EQ(f64(179), 0);                    // max X
  EXPECT_NEAR(f64(187), -0.0099999, 1e-12);  // min X
  EXPECT_NEAR(f64(195), 0.0099999, 1e-12);   // max Y
  EXPECT_EQ(f64(203), 0);                    // min Y
  EXPECT_NEAR(f64(211), 0.999, 1e-12);       // max Z
  EXPECT_EQ(f64(219), 0);                    // min Z
}

// The scan angle of a roll that went round is that of the same beam within
// +-180 degrees (units of 0.006 degrees, positive counter-clockwise seen from
// behind: a right wing down by 10 degrees turns a vertical beam to -1667);
// without an attitude (NaN) it is 0.
TEST(LasWriter, ScanAngleOfARollThatWentRound) {
  const std::string name = std::filesystem::path(::testing::TempDir()) /
                           ("beamfall-las-roll-" + std::to_string(::getpid()) + ".las");
  LasSetup setup;
  setup.wkt = "GEOGCS[]";
  struct Case {
    double roll;
    std::int16_t angle;
  };
  const Case cases[] = {{10, -1667},
                        {270, 15000},
                        {-200, -26667},
                        {-180, 30000},
                        {std::numeric_limits<double>::quiet_NaN(), 0}};
  {
    LasWriter las;
    las.create(name);
    las.begin(setup);
    for (const Case& c : cases)
      las.add(OutPoint{}, c.roll, 1);
    las.close();
  }
  const std::vector<unsigned char> f = read_all(name);
  std::filesystem::remove(name);
  const std::size_t first = 375 + 54 + 9 + 54 + 3 * 192;
  ASSERT_EQ(f.size(), first + std::size(cases) * 39);
  for (std::size_t k = 0; k < std::size(cases); ++k) {
    std::int16_t angle;
    std::memcpy(&angle, f.data() + first + 39 * k + 18, 2);
    EXPECT_EQ(angle, cases[k].angle) << "roll " << cases[k].roll;
  }
}

}  // namespace
}  // namespace bf
