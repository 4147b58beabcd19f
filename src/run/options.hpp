// Command-line options. Without them the deck is the whole processing
// configuration; most add a product (a LAS file, the manifest, progress) or the
// rigorous geometry, and --roll0, --boresight and --range-offset override what
// the deck says.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>

#include "georef/geolocate.hpp"

namespace bf {

struct CalendarDate {
  int year = 0, month = 0, day = 0;
};

// The scale of the trajectory's times.
enum class TimeScale { gps, utc };

// The noise model of each point's uncertainty, as given (one standard
// deviation each). Either none of it or --sigma-range with the position and
// attitude (--sigma-position and --sigma-attitude, or --sigma-trajectory).
struct NoiseOptions {
  std::optional<std::array<double, 2>> position;  // metres: each horizontal axis, vertical
  std::optional<std::array<double, 3>> attitude;  // degrees: roll, pitch, heading
  std::optional<double> range;                    // metres
  std::optional<double> angle;                    // gon, the scan-angle encoder
  std::optional<double> lever;                    // metres, each axis of the lever arm
  std::optional<double> divergence;               // mrad, the beam's full divergence
  std::string trajectory;  // --sigma-trajectory: per-epoch sigmas; empty: none

  // True when any of it is given: the points then carry their uncertainty.
  bool given() const {
    return position || attitude || range || angle || lever || divergence || !trajectory.empty();
  }
};

struct RunOptions {
  std::string las_file;  // empty: no LAS file
  std::uint16_t line_id = 1;
  std::optional<CalendarDate> date;  // the day t0 counts from
  TimeScale time_scale = TimeScale::gps;
  std::string vertical_crs;  // "EPSG:5773" and the like; empty: named after the geoid grid
  bool rigorous = false;
  bool progress = true;                // only ever drawn when standard error is a terminal
  std::optional<Boresight> boresight;  // the scanner's rotation from the body axes
  double range_offset = 0;             // metres added to every range as read
  bool range_offset_given = false;     // --range-offset was given (0 or not)
  std::optional<double> roll0;         // --roll0: replaces the deck's roll0, degrees
  std::string manifest;                // --manifest: the run's JSON record; empty: none
  NoiseOptions noise;
  std::string calibration;  // --calibration: calibration.json to apply; empty: none
  int threads = 0;                     // --threads; 0: the cores the process may use
};

// A command line that can't be used: printed on standard error, exit status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class OptionAction { run, help, version, list_files };

struct ParsedOptions {
  OptionAction action = OptionAction::run;
  RunOptions options;
};

// The arguments after the program name; throws UsageError.
ParsedOptions parse_options(std::span<const char* const> args);

// The checks that need the deck or several options together: a LAS file and
// the noise model hold coordinates, which profile mode does not produce; the
// noise model is whole and has its LAS file. Throws UsageError.
void check_options_for_mode(const RunOptions& options, bool useatt);

const char* usage_text();
std::string version_text();

}  // namespace bf
