// A run's session as the tools use it: the parameters finished from the deck and the
// options, the deck's files found from its folder, the phases' report lines, and the
// measurements it visits, held against what beamfall itself wrote for the same deck (the
// end-to-end case geo_text_geoid: text scanner form, geoid grid, text point file).
#include "run/session.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "captured_output.hpp"
#include "georef/sensor.hpp"
#include "input/trajectory.hpp"
#include "textio/error.hpp"

namespace bf {
namespace {

const std::string kCase = std::string(BEAMFALL_CASES) + "/geo_text_geoid";

std::string read_text(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The case's deck, finished without options, with its files in the case's folder.
Session case_session() {
  return Session(finish_parameters(read_deck_file(kCase + "/deck")), kCase);
}

struct Visited {
  double thr = 0, range = 0, angle = 0;
  AircraftState state;
};

std::vector<Visited> visit_all(Session& session, std::int64_t stride) {
  std::vector<Visited> seen;
  session.for_each_measurement(stride, [&seen](const Measurement& m, const AircraftState& s) {
    seen.push_back({m.thr, m.range, m.angle, s});
  });
  return seen;
}

TEST(Session, FinishesTheDecksParametersAsTheRunDoes) {
  RunPar deck = read_deck_file(kCase + "/deck");
  deck.tstart = 9;  // before t0 (10 h): raised to it
  deck.calib = true;
  struct Case {
    const char* what;
    const char* ptname;
    std::optional<double> roll0;
    bool wrtpts, calib;
    double roll;
  };
  const Case cases[] = {
      {"point file: cross profiles kept", "pts.txt", std::nullopt, true, true, 0.0},
      {"point file 0: no cross profiles", "0", std::nullopt, false, false, 0.0},
      {"--roll0 replaces the deck's roll0", "pts.txt", 0.25, true, true, 0.25},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    deck.ptname =
        std::string(c.ptname) + std::string(kNameWidth - std::string(c.ptname).size(), ' ');
    RunOptions options;
    options.roll0 = c.roll0;
    options.rigorous = true;
    options.range_offset = -0.03;
    options.boresight = Boresight{0.1, -0.1, 0.2};
    const RunParameters p = finish_parameters(deck, options);
    EXPECT_EQ(p.par.wrtpts, c.wrtpts);
    EXPECT_EQ(p.par.calib, c.calib);
    EXPECT_EQ(p.par.roll0, c.roll);
    EXPECT_EQ(p.misalignment().roll0, c.roll);
    EXPECT_TRUE(p.par.usegeoid);
    EXPECT_EQ(p.par.t0, 10.0);
    EXPECT_EQ(p.window().tstart, 10.0);
    EXPECT_TRUE(p.rigorous);
    EXPECT_EQ(p.range_offset, -0.03);
    ASSERT_TRUE(p.boresight);
    EXPECT_EQ(p.boresight->heading, 0.2);
  }
}

TEST(Session, ALasFileInProfileModeIsAUsageError) {
  RunPar deck = read_deck_file(kCase + "/deck");
  deck.useatt = false;
  RunOptions options;
  options.las_file = "points.las";
  EXPECT_THROW(finish_parameters(deck, options), UsageError);
}

TEST(Session, ChecksAnOptionsValueAsTheCommandLineDoes) {
  EXPECT_FALSE(option_value_error("--roll0", "0.05"));
  EXPECT_FALSE(option_value_error("--boresight", "0.1,-0.1,0.2"));
  const auto error = option_value_error("--boresight", "0.1,x,0.2");
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("--boresight"), std::string::npos) << *error;
  EXPECT_TRUE(option_value_error("--range-offset", "far"));
}

TEST(Session, TakesTheDecksRelativeNamesFromItsFolder) {
  const Session in_folder(RunParameters{}, "/data/line1");
  EXPECT_EQ(in_folder.input_path("scan.txt   "), "/data/line1/scan.txt");
  EXPECT_EQ(in_folder.input_path("/elsewhere/scan.txt"), "/elsewhere/scan.txt");
  const Session here(RunParameters{});
  EXPECT_EQ(here.input_path("scan.txt   "), "scan.txt");
}

TEST(Session, BoundsTheMeasurementsByTheScannerFilesSize) {
  const Session session = case_session();
  const auto bytes = std::filesystem::file_size(kCase + "/scan.txt");
  EXPECT_EQ(session.measurements_at_most(), static_cast<std::int64_t>(bytes) / 8);
  EXPECT_EQ(Session(RunParameters{}, kCase + "/no-such-folder").measurements_at_most(), 0);
}

TEST(Session, AMissingInputIsNamedAsOpened) {
  RunParameters p = finish_parameters(read_deck_file(kCase + "/deck"));
  Session session(p, kCase + "/no-such-folder");
  const std::string message = test::stop_message([&] { session.open_inputs(); });
  EXPECT_NE(message.find(kCase + "/no-such-folder/scan.txt"), std::string::npos) << message;
}

TEST(Session, ReportsItsPhasesAsTheRunDoes) {
  Session session = case_session();
  test::CapturedOutput report;
  session.load_geoid(&report.file);
  session.load_trajectory(&report.file);
  const std::string phases = report.text();
  EXPECT_NE(phases.find(" GPS read:"), std::string::npos) << phases;
  EXPECT_NE(read_text(kCase + "/expected/stdout").find(phases), std::string::npos) << phases;
  EXPECT_EQ(session.trajectory().ngps, 3);
  ASSERT_TRUE(session.geoid());
}

TEST(Session, VisitsWhatTheRunWrites) {
  Session session = case_session();
  session.load_geoid(nullptr);
  const std::vector<Visited> seen = visit_all(session, 1);

  // The run's points, one a line: thr lat lon h ampl i.
  std::istringstream points(read_text(kCase + "/expected/files/pts.txt"));
  std::vector<std::vector<double>> written;
  for (std::string line; std::getline(points, line);) {
    std::istringstream fields(line);
    std::vector<double> v(6);
    for (double& x : v)
      fields >> x;
    written.push_back(v);
  }
  ASSERT_EQ(seen.size(), written.size());
  ASSERT_FALSE(seen.empty());

  const RunParameters& p = session.parameters();
  GeoidLookup geoid(*session.geoid());
  const SensorModel sensor{p.lever_arm(), Boresight{}, 0};
  for (std::size_t k = 0; k < seen.size(); ++k) {
    SCOPED_TRACE(k);
    const SurfacePoint sp =
        geolocate_measurement(seen[k].range, seen[k].angle, seen[k].state, sensor, false, &geoid);
    // The point file's resolution: 1e-6 h and degrees, 1 cm.
    EXPECT_NEAR(seen[k].thr, written[k][0], 5e-7);
    EXPECT_NEAR(sp.lat, written[k][1], 5e-7);
    EXPECT_NEAR(sp.lon, written[k][2], 5e-7);
    EXPECT_NEAR(sp.h, written[k][3], 0.005);
  }
}

TEST(Session, VisitsEveryStrideThMeasurementDelivered) {
  Session all = case_session();
  const std::vector<Visited> every = visit_all(all, 1);
  Session third = case_session();
  const std::vector<Visited> some = visit_all(third, 3);
  ASSERT_EQ(some.size(), every.size() / 3);
  for (std::size_t k = 0; k < some.size(); ++k)
    EXPECT_EQ(some[k].thr, every[3 * k + 2].thr);
}

TEST(Session, LeavesOutWhatTheDecksLimitsRejectAndTellsProgress) {
  RunParameters p = finish_parameters(read_deck_file(kCase + "/deck"));
  p.par.rmin = 610;  // ranges 600.25 .. 652.25: the shorter ones are rejected
  Session session(p, kCase);
  std::int64_t calls = 0;
  std::vector<double> ranges;
  session.for_each_measurement(
      1, [&ranges](const Measurement& m, const AircraftState&) { ranges.push_back(m.range); },
      [&calls](std::int64_t, std::int64_t) { ++calls; });
  ASSERT_FALSE(ranges.empty());
  EXPECT_LT(ranges.size(), 18u);
  for (double r : ranges)
    EXPECT_GT(r, 610);
  EXPECT_EQ(calls, 0);  // fewer than 65536 measurements
}

}  // namespace
}  // namespace bf
