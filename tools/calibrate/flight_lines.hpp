// A campaign's flight lines as the calibration reads them: each line's deck
// and inputs through the core's session, and its accepted measurements with
// the aircraft's state at their times.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "run/session.hpp"

namespace bfcal {

// The line folders of a campaign: sub-folders holding a `deck`, in byte order
// of their names. A line whose last campaign run failed is refused (Stop).
std::vector<std::string> campaign_lines(const std::filesystem::path& dir);

// One measurement that passed the deck's rejection limits and area window:
// the range as read (metres, no offset), the beam angle (gon), its time
// (decimal hours on the trajectory's time scale) and the aircraft's state at
// that time, the deck's misalignment angles added.
struct RawMeasurement {
  double range = 0;
  double angle = 0;
  double thr = 0;
  bf::AircraftState state;
};

// A line's deck and what georeferencing its measurements needs besides them.
struct Line {
  std::string name;                            // folder name
  std::filesystem::path folder;                // the deck's file names are relative to it
  bf::RunParameters run;                       // the deck finished as beamfall finishes it
  std::shared_ptr<const bf::GeoidGrid> geoid;  // null without a geoid grid
  std::int64_t scanner_bytes = 0;              // the scanner file's size
  std::int64_t measurements_at_most = 0;       // what the scanner file can hold

  const bf::RunPar& par() const { return run.par; }
  bf::LeverArm arm() const { return run.lever_arm(); }
};

// Reads the line's deck and its geoid grid; the scanner and trajectory files
// are read by each pass. Stops with a message naming the line when the deck
// or a file can't be read or the deck is in profile mode (no attitude).
Line open_line(const std::filesystem::path& dir, const std::string& name);

// Calls `use` with the line's trajectory samples over its deck's time window,
// read by the core's reader. Stops (bf::Stop) with the line's name on a read
// error.
void with_trajectory(const Line& line, const std::function<void(const bf::TrajectoryTable&)>& use);

// Reads the line's trajectory and scanner file and calls `take` for every
// `stride`-th measurement the scanner file delivers in the time window, when
// it is accepted, in file order: the run's own gate. `progress(bytes_read)`
// is called now and then. Stops (bf::Stop) with the line's name on a read
// error.
void for_each_measurement(const Line& line, std::int64_t stride,
                          const std::function<void(const RawMeasurement&)>& take,
                          const std::function<void(std::int64_t)>& progress = {});

}  // namespace bfcal
