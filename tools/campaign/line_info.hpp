// What the summary knows of one flight line: its run record (written by the campaign's task
// after the line finished), its report, and its centre track.
#pragma once

#include <string>
#include <vector>

namespace campaign {

struct RunRecord {
  bool present = false;
  int status = -1;       // exit status of the line's task
  double seconds = 0.0;  // wall time of the task
};

// `.campaign-record` in the line folder; absent when the line never finished.
RunRecord read_run_record(const std::string& line_dir);

// Report fields the shared run-file readers do not give.
struct ReportExtras {
  double flight_h_min = 0.0, flight_h_max = 0.0;  // "min and max flight elevation", metres
  long long rej_amplitude = -1;                   // rejected: amplitude too low
  long long rej_index = -1;                       // rejected: index outside ilo ... ihi
  long long rej_range = -1;                       // rejected: range not above rmin
};

ReportExtras read_report_extras(const std::string& report_path);

struct LineInfo {
  std::string name;  // folder name
  RunRecord record;
  bool has_report = false;
  long long scans = -1, points = -1;
  double t_first = 0.0, t_last = 0.0;  // centre track, decimal hours
  double bias = 0.0, roll = 0.0;       // regression: metres, degrees (NaN when missing)
  ReportExtras extras;
  std::vector<double> track_lat, track_lon;  // centre track, degrees
  std::string points_file;                   // path, empty when the deck writes none
  bool binary_points = true, averaged = false;
};

// Everything above for the line folder `dir/name`; missing outputs leave their fields unset.
LineInfo read_line(const std::string& dir, const std::string& name);

// The line folders of a campaign (sub-folders holding a deck), in byte order of their names.
std::vector<std::string> list_lines(const std::string& dir);

std::string status_text(const LineInfo& l);

}  // namespace campaign
