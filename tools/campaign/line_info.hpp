// What the summary knows of one flight line: its record (written by the campaign's task
// after the line finished), beamfall's manifest of the run kept in it, and its centre track.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "campaign/folder/record.hpp"
#include "kit/gridder.hpp"
#include "kit/manifest.hpp"
#include "line_task.hpp"
#include "overlap.hpp"

namespace campaign {

// A line that failed (line_failure) keeps the counts of its manifest (scans, points,
// rejections); its figures (centre track, flight heights, ranges, regression) are left missing,
// and it has no points to read: a run without data has none of them, only placeholders.
struct LineInfo {
  std::string name;  // folder name
  std::optional<LineRecord> record;
  Failure failure = Failure::none;  // none also when the line never ran
  std::optional<kit::Manifest> manifest;
  kit::ManifestSummary summary;        // every figure missing (NaN, -1) without one
  double bias = 0.0, roll = 0.0;       // regression, full precision; NaN without one
  double roll0 = 0.0;                  // degrees: the roll0 the line ran with; NaN when unknown
  double t_first = 0.0, t_last = 0.0;  // centre track, decimal hours
  std::vector<double> track_lat, track_lon;  // centre track, degrees
  std::string points_file;                   // path, empty when the line has no points to read
  bool las_points = false;  // points_file is the LAS file (the deck writes no point file)
  bool binary_points = true, averaged = false;

  bool succeeded() const { return record && failure == Failure::none; }
};

// Everything above for the line folder `dir/name`; missing parts leave their fields unset.
LineInfo read_line(const std::string& dir, const std::string& name);

// "ok", "failed (N)" (N the exit status), "failed (no points)" or "not run".
std::string status_text(const LineInfo& l);

// The common projection's origin: the mean of every centre-track point of the lines that
// succeeded (degrees). False when there is none.
bool campaign_centre(const std::vector<LineInfo>& lines, double& lat0, double& lon0);

// The line's points in the common projection (x east, y north, metres) and their heights, a
// block at a time, the same on every pass: what the cross-line check grids.
kit::GridSource point_source(const LineInfo& l, const LocalProjection& proj);

}  // namespace campaign
