// The trajectory file: its table of GPS positions and attitude over the
// processing window, read here, and its writer for programs that make one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "textio/freeread.hpp"
#include "textio/outfile.hpp"
#include "textio/wholefile.hpp"

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

// One line of the trajectory file with attitude (gpsatt T), in the order read.
struct TrajectorySample {
  double time = 0;     // decimal hours
  double lat = 0;      // degrees
  double lon = 0;      // degrees
  double h = 0;        // metres
  double pitch = 0;    // degrees
  double roll = 0;     // degrees
  double heading = 0;  // degrees, -180 .. 180
};

// The longest line put_trajectory_line writes, its line end included.
inline constexpr std::size_t kTrajectoryLineMax = 109;

// Writes the sample as one line, line end included, and returns the position
// after it. Columns F16.12 (time), F14.10 (lat), F15.10 (lon), F12.5 (h) and
// F15.10 (pitch, roll, heading), one blank apart: 3.6 ns, 1e-10 degree and
// 0.01 mm, far below what the reading and the interpolation resolve. A value
// beyond its column (a time of 1000 h or more, a height of 1e5 m or more) is
// written as asterisks, which the reader refuses.
char* put_trajectory_line(char* out, const TrajectorySample& s);

// A trajectory file with attitude written sample by sample. It goes to a
// temporary file beside `name` and is put in place by commit(): a writer
// destroyed before that leaves no file, and an existing one untouched.
class TrajectoryWriter {
 public:
  explicit TrajectoryWriter(const std::string& name);  // open error (Stop)
  void add(const TrajectorySample& s) {
    OutFile& out = file_.out();
    out.commit(put_trajectory_line(out.reserve(kTrajectoryLineMax), s));
  }
  void commit() { file_.commit(); }  // write error (Stop)

 private:
  StreamedWholeFile file_;
};

}  // namespace bf
