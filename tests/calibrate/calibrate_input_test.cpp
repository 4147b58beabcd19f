// beamfall-calibrate on input it cannot use: a one-line message, exit status 1 (2 for a
// command line it cannot read) and no calibration file written; and the control file's rows.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "calibrate/control.hpp"
#include "calibrate/sampling.hpp"
#include "campaign/folder/record.hpp"
#include "shell.hpp"
#include "textio/error.hpp"

namespace {

namespace fs = std::filesystem;

using caltest::TempDir;

struct Outcome {
  int status = 0;
  std::string err;
};

// Standard error only.
Outcome run(const std::string& cmd) {
  const caltest::Shell s = caltest::shell(cmd + " 2>&1 >/dev/null");
  return {s.status, s.out};
}

void sim_campaign(const fs::path& dir, int lines, const std::string& args = "") {
  ASSERT_EQ(run(std::string(SIM_CAMPAIGN_BIN) + " " + std::to_string(lines) + " '" + dir.string() +
                "' --pattern opposite --surface terrain " + args)
                .status,
            0);
}

// One line of a campaign flown on its own, far from `dir`'s other lines.
void sim_line_far_away(const fs::path& dir, const std::string& name) {
  const fs::path line = dir / name;
  ASSERT_EQ(run(std::string(SIM_BIN) + " --out '" + line.string() +
                "' --lat 78.2 --lon -14 --duration 4 --nmeas 60 --scan-rate 20")
                .status,
            0);
  fs::rename(line / "deck.txt", line / "deck");
}

void expect_refused(const fs::path& dir, const std::string& args, const std::string& words,
                    int status = 1) {
  for (const char* prog : {CALIBRATE_BIN, CAMPAIGN_BIN " calibrate"}) {
    const Outcome o = run(std::string(prog) + " '" + dir.string() + "' " + args);
    EXPECT_EQ(o.status, status) << prog << ": " << o.err;
    EXPECT_NE(o.err.find(words), std::string::npos) << prog << ": " << o.err;
    if (status == 1) {
      EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
    }
    EXPECT_FALSE(fs::exists(dir / "calibration.json")) << prog;
    EXPECT_FALSE(fs::exists(dir / "calibration.html")) << prog;
  }
  for (const auto& e : fs::directory_iterator(dir))
    EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
}

TEST(BadCampaign, OneLine) {
  TempDir t;
  sim_campaign(t.path() / "c", 1);
  expect_refused(t.path() / "c", "", "a campaign of 1 line(s)");
}

TEST(BadCampaign, NoSuchFolder) {
  TempDir t;
  expect_refused(t.path(), "", "a campaign of 0 line(s)");
  const Outcome o = run(std::string(CALIBRATE_BIN) + " '" + (t.path() / "none").string() + "'");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("no campaign folder"), std::string::npos) << o.err;
}

TEST(BadCampaign, LineOverlappingNoOther) {
  TempDir t;
  const fs::path dir = t.path() / "c";
  sim_campaign(dir, 2);
  sim_line_far_away(dir, "line03");
  expect_refused(dir, "", "line03 overlaps no other line");
}

TEST(BadCampaign, LineWhoseRunFailed) {
  TempDir t;
  const fs::path dir = t.path() / "c";
  sim_campaign(dir, 2);
  campaign::LineRecord failed;
  failed.status = 1;
  campaign::save_record((dir / "line02").string(), failed);
  expect_refused(dir, "", "line02: its last run failed (exit status 1)");
}

TEST(BadCampaign, UnreadableDeck) {
  TempDir t;
  const fs::path dir = t.path() / "c";
  sim_campaign(dir, 2);
  std::ofstream(dir / "line01" / "deck") << "flight.2dd\nflight.traj\n0\n";
  expect_refused(dir, "", "line01: ");
}

TEST(BadControl, RowsAndFiles) {
  TempDir t;
  const fs::path dir = t.path() / "c";
  sim_campaign(dir, 2);
  const fs::path control = t.path() / "control.csv";
  std::ofstream(control) << "latitude,longitude,height\n78.5,-15,0\n78.5,x,0\n";
  expect_refused(dir, "--control '" + control.string() + "'", "row 3");
  expect_refused(dir, "--control '" + (t.path() / "none.csv").string() + "'", "can't open");
}

// A control point outside every swath is listed unused, with the reason and a warning, and
// the calibration goes on without it. Regression: it stopped the whole calibration (exit 1).
TEST(BadControl, PointOutsideEverySwathIsListedUnused) {
  TempDir t;
  const fs::path dir = t.path() / "c";
  sim_campaign(dir, 2);
  const fs::path control = t.path() / "control.csv";
  std::ofstream(control) << "latitude,longitude,height\n10,10,0\n";
  const Outcome o = run(std::string(CALIBRATE_BIN) + " '" + dir.string() + "' --control '" +
                        control.string() + "' --no-progress");
  ASSERT_EQ(o.status, 0) << o.err;
  std::ifstream in(dir / "calibration.json");
  const auto j = nlohmann::json::parse(in);
  ASSERT_EQ(j["control"].size(), 1u);
  EXPECT_EQ(j["control"][0]["row"], 2);
  EXPECT_FALSE(j["control"][0]["used"].get<bool>());
  EXPECT_EQ(j["control"][0]["reason"], "outside every swath (no line measured around it)");
  EXPECT_EQ(j["control_points"], 0);
  bool warned = false;
  for (const auto& w : j["warnings"])
    warned = warned || w == "control point on row 2 is not used: outside every swath (no line "
                            "measured around it)";
  EXPECT_TRUE(warned) << j["warnings"];
}

TEST(Usage, ExitTwoAndNothingWritten) {
  TempDir t;
  const fs::path dir = t.path() / "c";
  sim_campaign(dir, 2);
  expect_refused(dir, "--solve roll,yaw", "--solve takes roll, pitch, heading and range", 2);
  expect_refused(dir, "--max-patches 0", "--max-patches takes a positive number", 2);
  expect_refused(dir, "--patch-size 0", "--patch-size takes a positive number", 2);
  expect_refused(dir, "--patch-size 0.001", "--patch-size takes 0.1 to 100 m", 2);
  expect_refused(dir, "--patch-size 0.09", "--patch-size takes 0.1 to 100 m", 2);
  expect_refused(dir, "--patch-size 100.5", "--patch-size takes 0.1 to 100 m", 2);
  expect_refused(dir, "--patch-size 1e9", "--patch-size takes 0.1 to 100 m", 2);
  expect_refused(dir, "--bogus", "unknown option '--bogus'", 2);
  expect_refused(dir, "other", "one campaign folder only", 2);
  const Outcome o = run(std::string(CALIBRATE_BIN));
  EXPECT_EQ(o.status, 2);
}

// The control file's rows: a table of what is taken and what is refused.
TEST(ControlFile, Rows) {
  struct Row {
    const char* text;
    bool ok;
    double lat, lon, h, sigma;
  };
  const Row rows[] = {
      {"78.5,-15,12.25\n", true, 78.5, -15, 12.25, 0.01},
      {"latitude,longitude,height\n78.5, -15 ,+1.5e1\n", true, 78.5, -15, 15, 0.01},
      {"# surveyed\n\n78.5,-15,0,0.002\r\n", true, 78.5, -15, 0, 0.002},
      {"78.5,-15\n", false, 0, 0, 0, 0},
      {"78.5,-15,0,0.01,5\n", false, 0, 0, 0, 0},
      {"78.5,-15,0\nlat,lon,h\n", false, 0, 0, 0, 0},  // names only on the first row
      {"91,-15,0\n", false, 0, 0, 0, 0},
      {"78.5,-15,nan\n", false, 0, 0, 0, 0},
      {"78.5,-15,0,0\n", false, 0, 0, 0, 0},
      {"78.5,-15,1m\n", false, 0, 0, 0, 0},
      {"latitude,longitude,height\n", false, 0, 0, 0, 0},  // no point
  };
  for (const Row& r : rows) {
    if (!r.ok) {
      EXPECT_THROW(bfcal::parse_control(r.text, "control"), bf::Stop) << r.text;
      continue;
    }
    const auto pts = bfcal::parse_control(r.text, "control");
    ASSERT_EQ(pts.size(), 1u) << r.text;
    EXPECT_EQ(pts[0].lat, r.lat);
    EXPECT_EQ(pts[0].lon, r.lon);
    EXPECT_EQ(pts[0].h, r.h);
    EXPECT_EQ(pts[0].sigma, r.sigma);
  }
}

}  // namespace

// A campaign folder whose name is not valid UTF-8 still gets both files, the JSON
// showing the name with replacement characters.
TEST(Output, FolderNameNotUtf8) {
  TempDir t;
  const fs::path dir = t.path() / "c\xff\xfe";
  sim_campaign(dir, 2);
  const Outcome o = run(std::string(CALIBRATE_BIN) + " '" + dir.string() + "' --no-progress");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(fs::exists(dir / "calibration.html"));
  std::ifstream in(dir / "calibration.json");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("\xEF\xBF\xBD"), std::string::npos) << text;
}

// What linear interpolation between trajectory samples misses at the swath edge, against the
// closed form for an oscillation A sin(w t) sampled h apart: its second derivative A w^2 sin
// misses by up to A w^2 h^2 / 8 midway, sqrt(1/120) A w^2 h^2 RMS over an interval, so
// A w^2 h^2 / sqrt(240) RMS over the oscillation; roll and pitch count at the range of the
// swath's edge, heading at its distance across track. A heading oscillating across +-180
// degrees misses no more than one that does not.
TEST(TrajectorySampling, MissOfAnOscillationAgainstItsClosedForm) {
  struct Case {
    const char* what;
    double rate, amplitude, period, heading0;  // Hz, degrees, seconds, degrees
    bool roll;                                 // else the heading oscillates
  };
  const Case cases[] = {{"roll at 10 Hz", 10, 1.5, 7.5, 30, true},
                        {"roll at 100 Hz", 100, 1.5, 7.5, 30, true},
                        {"heading across 180 at 10 Hz", 10, 0.3, 5, 180, false},
                        {"heading at 10 Hz", 10, 0.3, 5, 30, false}};
  const bfcal::SwathEdge edge{400, 150};
  for (const Case& c : cases) {
    auto t = std::make_unique<bf::TrajectoryTable>();
    const double w = 2 * M_PI / c.period, h = 1 / c.rate;
    for (int k = 1; k <= static_cast<int>(60 * c.rate); ++k) {
      const double s = k * h, swing = c.amplitude * std::sin(w * s);
      t->time[k] = 10 + s / 3600;
      t->lat[k] = 70.5;
      t->lon[k] = -40.2;
      t->h[k] = 320;
      t->pitch[k] = 2.5;
      t->roll[k] = c.roll ? swing : 0;
      const double heading = c.heading0 + (c.roll ? 0 : swing);
      t->heading[k] = heading > 180 ? heading - 360 : heading;
      t->ngps = k;
    }
    // 45 s: whole periods of both oscillations.
    const bfcal::SamplingMiss m = bfcal::sampling_miss(*t, 10 + 5.0 / 3600, 10 + 50.0 / 3600, edge);
    const double arm = c.roll ? edge.range : edge.across;
    const double peak = arm * c.amplitude * M_PI / 180 * w * w * h * h;
    EXPECT_NEAR(m.rate, c.rate, 1e-6 * c.rate) << c.what;
    EXPECT_NEAR(m.rms_m, peak / std::sqrt(240), 0.01 * peak / std::sqrt(240)) << c.what;
    EXPECT_NEAR(m.max_m, peak / 8, 0.01 * peak / 8) << c.what;
  }
}
