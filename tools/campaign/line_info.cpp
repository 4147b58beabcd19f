#include "line_info.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>

#include "run_files.hpp"

namespace campaign {

namespace fs = std::filesystem;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::vector<std::string> file_lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

}  // namespace

RunRecord read_run_record(const std::string& line_dir) {
  RunRecord r;
  const std::vector<std::string> lines = file_lines(line_dir + "/.campaign-record");
  if (lines.size() < 3 || lines[0] != "beamfall-campaign record 1") return r;
  r.present = std::sscanf(lines[1].c_str(), "status %d", &r.status) == 1 &&
              std::sscanf(lines[2].c_str(), "seconds %lf", &r.seconds) == 1;
  r.las = lines.size() > 3 && lines[3].rfind("options --las points.las ", 0) == 0;
  r.roll0_copy = lines.size() > 3 && lines[3].find(" roll0=") != std::string::npos;
  return r;
}

namespace {

std::string in_line(const std::string& line_dir, const std::string& name) {
  return !name.empty() && name[0] == '/' ? name : line_dir + "/" + name;
}

runfiles::Report missing_report() {
  runfiles::Report r;
  r.bias = r.roll = kNaN;
  r.range_min = r.range_max = r.elev_min = r.elev_max = kNaN;
  r.lat_min = r.lat_max = r.lon_min = r.lon_max = kNaN;
  return r;
}

void read_centre_track(const std::string& path, LineInfo& l) {
  runfiles::for_each_centre(path, [&](const runfiles::CentreRecord& c) {
    if (l.track_lat.empty()) l.t_first = c.thr;
    l.t_last = c.thr;
    l.track_lat.push_back(c.lat);
    l.track_lon.push_back(c.lon);
  });
}

}  // namespace

LineInfo read_line(const std::string& dir, const std::string& name) {
  LineInfo l;
  l.name = name;
  l.report = missing_report();
  l.t_first = l.t_last = kNaN;
  l.deck_roll0 = kNaN;
  const std::string line_dir = dir + "/" + name;
  l.record = read_run_record(line_dir);
  const std::string report = line_dir + "/report.txt";
  if (!l.record.present || !fs::exists(report)) return l;
  l.has_report = true;
  l.report = runfiles::read_report(report);
  try {
    // The copy made by run --roll0 differs from the deck only in roll0.
    const runfiles::Deck d =
        runfiles::read_deck(line_dir + (l.record.roll0_copy ? "/deck.roll0" : "/deck"));
    l.deck_roll0 = d.roll0;
    // In profile mode the position columns hold times and offsets: nothing to map.
    if (!d.useatt) return l;
    if (!d.centre.empty() && d.centre != "0" && fs::exists(in_line(line_dir, d.centre))) {
      read_centre_track(in_line(line_dir, d.centre), l);
    }
    if (!d.points.empty() && d.points != "0") {
      l.points_file = in_line(line_dir, d.points);
    } else if (l.record.las) {
      // Points written to the LAS file only; an older points.las without --las is stale.
      l.points_file = line_dir + "/points.las";
      l.las_points = true;
    }
    l.binary_points = d.binout;
    l.averaged = d.naver > 1;
  } catch (const std::exception&) {
    // A deck the readers cannot take leaves the line without track and points.
  }
  return l;
}

std::vector<std::string> list_lines(const std::string& dir) {
  std::vector<std::string> names;
  for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (name.empty() || name[0] == '.' || !e.is_directory()) continue;
    if (fs::is_regular_file(e.path() / "deck")) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string status_text(const LineInfo& l) {
  if (!l.record.present) return "not run";
  if (l.record.status == 0) return "ok";
  return "failed (" + std::to_string(l.record.status) + ")";
}

}  // namespace campaign
