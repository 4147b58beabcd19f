// The gate and the point pipeline after it: rejection tests and their
// counters, the area test, the statistics, averaging groups, and the binary
// and text point records.
#include "output/points.hpp"
#include "pipeline/pipeline.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "captured_output.hpp"

namespace bf {
namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

TEST(ScaledInt, RoundsHalfAwayFromZeroAndMarksWhatDoesNotFit) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double v, scale;
    std::int32_t expected;
  };
  const Case cases[] = {
      {12.3455, 1000, 12346},  // 12345.5 after scaling
      {-12.3455, 1000, -12346},
      {-0.00000005, 1e7, -1},  // -0.5 after scaling
      {0.00000005, 1e7, 1},
      {2.5, 1, 3},
      {-2.5, 1, -3},
      {2.4999999999999996, 1, 2},
      {-0.49999999999999994, 1, 0},
      {0.0, 1e7, 0},
      {10.5, 1e7, 105000000},
      {2147483647.0, 1, kMax},
      {2147483647.4, 1, kMax},
      {-2147483648.4, 1, kMin},  // rounds to the smallest 32-bit value itself
      {-2147483647.0, 1, -2147483647},
      // Outside the 32-bit range, NaN and infinities: the smallest value.
      {2147483647.5, 1, kMin},
      {-2147483648.5, 1, kMin},
      {214.75, 1e7, kMin},  // a time beyond 214 hours
      {1e300, 1000, kMin},
      {nan, 1e7, kMin},
      {inf, 1000, kMin},
      {-inf, 1000, kMin},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(scaled_int(c.v, c.scale), c.expected) << c.v << " x " << c.scale;
  }
}

TEST(PointRecord, EighteenLittleEndianBytes) {
  OutPoint p;
  p.thr = 10.5;
  p.lat = 55.123456;
  p.lon = -9.5;
  p.h = 42.1;
  p.ampl = -56;
  p.i = 300;  // only the low 8 bits are kept
  unsigned char rec[18];
  encode_point_record(p, rec);
  // 105000000, 551234560, -95000000, 42100 as little-endian 32-bit integers,
  // then -56 and 300 mod 256 = 44.
  const unsigned char expected[18] = {0x40, 0x2C, 0x42, 0x06, 0x00, 0x2C, 0xDB, 0x20, 0x40,
                                      0x6A, 0x56, 0xFA, 0x74, 0xA4, 0x00, 0x00, 0xC8, 0x2C};
  for (int k = 0; k < 18; ++k)
    EXPECT_EQ(rec[k], expected[k]) << "byte " << k;
}

std::string point_line(const OutPoint& p, bool with_gcount) {
  char buf[128];
  return std::string(buf, format_point_line(buf, p, with_gcount));
}

TEST(PointLine, WorkedExampleIs47Characters) {
  OutPoint p;
  p.thr = 10.5;
  p.lat = 55.123456;
  p.lon = 9.5;
  p.h = 42.1;
  p.ampl = 17;
  p.i = 8;
  p.gcount = 3;
  const std::string line = point_line(p, false);
  EXPECT_EQ(line, "10.500000 55.123456    9.500000   42.10  17   8\n");
  EXPECT_EQ(line.size(), 48u);
  // Columns (1-based): 10.500000 in 1-9, 55.123456 in 11-19, 9.500000 in
  // 24-31, 42.10 in 35-39, 17 in 42-43, 8 in 47.
  EXPECT_EQ(line.substr(0, 9), "10.500000");
  EXPECT_EQ(line.substr(10, 9), "55.123456");
  EXPECT_EQ(line.substr(23, 8), "9.500000");
  EXPECT_EQ(line.substr(34, 5), "42.10");
  EXPECT_EQ(line.substr(41, 2), "17");
  EXPECT_EQ(line.substr(46, 1), "8");
  EXPECT_EQ(point_line(p, true), "10.500000 55.123456    9.500000   42.10  17   8  3\n");
}

TEST(PointLine, TooWideAndNonFiniteValues) {
  OutPoint p;
  p.thr = 1000;  // needs 11 columns in F9.6
  p.lat = std::numeric_limits<double>::infinity();
  p.lon = -std::numeric_limits<double>::infinity();
  p.h = std::numeric_limits<double>::quiet_NaN();
  p.ampl = -99;
  p.i = 10000;
  EXPECT_EQ(point_line(p, false), "*********  Infinity   -Infinity     NaN -99****\n");
}

// A trajectory at rest over 9 .. 11 h: 55 N, 9 E, 1000 m.
void resting_trajectory(TrajectoryTable& t) {
  t.ngps = 2;
  for (int k = 1; k <= 2; ++k) {
    t.time[k] = 7 + 2 * k;
    t.lat[k] = 55;
    t.lon[k] = 9;
    t.h[k] = 1000;
    t.pitch[k] = t.roll[k] = t.heading[k] = 0;
    t.vel[k] = 200;
  }
}

// The deck's limits for the gate and the settings of the pipeline.
struct TestConfig : PipelineConfig, GateLimits {};

TestConfig open_config() {
  TestConfig c;
  c.latmin = 50;
  c.latmax = 60;
  c.lonmin = 0;
  c.lonmax = 20;
  c.naver = 1;
  c.wrtpts = true;
  c.useatt = true;
  c.amin = -128;
  c.ilo = 1;
  c.ihi = 1000;
  c.rmin = 0;
  return c;
}

// A gate and a pipeline writing into captured files.
struct Rig {
  explicit Rig(const TestConfig& c) : cfg(c) {
    resting_trajectory(traj);
    gate = std::make_unique<MeasurementGate>(cfg, traj);
    pipe = std::make_unique<PointPipeline>(
        cfg, traj, nullptr, nullptr,
        PointPipeline::Outputs{&points.file, &centre.file, &cal.file, &console.file});
  }
  // One measurement delivered by the scan reader, as the run's loop takes it.
  void process(Measurement& m, std::int64_t nscans) {
    AircraftState s;
    if (gate->accept(m, s)) pipe->process(m, s, gate->place(), nscans);
  }
  RunStats stats() const {
    RunStats s = gate->stats();
    s.npout = pipe->points_out();
    return s;
  }
  TestConfig cfg;
  TrajectoryTable traj;
  test::CapturedOutput points, centre, cal, console;
  std::unique_ptr<MeasurementGate> gate;
  std::unique_ptr<PointPipeline> pipe;
};

// A text-form measurement at nadir.
Measurement meas(std::int32_t i, double range, int ampl, double thr = 10, bool newscan = false) {
  Measurement m;
  m.i = i;
  m.range = range;
  m.ampl = static_cast<std::int8_t>(ampl);
  m.angle = 100;
  m.angle_count = -1;
  m.thr = thr;
  m.newscan = newscan;
  m.scanno = 1;
  return m;
}

TEST(PointPipeline, RejectionOrderAndBoundaries) {
  struct Case {
    const char* what;
    int ampl;
    std::int32_t i;
    double range;
    std::int64_t nrejampl, nrejscan, nrejrange, npout;
  };
  // amin 10, indices 2 .. 5, rmin 50.
  const Case cases[] = {
      {"accepted", 10, 3, 100, 0, 0, 0, 1},
      {"amplitude below amin", 9, 3, 100, 1, 0, 0, 0},
      {"amplitude and range fail: amplitude only", 9, 3, 40, 1, 0, 0, 0},
      {"all three fail: amplitude only", 9, 1, 40, 1, 0, 0, 0},
      {"index and range fail: index only", 10, 1, 40, 0, 1, 0, 0},
      {"ilo accepted", 10, 2, 100, 0, 0, 0, 1},
      {"ihi accepted", 10, 5, 100, 0, 0, 0, 1},
      {"above ihi", 10, 6, 100, 0, 1, 0, 0},
      {"range equal to rmin", 10, 3, 50, 0, 0, 1, 0},
      {"range just above rmin", 10, 3, std::nextafter(50.0, 51.0), 0, 0, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestConfig cfg = open_config();
    cfg.amin = 10;
    cfg.ilo = 2;
    cfg.ihi = 5;
    cfg.rmin = 50;
    Rig rig(cfg);
    Measurement m = meas(c.i, c.range, c.ampl);
    rig.process(m, 1);
    const RunStats s = rig.stats();
    EXPECT_EQ(s.nrejampl, c.nrejampl);
    EXPECT_EQ(s.nrejscan, c.nrejscan);
    EXPECT_EQ(s.nrejrange, c.nrejrange);
    EXPECT_EQ(s.npout, c.npout);
    EXPECT_EQ(rig.points.text().size(), c.npout * 48u);
  }
}

TEST(PointPipeline, AmplitudeByte200IsMinus56AndBelowAminZero) {
  TestConfig cfg = open_config();
  cfg.amin = 0;
  Rig rig(cfg);
  Measurement m = meas(1, 100, 0);
  m.ampl = static_cast<std::int8_t>(std::uint8_t{200});
  rig.process(m, 1);
  EXPECT_EQ(rig.stats().nrejampl, 1);
  EXPECT_EQ(rig.stats().npout, 0);
}

TEST(PointPipeline, AreaTestDropsWithoutCounting) {
  struct Case {
    const char* what;
    double latmin, latmax, lonmin, lonmax;
    std::int64_t npout;
  };
  // The aircraft is at 55 N, 9 E.
  const Case cases[] = {
      {"on every edge", 55, 55, 9, 9, 1},         {"south of latmin", 55.0001, 56, 0, 20, 0},
      {"north of latmax", 50, 54.9999, 0, 20, 0}, {"west of lonmin", 50, 60, 9.0001, 20, 0},
      {"east of lonmax", 50, 60, 0, 8.9999, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestConfig cfg = open_config();
    cfg.latmin = c.latmin;
    cfg.latmax = c.latmax;
    cfg.lonmin = c.lonmin;
    cfg.lonmax = c.lonmax;
    Rig rig(cfg);
    Measurement m = meas(1, 100, 5, 10, true);
    rig.process(m, 1);
    const RunStats s = rig.stats();
    EXPECT_EQ(s.npout, c.npout);
    EXPECT_EQ(s.nrejampl + s.nrejscan + s.nrejrange, 0);
    EXPECT_EQ(s.range_min, c.npout ? 100 : 9999);
    EXPECT_EQ(s.lat_a_max, c.npout ? 55 : -9999);
    EXPECT_EQ(rig.points.text().size(), c.npout * 48u);
  }
}

TEST(PointPipeline, NoTrajectoryDropsLikeTheAreaTest) {
  Rig rig(open_config());
  rig.traj.ngps = 0;
  Measurement m = meas(1, 100, 5, 10, true);
  rig.process(m, 1);
  EXPECT_EQ(rig.stats().npout, 0);
  EXPECT_EQ(rig.stats().h_a_min, 9999);
  EXPECT_EQ(rig.points.text(), "");
}

TEST(PointPipeline, StatisticsOverAcceptedMeasurements) {
  Rig rig(open_config());
  // The aircraft climbs from 1000 m at 9 h to 1200 m at 11 h, moving 1 degree
  // north and east.
  rig.traj.lat[2] = 56;
  rig.traj.lon[2] = 10;
  rig.traj.h[2] = 1200;
  const double thr[] = {9.5, 10.5, 10};
  const double range[] = {300, 200, 400};
  for (int k = 0; k < 3; ++k) {
    Measurement m = meas(1, range[k], 5, thr[k]);
    rig.process(m, 1);
  }
  Measurement rejected = meas(2000, 1, 5, 10.9);  // above ihi: no statistics
  rig.process(rejected, 1);
  const RunStats s = rig.stats();
  EXPECT_EQ(s.nrejscan, 1);
  EXPECT_EQ(s.range_min, 200);
  EXPECT_EQ(s.range_max, 400);
  EXPECT_EQ(s.h_a_min, 1050);
  EXPECT_EQ(s.h_a_max, 1150);
  EXPECT_EQ(s.lat_a_min, 55.25);
  EXPECT_EQ(s.lat_a_max, 55.75);
  EXPECT_EQ(s.lon_a_min, 9.25);
  EXPECT_EQ(s.lon_a_max, 9.75);
}

TestConfig averaging_config() {
  TestConfig c = open_config();
  c.naver = 3;
  c.amin = 0;
  return c;
}

TEST(PointPipeline, AveragingGroupsOfThreeOverIndicesOneToSeven) {
  Rig rig(averaging_config());
  // Index i: time 10 + i/100000 h, range 100 + i (height 900 - i below the
  // aircraft at 1000 m), amplitudes chosen per group.
  const int ampl[] = {0, 10, 11, 13, 20, 21, 23, 30};
  for (std::int32_t i = 1; i <= 7; ++i) {
    Measurement m = meas(i, 100 + i, ampl[i], 10 + i / 100000.0, i == 1);
    rig.process(m, 1);
  }
  // The next scan discards the group that holds index 7.
  Measurement next = meas(1, 100, 40, 10.0001, true);
  rig.process(next, 2);
  EXPECT_EQ(rig.stats().npout, 2);
  // Means of 1-3 (written with i = 4) and of 4-6 (written with i = 7);
  // amplitudes 34/3 + 0.5 and 64/3 + 0.5 truncated.
  EXPECT_EQ(rig.points.text(),
            "10.000020 55.000000    9.000000  898.00  11   4  3\n"
            "10.000050 55.000000    9.000000  895.00  21   7  3\n");
}

TEST(PointPipeline, AveragingSpanCountsIndicesNotMeasurements) {
  TestConfig cfg = averaging_config();
  cfg.amin = 5;
  Rig rig(cfg);
  struct In {
    std::int32_t i;
    int ampl;
  };
  // Index 2 is rejected: the group of 1 and 3 closes at index 4 with 2 members.
  const In seq[] = {{1, 10}, {2, 0}, {3, 20}, {4, 30}};
  for (const In& in : seq) {
    Measurement m = meas(in.i, 100, in.ampl, 10, in.i == 1);
    rig.process(m, 1);
  }
  EXPECT_EQ(rig.points.text(), "10.000000 55.000000    9.000000  900.00  15   4  2\n");
}

TEST(PointPipeline, MeasurementWithNoGroupOpenOpensOne) {
  Rig rig(averaging_config());
  // Text form before the first record with i = 1: no scan has begun.
  for (std::int32_t i = 2; i <= 5; ++i) {
    Measurement m = meas(i, 100 + i, 10 * i, 10, false);
    rig.process(m, 0);
  }
  EXPECT_EQ(rig.stats().npout, 1);
  EXPECT_EQ(rig.points.text(), "10.000000 55.000000    9.000000  897.00  30   5  3\n");
}

TEST(PointPipeline, NewscanIsLoweredWhenAGroupOpens) {
  Rig rig(averaging_config());
  Measurement m = meas(1, 100, 10, 10, true);
  rig.process(m, 1);
  EXPECT_FALSE(m.newscan);
}

TEST(PointPipeline, BinaryPointFile) {
  TestConfig cfg = open_config();
  cfg.binout = true;
  Rig rig(cfg);
  Measurement m = meas(258, 957.9, -3, 10.5);
  rig.process(m, 1);
  Measurement m2 = meas(7, 1000, 4, 10.75);
  rig.process(m2, 1);
  const std::string bytes = rig.points.text();
  ASSERT_EQ(bytes.size(), 36u);
  // 10.5 h, 55 N, 9 E, 42.1 m, -3, 258 mod 256 = 2; then 10.75 h, 0 m, 4, 7.
  const unsigned char expected[36] = {0x40, 0x2C, 0x42, 0x06, 0x80, 0x55, 0xC8, 0x20, 0x80,
                                      0x4A, 0x5D, 0x05, 0x74, 0xA4, 0x00, 0x00, 0xFD, 0x02,
                                      0xE0, 0x51, 0x68, 0x06, 0x80, 0x55, 0xC8, 0x20, 0x80,
                                      0x4A, 0x5D, 0x05, 0x00, 0x00, 0x00, 0x00, 0x04, 0x07};
  for (int k = 0; k < 36; ++k)
    EXPECT_EQ(static_cast<unsigned char>(bytes[k]), expected[k]) << "byte " << k;
}

TEST(PointPipeline, NoPointFileStillCountsAndTracksTheCentre) {
  TestConfig cfg = open_config();
  cfg.wrtpts = false;
  TrajectoryTable traj;
  resting_trajectory(traj);
  test::CapturedOutput centre, console;
  MeasurementGate gate(cfg, traj);
  PointPipeline pipe(cfg, traj, nullptr, nullptr,
                     PointPipeline::Outputs{nullptr, &centre.file, nullptr, &console.file});
  Measurement m = meas(1, 100, 5, 10, true);
  m.angle = 110;  // right of nadir: the first point of a run is a centre point
  AircraftState s;
  ASSERT_TRUE(gate.accept(m, s));
  pipe.process(m, s, gate.place(), 1);
  EXPECT_EQ(pipe.points_out(), 1);
  EXPECT_EQ(centre.text().size(), 63u);
}

}  // namespace
}  // namespace bf
