// The run described as JSON for programs: the deck's files and values
// (--list-files), and the record of a whole run (--manifest).
//
// --list-files prints one object:
//   "format": "beamfall-files", "version": 1,
//   "deck":    every deck value as read, by its name: scanname, gpsname,
//              geoidname, ptname, cenname (name fields without trailing
//              blanks, "0" for none), hh, mm, ss, tstart, tend, latmin,
//              latmax, lonmin, lonmax, naver, nthin, bin2dd, binout, gpsatt,
//              calib, useatt, dx, dy, dz, pitch0, roll0, heading0, amin, ilo,
//              ihi, rmin,
//   "options": las, line_id, date, time_scale, vertical_crs, rigorous,
//              progress, roll0, boresight, range_offset, manifest, and from
//              version 3 calibration, sigma_position, sigma_attitude,
//              sigma_trajectory, sigma_range, sigma_angle, sigma_lever,
//              beam_divergence (null when not given),
//   "inputs", "outputs": arrays of {"role", "name", "path"}: role one of
//              scanner, trajectory, geoid / points, centre, cross_profiles,
//              las, manifest; name as given; path resolved and absolute.
//              An output is listed only when the run writes it.
//
// --manifest writes one object:
//   "format": "beamfall-manifest", "version": 3,
//   "program": {"name", "version"}, "arguments": the command line's words,
//   "options": as above,
//   "deck": as above, null when the deck could not be read whole,
//   "inputs", "outputs": as above with "size", bytes after the run (null
//              when the name is not a regular file); the manifest's own
//              entry has size null,
//   "trajectory": {"samples", "min_spacing", "max_spacing", "min_speed",
//              "max_speed"} once the trajectory is read, else null,
//   "summary": {"scans_read", "scans_skipped", "points_output", "range_min",
//              "range_max", "flight_height_min", "flight_height_max",
//              "aircraft_lat_min", "aircraft_lat_max", "aircraft_lon_min",
//              "aircraft_lon_max", "rejected": {"amplitude", "scan_angle",
//              "range"}} when the run reached its summary, else null,
//   "regression": {"points", "bias", "roll"} with cross profiles, at full
//              precision (metres, degrees), else null,
//   "status": the exit status, "stop": the stop line's text, or the reason
//              of a run with no usable input ("*** no usable input: ..."),
//              else null,
//   "signal": the signal that interrupted the run or null,
//   "elapsed_seconds",
//   "outputs_written" (from version 2): whether the run created its
//              outputs; false when it ended before (the files named hold what
//              they held before the run, if they exist),
//   "uncertainty" (from version 3): with the noise model, {"points",
//              "sigma_horizontal", "sigma_vertical": {"p5", "p50", "p95"}
//              metres, of the whole millimetres the LAS file holds,
//              "calibration_covariance": 4 x 4 (boresight roll, pitch,
//              heading in radians, range offset in metres) or null}, else
//              null.
// Numbers are the values the report prints, before its rounding. Later
// versions only add fields.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "input/trajectory.hpp"
#include "output/calib.hpp"
#include "pipeline/pipeline.hpp"
#include "run/files.hpp"
#include "run/options.hpp"
#include "run/runpar.hpp"

namespace bf {

// The figures of the run summary, as print_summary receives them.
struct SummaryFigures {
  std::int64_t nscans = 0, nskip = 0;
  RunStats stats;
  CrossSums sums;
};

// The points' sigmas as written to the LAS file.
struct SigmaRecord {
  MillimetreHistogram histogram[2];  // horizontal, vertical
  BoresightCovariance calibration_covariance;
};

// What a run leaves for its manifest, gathered as it goes.
struct RunRecord {
  RunPar deck;  // the deck as read (as far as it was read)
  bool deck_read = false;
  std::optional<std::int32_t> ngps;
  TrajectoryStats trajectory;
  std::optional<SummaryFigures> summary;
  bool outputs_written = false;      // the run went on to create its outputs
  std::optional<SigmaRecord> sigma;  // with the noise model, once the LAS file is closed
};

// How a run ended.
struct RunOutcome {
  int status = 0;
  std::string stop;  // the stop line's text, empty when none
  int signal = 0;    // the interrupting signal, 0 when none
};

// The --list-files document for a deck read whole.
std::string list_files_json(const RunPar& deck, const RunOptions& options);

struct ManifestRun {
  std::span<const char* const> args;
  const RunOptions& options;
  const RunRecord& record;
  RunOutcome outcome;
  double elapsed_seconds = 0;
};

// The --manifest document; the files' sizes are taken now.
std::string manifest_json(const ManifestRun& run);

}  // namespace bf
