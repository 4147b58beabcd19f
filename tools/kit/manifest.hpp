// beamfall's manifest of a run (`beamfall --manifest FILE`): the one reader the tools use
// for a run's results, so that none of them reads the human report. Only what the tools use
// is taken; later versions of the manifest only add fields.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace kit {

struct ManifestFile {
  std::string role;        // scanner, trajectory, geoid, points, centre, cross_profiles, las, ...
  std::string name;        // as the deck or option gives it
  std::string path;        // resolved, absolute
  std::int64_t size = -1;  // bytes after the run; -1 when not a regular file
};

// The deck as beamfall read it (the values the tools use).
struct ManifestDeck {
  std::string ptname, cenname;  // "0" for none
  std::int64_t naver = 1;
  bool binout = true, calib = true, useatt = true;
  double roll0 = 0.0;  // degrees
};

// Figures of the run summary; NaN or -1 where the manifest has none.
struct ManifestSummary {
  std::int64_t scans_read = -1, points_output = -1;
  double range_min = 0, range_max = 0;
  double flight_height_min = 0, flight_height_max = 0;  // metres
  double aircraft_lat_min = 0, aircraft_lat_max = 0;    // degrees
  double aircraft_lon_min = 0, aircraft_lon_max = 0;
  std::int64_t rejected_amplitude = -1, rejected_scan_angle = -1, rejected_range = -1;
};

struct ManifestRegression {
  std::int64_t points = -1;
  double bias = 0;  // metres, full precision; NaN when not determined
  double roll = 0;  // degrees: the roll left after the roll0 the run used
};

struct Manifest {
  int version = 0;
  int status = -1;
  std::string stop;                    // the stop line's text; empty when none
  std::optional<ManifestDeck> deck;    // absent when the deck could not be read whole
  std::optional<double> option_roll0;  // --roll0, degrees
  std::vector<ManifestFile> inputs, outputs;
  std::optional<ManifestSummary> summary;        // absent when the run stopped before it
  std::optional<ManifestRegression> regression;  // absent without cross profiles
  double elapsed_seconds = 0;

  // The roll0 the run used: --roll0, else the deck's; NaN when neither is known.
  double roll0_used() const;
  // The output with this role, or nothing.
  const ManifestFile* output(std::string_view role) const;
};

// The manifest in `text` (or in a parsed JSON value); nothing when it is not a manifest.
std::optional<Manifest> read_manifest(std::string_view text);
std::optional<Manifest> manifest_from_json(const nlohmann::json& j);

}  // namespace kit
