#include "line_info.hpp"

#include <filesystem>
#include <limits>

#include "runfiles/run_files.hpp"

namespace campaign {

namespace fs = std::filesystem;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

kit::ManifestSummary missing_summary() {
  kit::ManifestSummary s;
  s.range_min = s.range_max = s.flight_height_min = s.flight_height_max = kNaN;
  return s;
}

void read_centre_track(const std::string& path, LineInfo& l) {
  runfiles::for_each_centre(path, [&](const runfiles::CentreRecord& c) {
    if (l.track_lat.empty()) l.t_first = c.thr;
    l.t_last = c.thr;
    l.track_lat.push_back(c.lat);
    l.track_lon.push_back(c.lon);
  });
}

// A file the run named, found from the line's folder (so a campaign folder may move).
std::string in_line(const std::string& line_dir, const std::string& name) {
  return !name.empty() && name[0] == '/' ? name : line_dir + "/" + name;
}

// The track and the points, from the files the manifest names.
void find_outputs(const kit::Manifest& m, const std::string& line_dir, LineInfo& l) {
  // In profile mode the position columns hold times and offsets: nothing to map.
  if (!m.deck || !m.deck->useatt) return;
  std::error_code ec;
  if (const kit::ManifestFile* centre = m.output("centre")) {
    const std::string path = in_line(line_dir, centre->name);
    if (fs::exists(path, ec)) read_centre_track(path, l);
  }
  if (const kit::ManifestFile* points = m.output("points")) {
    l.points_file = in_line(line_dir, points->name);
  } else if (const kit::ManifestFile* las = m.output("las")) {
    l.points_file = in_line(line_dir, las->name);
    l.las_points = true;
  }
  l.binary_points = m.deck->binout;
  l.averaged = m.deck->naver > 1;
}

// A failed line's counts only: the figures of a run without data are placeholders.
kit::ManifestSummary counts_only(const kit::ManifestSummary& s) {
  kit::ManifestSummary c = missing_summary();
  c.scans_read = s.scans_read;
  c.points_output = s.points_output;
  c.rejected_amplitude = s.rejected_amplitude;
  c.rejected_scan_angle = s.rejected_scan_angle;
  c.rejected_range = s.rejected_range;
  return c;
}

}  // namespace

LineInfo read_line(const std::string& dir, const std::string& name) {
  LineInfo l;
  l.name = name;
  l.summary = missing_summary();
  l.bias = l.roll = l.roll0 = l.t_first = l.t_last = kNaN;
  l.record = load_record(dir + "/" + name);
  if (!l.record) return l;
  l.failure = line_failure(*l.record);
  if (l.record->manifest.is_null()) return l;
  l.manifest = kit::manifest_from_json(l.record->manifest);
  if (!l.manifest) return l;
  if (l.failure != Failure::none) {
    if (l.manifest->summary) l.summary = counts_only(*l.manifest->summary);
    return l;
  }
  if (l.manifest->summary) l.summary = *l.manifest->summary;
  if (l.manifest->regression) {
    l.bias = l.manifest->regression->bias;
    l.roll = l.manifest->regression->roll;
  }
  l.roll0 = l.manifest->roll0_used();
  find_outputs(*l.manifest, dir + "/" + name, l);
  return l;
}

std::string status_text(const LineInfo& l) {
  if (!l.record) return "not run";
  switch (l.failure) {
    case Failure::none:
      return "ok";
    case Failure::exit_status:
      return "failed (" + std::to_string(l.record->status) + ")";
    case Failure::no_points:
      return "failed (no points)";
  }
  return "";
}

bool campaign_centre(const std::vector<LineInfo>& lines, double& lat0, double& lon0) {
  double slat = 0.0, slon = 0.0;
  std::size_t n = 0;
  for (const LineInfo& l : lines) {
    if (!l.succeeded()) continue;
    for (std::size_t k = 0; k < l.track_lat.size(); ++k) {
      slat += l.track_lat[k];
      slon += l.track_lon[k];
      ++n;
    }
  }
  if (n == 0) return false;
  lat0 = slat / static_cast<double>(n);
  lon0 = slon / static_cast<double>(n);
  return true;
}

kit::GridSource point_source(const LineInfo& l, const LocalProjection& proj) {
  return [&l, &proj](int, const kit::GridBatchFn& batch) {
    runfiles::for_each_lon_lat_height(
        l.points_file, l.las_points, l.binary_points, l.averaged,
        [&](std::vector<double>& lon, std::vector<double>& lat, std::vector<double>& h) {
          proj.forward(lon, lat);
          batch(lon, lat, h);
        });
  };
}

}  // namespace campaign
