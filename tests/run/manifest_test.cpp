// --manifest: the JSON record of a run, read back by an independent reader and
// held against the report the same run printed. Every fixture run of the
// end-to-end cases (normal runs, profile mode, every kind of stop) runs once
// more with --manifest: its report and files must stay byte for byte as
// expected, and the manifest must tell the same figures, status and stop line.
//
// The manifest's schema (version 3), in the order written:
//   format "beamfall-manifest", version 1, program {name, version},
//   arguments [..], options {las, line_id, date, time_scale, vertical_crs,
//   rigorous, progress, roll0, manifest}, deck {the deck's values by name} or
//   null, inputs and outputs [{role, name, path, size}], trajectory {samples,
//   min_spacing, max_spacing, min_speed, max_speed} or null, summary
//   {scans_read, scans_skipped, points_output, range_min, range_max,
//   flight_height_min, flight_height_max, aircraft_lat_min, aircraft_lat_max,
//   aircraft_lon_min, aircraft_lon_max, rejected {amplitude, scan_angle,
//   range}} or null, regression {points, bias, roll} or null, status, stop,
//   signal, elapsed_seconds, outputs_written (added in version 2), uncertainty
//   (added in version 3: null without the noise model; the noise model's options
//   follow manifest in options).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <nlohmann/json.hpp>
#include <thread>

#include "run_util.hpp"

namespace bftest {
namespace {

// Ordered: the order of the fields is part of what is checked.
using json = nlohmann::ordered_json;

// The report's last line for the manifest's stop text: the same words after one blank.
// (Built by appending: GCC 12 warns falsely on " " + a temporary string.)
std::string report_stop_line(const json& m) {
  std::string line = " ";
  line += m.at("stop").get<std::string>();
  return line;
}

std::vector<std::string> keys_of(const json& object) {
  std::vector<std::string> keys;
  for (const auto& item : object.items())
    keys.push_back(item.key());
  return keys;
}

const std::vector<std::string> kTopKeys = {
    "format", "version", "program",         "arguments",       "options",    "deck",
    "inputs", "outputs", "trajectory",      "summary",         "regression", "status",
    "stop",   "signal",  "elapsed_seconds", "outputs_written", "uncertainty"};
const std::vector<std::string> kDeckKeys = {
    "scanname", "gpsname", "geoidname", "ptname", "cenname", "hh",     "mm",    "ss",
    "tstart",   "tend",    "latmin",    "latmax", "lonmin",  "lonmax", "naver", "nthin",
    "bin2dd",   "binout",  "gpsatt",    "calib",  "useatt",  "dx",     "dy",    "dz",
    "pitch0",   "roll0",   "heading0",  "amin",   "ilo",     "ihi",    "rmin"};
const std::vector<std::string> kOptionKeys = {
    "las",         "line_id",     "date",           "time_scale",     "vertical_crs",
    "rigorous",    "progress",    "roll0",          "boresight",      "range_offset",
    "manifest",    "calibration", "sigma_position", "sigma_attitude", "sigma_trajectory",
    "sigma_range", "sigma_angle", "sigma_lever",    "beam_divergence"};
const std::vector<std::string> kSummaryKeys = {
    "scans_read",       "scans_skipped",     "points_output",     "range_min",
    "range_max",        "flight_height_min", "flight_height_max", "aircraft_lat_min",
    "aircraft_lat_max", "aircraft_lon_min",  "aircraft_lon_max",  "rejected"};

// The document has every field of its version, in order, with its type.
void expect_schema(const json& m) {
  ASSERT_TRUE(m.is_object());
  EXPECT_EQ(keys_of(m), kTopKeys);
  EXPECT_EQ(m.at("format"), "beamfall-manifest");
  EXPECT_EQ(m.at("version"), 3);
  EXPECT_EQ(keys_of(m.at("program")), (std::vector<std::string>{"name", "version"}));
  EXPECT_TRUE(m.at("arguments").is_array());
  EXPECT_EQ(keys_of(m.at("options")), kOptionKeys);
  if (!m.at("deck").is_null()) {
    EXPECT_EQ(keys_of(m.at("deck")), kDeckKeys);
  }
  for (const char* list : {"inputs", "outputs"})
    for (const json& f : m.at(list)) {
      EXPECT_EQ(keys_of(f), (std::vector<std::string>{"role", "name", "path", "size"}));
      EXPECT_TRUE(fs::path(f.at("path").get<std::string>()).is_absolute());
    }
  if (!m.at("trajectory").is_null()) {
    EXPECT_EQ(keys_of(m.at("trajectory")),
              (std::vector<std::string>{"samples", "min_spacing", "max_spacing", "min_speed",
                                        "max_speed"}));
  }
  if (!m.at("summary").is_null()) {
    EXPECT_EQ(keys_of(m.at("summary")), kSummaryKeys);
    EXPECT_EQ(keys_of(m.at("summary").at("rejected")),
              (std::vector<std::string>{"amplitude", "scan_angle", "range"}));
  }
  if (!m.at("regression").is_null()) {
    EXPECT_EQ(keys_of(m.at("regression")), (std::vector<std::string>{"points", "bias", "roll"}));
  }
  EXPECT_TRUE(m.at("status").is_number_integer());
  EXPECT_TRUE(m.at("stop").is_null() || m.at("stop").is_string());
  EXPECT_TRUE(m.at("signal").is_null() || m.at("signal").is_number_integer());
  EXPECT_GE(m.at("elapsed_seconds").get<double>(), 0.0);
  EXPECT_TRUE(m.at("outputs_written").is_boolean());
  // The end-to-end cases run without the noise model.
  EXPECT_TRUE(m.at("uncertainty").is_null());
}

// The report's line that begins with `label`, or nothing.
std::optional<std::string> report_line(const std::string& report, const std::string& label) {
  for (const std::string& line : lines_of(report))
    if (line.rfind(label, 0) == 0) return line;
  return std::nullopt;
}

// The free-format values after `label` on its line.
std::vector<std::string> words_after(const std::string& line, const std::string& label) {
  std::istringstream in(line.substr(label.size()));
  std::vector<std::string> words;
  for (std::string w; in >> w;)
    words.push_back(w);
  return words;
}

// A value printed in a fixed field with `decimals` decimals is the value
// rounded there (a field of asterisks tells only that it overflowed).
void expect_printed(double value, const std::string& field, int decimals, const char* what) {
  SCOPED_TRACE(what);
  if (field.find_first_not_of(" *") == std::string::npos) return;
  const double printed = std::stod(field);
  EXPECT_LE(std::fabs(value - printed), 0.5 * std::pow(10.0, -decimals) * (1 + 1e-9) + 1e-12)
      << value << " printed as '" << field << "'";
}

// `count` fixed fields of `width` after `label`.
std::vector<std::string> fixed_fields(const std::string& line, std::size_t at, int width,
                                      int count) {
  std::vector<std::string> fields;
  for (int k = 0; k < count; ++k)
    fields.push_back(
        line.substr(at + static_cast<std::size_t>(k * width), static_cast<std::size_t>(width)));
  return fields;
}

std::int64_t as_int(const std::string& s) {
  return std::stoll(s);
}

// The manifest tells the figures the report printed, and no others.
void expect_matches_report(const json& m, const std::string& report) {
  const std::vector<std::string> lines = lines_of(report);

  const auto gps = report_line(report, " GPS read:");
  ASSERT_EQ(gps.has_value(), !m.at("trajectory").is_null());
  if (gps) {
    const json& t = m.at("trajectory");
    EXPECT_EQ(t.at("samples").get<std::int64_t>(), as_int(gps->substr(10, 6)));
    const auto spacing = fixed_fields(*gps, 59, 9, 2);
    expect_printed(t.at("min_spacing"), spacing[0], 2, "min spacing");
    expect_printed(t.at("max_spacing"), spacing[1], 2, "max spacing");
    const auto speed_line = report_line(report, " minimum and maximum velocity (km/h): ");
    ASSERT_TRUE(speed_line);
    const auto speeds = fixed_fields(*speed_line, 38, 8, 2);
    expect_printed(t.at("min_speed"), speeds[0], 1, "min speed");
    expect_printed(t.at("max_speed"), speeds[1], 1, "max speed");
  }

  const auto scans = report_line(report, " Total number of scans read: ");
  ASSERT_EQ(scans.has_value(), !m.at("summary").is_null());
  if (scans) {
    const json& s = m.at("summary");
    EXPECT_EQ(s.at("scans_read").get<std::int64_t>(),
              as_int(words_after(*scans, " Total number of scans read: ").at(0)));
    const auto points = report_line(report, " Total number of points output: ");
    ASSERT_TRUE(points);
    EXPECT_EQ(s.at("points_output").get<std::int64_t>(),
              as_int(words_after(*points, " Total number of points output: ").at(0)));
    const auto skipped = report_line(report, " Number of scans skipped in start of file:");
    if (skipped) {
      EXPECT_EQ(s.at("scans_skipped").get<std::int64_t>(), as_int(skipped->substr(42, 7)));
    }

    const std::string range_label = " min and max laser range measured: ";
    const auto range = fixed_fields(*report_line(report, range_label), range_label.size(), 9, 2);
    expect_printed(s.at("range_min"), range[0], 2, "range min");
    expect_printed(s.at("range_max"), range[1], 2, "range max");
    const std::string height_label = " min and max flight elevation: ";
    const auto height = fixed_fields(*report_line(report, height_label), height_label.size(), 9, 2);
    expect_printed(s.at("flight_height_min"), height[0], 2, "height min");
    expect_printed(s.at("flight_height_max"), height[1], 2, "height max");
    const std::string area_label = " aircraft positions within area: ";
    const auto area = fixed_fields(*report_line(report, area_label), area_label.size(), 9, 4);
    expect_printed(s.at("aircraft_lat_min"), area[0], 4, "lat min");
    expect_printed(s.at("aircraft_lat_max"), area[1], 4, "lat max");
    expect_printed(s.at("aircraft_lon_min"), area[2], 4, "lon min");
    expect_printed(s.at("aircraft_lon_max"), area[3], 4, "lon max");

    const json& rej = s.at("rejected");
    const auto ampl =
        words_after(*report_line(report, " amplitude lower than "), " amplitude lower than ");
    EXPECT_EQ(rej.at("amplitude").get<std::int64_t>(), as_int(ampl.at(1)));
    const auto scan = words_after(*report_line(report, " scan out of range"), " scan out of range");
    EXPECT_EQ(rej.at("scan_angle").get<std::int64_t>(), as_int(scan.at(2)));
    const auto rng =
        words_after(*report_line(report, " measurements less than "), " measurements less than ");
    EXPECT_EQ(rej.at("range").get<std::int64_t>(), as_int(rng.at(2)));
  }

  const auto npoints = report_line(report, " no of points: ");
  ASSERT_EQ(npoints.has_value(), !m.at("regression").is_null());
  if (npoints) {
    const json& r = m.at("regression");
    EXPECT_EQ(r.at("points").get<std::int64_t>(),
              as_int(words_after(*npoints, " no of points: ").at(0)));
    const auto bias = report_line(report, " bias:");
    ASSERT_TRUE(bias);
    expect_printed(r.at("bias"), bias->substr(6, 7), 2, "bias");
    expect_printed(r.at("roll"), bias->substr(31, 6), 2, "roll");
  }
}

// Every output the manifest lists has the size the file has.
void expect_sizes(const json& m, const fs::path& dir) {
  for (const char* list : {"inputs", "outputs"})
    for (const json& f : m.at(list)) {
      if (f.at("role") == "manifest") continue;
      const fs::path p = dir / f.at("name").get<std::string>();
      SCOPED_TRACE(p.string());
      std::error_code ec;
      if (fs::is_regular_file(p, ec)) {
        EXPECT_EQ(f.at("size").get<std::uintmax_t>(), fs::file_size(p));
      } else {
        EXPECT_TRUE(f.at("size").is_null());
      }
    }
}

std::vector<std::string> case_names() {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(BEAMFALL_CASES))
    if (e.is_directory()) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A fixture case's run directory, made as the end-to-end test makes it.
std::string prepare_case(const std::string& name, const fs::path& dir) {
  const fs::path src = fs::path(BEAMFALL_CASES) / name;
  for (const auto& e : fs::directory_iterator(src)) {
    const std::string file = e.path().filename().string();
    if (file == "expected" || file == "NOTES.md" || file == "setup" || file == "deck") continue;
    if (file.size() > 8 && file.ends_with(".2dd.txt")) {
      const std::string cmd = std::string(MK2DD_BIN) + " '" + e.path().string() + "' '" +
                              (dir / file.substr(0, file.size() - 4)).string() + "'";
      EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    } else {
      fs::copy(e.path(), dir / file, fs::copy_options::recursive);
    }
  }
  if (fs::exists(src / "setup")) {
    const std::string cmd = "cd '" + dir.string() + "' && sh '" + (src / "setup").string() + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  }
  return slurp(src / "deck");
}

class ManifestOfCase : public ::testing::TestWithParam<std::string> {};

// The start of the reason a run with no usable input gives: its report does
// not end with a stop line.
constexpr std::string_view kNoUsableInput = "*** no usable input: ";

// The outputs a manifest lists, with their contents (empty when absent).
std::map<std::string, std::string> output_contents(const json& m, const fs::path& dir) {
  std::map<std::string, std::string> contents;
  for (const json& f : m.at("outputs")) {
    if (f.at("role") == "manifest") continue;
    const fs::path p = dir / f.at("name").get<std::string>();
    std::error_code ec;
    contents[f.at("name")] = fs::is_regular_file(p, ec) ? slurp(p) : std::string("(none)");
  }
  return contents;
}

TEST_P(ManifestOfCase, TellsWhatTheReportSays) {
  TempDir tmp("manifest-case");
  const fs::path dir = tmp.path() / "run";
  fs::create_directories(dir);
  const std::string deck = prepare_case(GetParam(), dir);
  const auto before = files_in(dir);
  const fs::path manifest = tmp.path() / "manifest.json";
  const Result r = run_beamfall(dir, deck, {"--manifest", manifest.string()});

  const fs::path exp = fs::path(BEAMFALL_CASES) / GetParam() / "expected";
  const int expected_status = fs::exists(exp / "exit") ? std::stoi(slurp(exp / "exit")) : 0;
  EXPECT_EQ(r.status, expected_status);
  EXPECT_EQ(r.out, slurp(exp / "stdout")) << "the report changed";
  if (fs::exists(exp / "files")) {
    for (const auto& e : fs::directory_iterator(exp / "files"))
      EXPECT_EQ(slurp(dir / e.path().filename()), slurp(e.path())) << e.path().filename();
  }

  ASSERT_TRUE(fs::exists(manifest)) << r.err;
  const json m = json::parse(slurp(manifest));
  expect_schema(m);
  EXPECT_EQ(m.at("status"), expected_status);
  EXPECT_TRUE(m.at("signal").is_null());
  const std::vector<std::string> report = lines_of(r.out);
  if (expected_status == 0) {
    EXPECT_TRUE(m.at("stop").is_null());
    EXPECT_EQ(r.err, "");
  } else {
    // The stop line, or the reason of a run with no usable input, is the
    // one standard error gives.
    const std::string stop = m.at("stop");
    EXPECT_EQ(r.err, "beamfall: " + stop + "\n");
    ASSERT_FALSE(report.empty());
    if (stop.starts_with(kNoUsableInput)) {
      EXPECT_FALSE(m.at("summary").is_null()) << "the report goes on to its summary";
      EXPECT_NE(report_stop_line(m), report.back());
    } else {
      EXPECT_EQ(report_stop_line(m), report.back());
    }
  }
  // A run that did not create its outputs left each as it was.
  if (expected_status == 0) {
    EXPECT_TRUE(m.at("outputs_written").get<bool>());
  }
  if (!m.at("outputs_written").get<bool>()) {
    for (const auto& [name, text] : output_contents(m, dir)) {
      const auto old = before.find(name);
      EXPECT_EQ(text, old == before.end() ? std::string("(none)") : old->second) << name;
    }
  }
  expect_matches_report(m, r.out);
  expect_sizes(m, dir);
  EXPECT_EQ(m.at("deck").is_null(), GetParam().rfind("bad_deck", 0) == 0 ||
                                        GetParam() == "run_deck_ends_early" ||
                                        GetParam() == "run_letter_for_number");
}

INSTANTIATE_TEST_SUITE_P(Cases, ManifestOfCase, ::testing::ValuesIn(case_names()),
                         [](const auto& param_info) {
                           std::string n = param_info.param;
                           for (char& c : n)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return n;
                         });

// A simulated flight with cross profiles and a roll misalignment: the
// regression's bias and roll are given to the last bit, which the report
// rounds to 0.01.
TEST(Manifest, RegressionAtFullPrecision) {
  TempDir tmp("manifest-sim");
  simulate(tmp.path(), "--duration 3 --nmeas 80 --boresight 0.37,0,0 --range-bias 0.123");
  const std::string deck = slurp(tmp.path() / "deck.txt");
  const Result r = run_beamfall(tmp.path(), deck, {"--manifest", "m.json", "--roll0", "0.05"});
  ASSERT_EQ(r.status, 0) << r.out;
  const json m = json::parse(slurp(tmp.path() / "m.json"));
  expect_schema(m);
  expect_matches_report(m, r.out);
  expect_sizes(m, tmp.path());
  EXPECT_EQ(m.at("arguments"), json::parse(R"(["--manifest", "m.json", "--roll0", "0.05"])"));
  EXPECT_EQ(m.at("options").at("roll0"), 0.05);
  EXPECT_EQ(m.at("deck").at("roll0"), 0.0) << "the deck as read, not as overridden";
  const double roll = m.at("regression").at("roll");
  const double bias = m.at("regression").at("bias");
  // More than the report's two decimals: not a rounded value.
  EXPECT_NE(std::round(roll * 100) / 100, roll);
  EXPECT_NE(std::round(bias * 100) / 100, bias);
  // The least-squares line through the cross profiles written (to 0.01 m)
  // agrees with it closely.
  double n = 0, sx = 0, sxx = 0, sz = 0, sxz = 0;
  std::istringstream cal(slurp(tmp.path() / "scan.cal"));
  for (double x, z; cal >> x >> z;) {
    n += 1;
    sx += x;
    sxx += x * x;
    sz += z;
    sxz += x * z;
  }
  ASSERT_EQ(n, m.at("regression").at("points").get<double>());
  const double det = sxx * n - sx * sx;
  EXPECT_NEAR(bias, (sxx * sz - sx * sxz) / det, 1e-3);
  EXPECT_NEAR(roll, -(n * sxz - sx * sz) / det * 57.29577951289617, 1e-3);
}

// Files beside the run that a manifest must not replace, and a manifest that
// can't be written: the run's files stay as they were.
TEST(Manifest, NeverReplacesAnotherFileOfTheRun) {
  TempDir tmp("manifest-clash");
  simulate(tmp.path(), "--duration 1 --nmeas 30 --text-points");
  const std::string deck = slurp(tmp.path() / "deck.txt");
  const auto before = files_in(tmp.path());
  struct Case {
    const char* what;
    std::string deck, manifest;
    int status;
    const char* report_starts;  // the report's last line
  };
  const std::vector<Case> cases = {
      {"the scanner file", deck, "flight.2dd", 1, " *** file clash: --manifest 'flight.2dd'"},
      {"the centre file", deck, "centre.txt", 1, " *** file clash: --manifest 'centre.txt'"},
      {"the scanner file of a deck cut short", lines_of(deck).at(0) + "\n", "flight.2dd", 1,
       " *** input error: the deck ends before name line 2"},
      {"in a missing directory", deck, "no/such/m.json", 1, " *** open error: 'no/such/m.json'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Result r = run_beamfall(tmp.path(), c.deck, {"--manifest", c.manifest});
    EXPECT_EQ(r.status, c.status);
    ASSERT_FALSE(lines_of(r.out).empty());
    EXPECT_EQ(lines_of(r.out).back().rfind(c.report_starts, 0), 0u) << r.out;
    EXPECT_EQ(files_in(tmp.path()), before) << "a file changed or was left behind";
  }
}

// An existing manifest is replaced by a new file put in its place, never
// rewritten in place; no temporary file is left.
TEST(Manifest, ReplacedWhole) {
  TempDir tmp("manifest-replace");
  simulate(tmp.path(), "--duration 1 --nmeas 30 --text-points");
  const std::string deck = slurp(tmp.path() / "deck.txt");
  spit(tmp.path() / "m.json", "old manifest\n");
  fs::create_hard_link(tmp.path() / "m.json", tmp.path() / "kept.json");
  ::umask(022);
  const Result r = run_beamfall(tmp.path(), deck, {"--manifest=m.json"});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(json::parse(slurp(tmp.path() / "m.json")).at("status"), 0);
  EXPECT_EQ(slurp(tmp.path() / "kept.json"), "old manifest\n") << "rewritten in place";
  struct stat st {};
  ASSERT_EQ(::stat((tmp.path() / "m.json").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  for (const auto& e : fs::directory_iterator(tmp.path()))
    EXPECT_EQ(e.path().filename().string().find("m.json."), std::string::npos)
        << e.path() << " left behind";
}

// SIGTERM during the scanner loop: the run stops cleanly and its manifest
// tells the interrupt, the trajectory read and no summary.
TEST(Manifest, WrittenWhenInterrupted) {
  TempDir tmp("manifest-interrupt");
  simulate(tmp.path(), "--duration 240 --nmeas 208 --scan-rate 20");
  const fs::path deck = tmp.path() / "deck.txt", out = beside(tmp.path(), ".report"),
                 err = beside(tmp.path(), ".err");
  const pid_t pid = start_beamfall(tmp.path(), {"--manifest", "m.json"}, deck, out, err);
  bool grew = false;
  for (int k = 0; k < 3000 && !grew; ++k) {
    std::error_code ec;
    grew = fs::file_size(tmp.path() / "points.bin", ec) > 0 && !ec;
    if (!grew) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid, SIGTERM);
  const int status = wait_status(pid);
  ASSERT_TRUE(grew) << "the point file never grew";
  ASSERT_EQ(status, 143) << "0 means the run ended before the signal: lengthen the flight";
  const std::string report = slurp(out);
  const json m = json::parse(slurp(tmp.path() / "m.json"));
  expect_schema(m);
  EXPECT_EQ(m.at("status"), 143);
  EXPECT_EQ(m.at("signal"), 15);
  EXPECT_EQ(report_stop_line(m), lines_of(report).back());
  EXPECT_EQ(m.at("stop"), "*** interrupted by signal 15 (SIGTERM)");
  EXPECT_EQ(slurp(err), "beamfall: *** interrupted by signal 15 (SIGTERM)\n");
  EXPECT_TRUE(m.at("outputs_written").get<bool>());
  EXPECT_FALSE(m.at("trajectory").is_null());
  expect_matches_report(m, report);
  expect_sizes(m, tmp.path());
  fs::remove(out);
  fs::remove(err);
}

}  // namespace
}  // namespace bftest
