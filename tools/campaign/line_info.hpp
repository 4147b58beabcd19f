// What the summary knows of one flight line: its record (written by the campaign's task
// after the line finished), beamfall's manifest of the run kept in it, and its centre track.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "manifest.hpp"
#include "record.hpp"

namespace campaign {

struct LineInfo {
  std::string name;  // folder name
  std::optional<LineRecord> record;
  std::optional<bftools::Manifest> manifest;
  bftools::ManifestSummary summary;    // every figure missing (NaN, -1) without one
  double bias = 0.0, roll = 0.0;       // regression, full precision; NaN without one
  double roll0 = 0.0;                  // degrees: the roll0 the line ran with; NaN when unknown
  double t_first = 0.0, t_last = 0.0;  // centre track, decimal hours
  std::vector<double> track_lat, track_lon;  // centre track, degrees
  std::string points_file;                   // path, empty when the line has no points to read
  bool las_points = false;  // points_file is the LAS file (the deck writes no point file)
  bool binary_points = true, averaged = false;

  bool succeeded() const { return record && record->status == 0; }
};

// Everything above for the line folder `dir/name`; missing parts leave their fields unset.
LineInfo read_line(const std::string& dir, const std::string& name);

// "ok", "failed (N)" or "not run".
std::string status_text(const LineInfo& l);

}  // namespace campaign
