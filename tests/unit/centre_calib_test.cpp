// The scan centre track (centre test, the 30-second console rule, the line
// layouts) and the cross-profile regression.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "captured_output.hpp"
#include "output/calib.hpp"
#include "output/centre.hpp"
#include "pipeline/pipeline.hpp"

namespace bf {
namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(text.substr(start, nl - start));
  return lines;
}

TEST(CentreLines, CentreFile62AndConsole51Characters) {
  OutPoint p;
  p.thr = 10.5;
  p.lat = 55.123456;
  p.lon = 9.5;
  p.h = 42.1;
  p.h_a = 1000;
  p.range = 957.9;
  p.scanang = -0.01;
  p.ampl = 17;
  p.i = 8;
  CentreState st;
  test::CapturedOutput centre, console;
  centre_test(p, 12, 1, st, centre.file, console.file);
  EXPECT_EQ(centre.text(), "  10.5000000 55.123456    9.500000   42.10  17 1000.00  957.90\n");
  EXPECT_EQ(console.text(), "     12 10.5000000 55.123456   9.500000   42.10  17\n");
  EXPECT_EQ(st.tlast, 10.5);
}

// A pipeline at rest over 9 .. 11 h (55 N, 9 E, 1000 m) whose points go to
// captured files; every measurement is accepted unless its amplitude is
// negative.
struct Rig {
  Rig() {
    traj.ngps = 2;
    for (int k = 1; k <= 2; ++k) {
      traj.time[k] = 7 + 2 * k;
      traj.lat[k] = 55;
      traj.lon[k] = 9;
      traj.h[k] = 1000;
      traj.pitch[k] = traj.roll[k] = traj.heading[k] = 0;
      traj.vel[k] = 200;
    }
    struct : PipelineConfig, GateLimits {
    } c;
    c.latmin = 50;
    c.latmax = 60;
    c.lonmin = 0;
    c.lonmax = 20;
    c.naver = 1;
    c.wrtpts = true;
    c.useatt = true;
    c.ihi = 1000;
    c.rmin = 0;
    gate = std::make_unique<MeasurementGate>(c, traj);
    pipe = std::make_unique<PointPipeline>(
        c, traj, nullptr, nullptr,
        PointPipeline::Outputs{&points.file, &centre.file, nullptr, &console.file});
  }
  // One measurement per angle (gon), 1 s apart from 10 h; returns the centre
  // file's lines.
  std::vector<std::string> sweep(const std::vector<double>& angles, int rejected = -1) {
    for (std::size_t k = 0; k < angles.size(); ++k) {
      Measurement m;
      m.i = static_cast<std::int32_t>(k + 1);
      m.range = 100;
      m.ampl = static_cast<std::int8_t>(static_cast<int>(k) == rejected ? -1 : 5);
      m.angle = angles[k];
      m.thr = 10 + static_cast<double>(k) / 3600;
      m.scanno = 1;
      AircraftState s;
      if (gate->accept(m, s)) pipe->process(m, s, gate->place(), 2);
    }
    return lines_of(centre.text());
  }
  TrajectoryTable traj;
  test::CapturedOutput points, centre, console;
  std::unique_ptr<MeasurementGate> gate;
  std::unique_ptr<PointPipeline> pipe;
};

// Times as the centre file shows them: 10 h plus k seconds.
std::string thr_field(int k) {
  char buf[16];
  return std::string(buf, put_f(buf, 11, 7, 10 + k / 3600.0));
}

TEST(CentreTest, PicksTheFirstPointRightOfNadirInARisingSweep) {
  struct Case {
    const char* what;
    std::vector<double> angles;
    int rejected;  // index of a measurement rejected by its amplitude, or -1
    std::vector<int> centres;
  };
  const Case cases[] = {
      {"rising 60 to 140 gon", {60, 80, 99.9, 100.1, 120, 140}, -1, {3}},
      {"exactly 100 gon is on the non-negative side", {60, 100, 100, 120, 140}, -1, {3}},
      {"falling 140 to 60 gon after the run's first point", {150, 140, 120, 100, 80, 60}, -1, {0}},
      {"the run's first point, left of nadir", {60, 80}, -1, {}},
      {"two rising sweeps", {60, 140, 60, 140}, -1, {1, 3}},
      {"a rejected measurement leaves the previous angle", {60, 140, 140}, 1, {2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Rig rig;
    const std::vector<std::string> lines = rig.sweep(c.angles, c.rejected);
    ASSERT_EQ(lines.size(), c.centres.size());
    for (std::size_t n = 0; n < lines.size(); ++n)
      EXPECT_EQ(lines[n].substr(1, 11), thr_field(c.centres[n]));
  }
}

// Centre points at the given times (hours) after the first scan; returns the
// number of console lines.
std::size_t shown(const std::vector<double>& times, std::int64_t nscans,
                  std::size_t* centre_lines) {
  CentreState st;
  test::CapturedOutput centre, console;
  for (double thr : times) {
    OutPoint p;
    p.thr = thr;
    p.scanang = -0.1;
    st.prevang = 0.1;  // the previous point was left of nadir
    centre_test(p, 5, nscans, st, centre.file, console.file);
  }
  if (centre_lines != nullptr) *centre_lines = lines_of(centre.text()).size();
  return lines_of(console.text()).size();
}

TEST(CentreConsole, ShowsAPointMoreThan29point99988SecondsAfterTheLast) {
  std::vector<double> every10s;
  for (int k = 0; k <= 6; ++k)
    every10s.push_back(10 + k * 10 / 3600.0);
  std::size_t in_file = 0;
  EXPECT_EQ(shown(every10s, 2, &in_file), 3u);  // at 0, 30 and 60 s
  EXPECT_EQ(in_file, 7u);

  const double limit = 0.008333300240337849;  // 0.0083333 in single precision
  EXPECT_EQ(shown({limit}, 2, nullptr), 0u);  // strict comparison, tlast 0
  EXPECT_EQ(shown({std::nextafter(limit, 1.0)}, 2, nullptr), 1u);
  EXPECT_EQ(shown({0.0083333001}, 2, nullptr), 0u);  // above the decimal 0.0083333
}

TEST(CentreConsole, ShowsEveryCentrePointOfTheFirstScan) {
  std::vector<double> every1s;
  for (int k = 0; k < 5; ++k)
    every1s.push_back(10 + k / 3600.0);
  EXPECT_EQ(shown(every1s, 1, nullptr), 5u);
  EXPECT_EQ(shown(every1s, 2, nullptr), 1u);
}

struct CalCase {
  const char* what;
  std::vector<double> tan, h;  // h_a is 100 m for every point
  const char* bias_line;
};

TEST(Regression, ReportsBiasAndRoll) {
  const CalCase cases[] = {
      {"on h = 2 + 0.01 xdist",
       {-0.5, -0.2, 0, 0.3, 0.6},
       {1.5, 1.8, 2, 2.3, 2.6},
       " bias:   2.00 m, slope (roll0): -0.57 degrees"},
      {"symmetric level profile: the mean height",
       {-0.5, 0, 0.5},
       {10, 13, 10},
       " bias:  11.00 m, slope (roll0):  0.00 degrees"},
      {"no points", {}, {}, " bias:   0.00 m, slope (roll0):  0.00 degrees"},
      {"all at nadir: singular", {0, 0}, {5, 7}, " bias:   0.00 m, slope (roll0):  0.00 degrees"},
      {"bias too wide for F7.2",
       {-0.01, 0.01},
       {20000, 20000},
       " bias:******* m, slope (roll0):  0.00 degrees"},
  };
  for (const CalCase& c : cases) {
    SCOPED_TRACE(c.what);
    CrossSums sums;
    test::CapturedOutput cal, console;
    for (std::size_t k = 0; k < c.tan.size(); ++k)
      add_cross_point(c.tan[k], 100, c.h[k], sums, cal.file);
    report_regression(sums, console.file);
    EXPECT_EQ(sums.ncal, static_cast<std::int64_t>(c.tan.size()));
    EXPECT_EQ(console.text(),
              "\n Regression of surface relative to ellipsoid/geoid:\n"
              " no of points:  " +
                  std::to_string(c.tan.size()) + " \n" + c.bias_line +
                  "\n cross profiles written on file \"scan.cal\"\n");
    EXPECT_EQ(lines_of(cal.text()).size(), c.tan.size());
  }
}

TEST(Regression, SlopeIsTheRollAngleInDegrees) {
  CrossSums sums;
  test::CapturedOutput cal;
  const double tan[] = {-0.5, -0.2, 0, 0.3, 0.6};
  for (double t : tan)
    add_cross_point(t, 100, 2 + 0.01 * (t * 100), sums, cal.file);
  const Regression r = solve_regression(sums);
  EXPECT_NEAR(r.bias, 2, 1e-12);
  EXPECT_NEAR(r.roll, -0.01 * 180 / std::acos(-1.0), 1e-10);
}

TEST(CrossProfiles, ScanCalLines) {
  CrossSums sums;
  test::CapturedOutput cal;
  add_cross_point(-0.5, 100, 1.5, sums, cal.file);
  add_cross_point(0.25, 1000, -12.345, sums, cal.file);
  add_cross_point(1e6, 1000, 5, sums, cal.file);  // xdist 1e9: too wide
  EXPECT_EQ(cal.text(),
            "    -50.00      1.50\n"
            "    250.00    -12.35\n"
            "**********      5.00\n");
}

}  // namespace
}  // namespace bf
