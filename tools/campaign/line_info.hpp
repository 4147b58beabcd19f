// What the summary knows of one flight line: its run record (written by the campaign's task
// after the line finished), its report, and its centre track.
#pragma once

#include <string>
#include <vector>

#include "run_files.hpp"

namespace campaign {

struct RunRecord {
  bool present = false;
  int status = -1;          // exit status of the line's task
  double seconds = 0.0;     // wall time of the task
  bool las = false;         // the line wrote points.las
  bool roll0_copy = false;  // the line ran from deck.roll0 (run --roll0)
};

// `.campaign-record` in the line folder; absent when the line never finished.
RunRecord read_run_record(const std::string& line_dir);

struct LineInfo {
  std::string name;  // folder name
  RunRecord record;
  bool has_report = false;
  runfiles::Report report;  // every field missing (NaN, -1) without a report
  double deck_roll0 = 0.0;  // degrees: roll0 of the deck the line ran with; NaN when unread
  double t_first = 0.0, t_last = 0.0;        // centre track, decimal hours
  std::vector<double> track_lat, track_lon;  // centre track, degrees
  std::string points_file;                   // path, empty when the line has no points to read
  bool las_points = false;  // points_file is the LAS file (the deck writes no point file)
  bool binary_points = true, averaged = false;
};

// Everything above for the line folder `dir/name`; missing outputs leave their fields unset.
LineInfo read_line(const std::string& dir, const std::string& name);

// The line folders of a campaign (sub-folders holding a deck), in byte order of their names.
std::vector<std::string> list_lines(const std::string& dir);

std::string status_text(const LineInfo& l);

}  // namespace campaign
