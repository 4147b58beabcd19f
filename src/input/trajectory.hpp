// The trajectory file: its table of GPS positions and attitude over the
// processing window, read here (its writer: input/trajectory_writers.hpp).
#pragma once

#include <cstdint>
#include <memory>

#include "textio/freeread.hpp"
#include "textio/outfile.hpp"

namespace bf {

// Parallel columns, entries 1 .. ngps (entry 0 is never filled). Capacity
// nmax entries; the entry after the last accepted sample receives the sample
// that ended the reading.
struct TrajectoryTable {
  static constexpr std::int32_t nmax = 488010;

  TrajectoryTable();

  std::unique_ptr<double[]> time;     // decimal hours
  std::unique_ptr<double[]> lat;      // degrees
  std::unique_ptr<double[]> lon;      // degrees
  std::unique_ptr<double[]> h;        // metres
  std::unique_ptr<double[]> pitch;    // degrees
  std::unique_ptr<double[]> roll;     // degrees
  std::unique_ptr<double[]> heading;  // degrees, -180 .. 180
  std::unique_ptr<float[]> vel;       // km/h over the interval ending here
  std::int32_t ngps = 0;
  std::int64_t nread = 0;  // whole samples read from the file, in the window or not
};

struct TrajectoryStats {
  double min_spacing = 9999.900390625;  // seconds; 9999.9 in single precision
  double max_spacing = 0;
  float min_speed = 9999.9f;  // km/h
  float max_speed = -9999.9f;
};

// Loads the samples whose time lies in tstart - 1 s .. tend + 1 s. `source`
// names the file in messages. Stops with "too many gps points - increase
// nmax" when the 488009th sample is accepted; an unreadable value, or a
// latitude beyond 90 degrees either way, is an input error naming the line;
// the end of the file ends the loading. nread counts the samples read.
void load_trajectory(FreeReader& in, const char* source, double tstart, double tend, bool gpsatt,
                     TrajectoryTable& table);

// Fills the speed column and returns the spacing and speed statistics.
TrajectoryStats compute_speeds(TrajectoryTable& table);

// The three report lines (an empty line, count and spacings, speeds).
void report_trajectory(OutFile& console, std::int32_t ngps, const TrajectoryStats& stats);

}  // namespace bf
