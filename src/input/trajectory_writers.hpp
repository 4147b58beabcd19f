// The trajectory files as a program that makes them writes them: the
// trajectory file with attitude, one sample a line, and the sigma trajectory
// file of its accuracy, one epoch a line (input/trajectory.hpp and
// input/sigma_trajectory.hpp read them). Each is written to a temporary file
// beside its name and put in place whole by commit().
#pragma once

#include <cstddef>
#include <string>

#include "textio/outfile.hpp"
#include "textio/wholefile.hpp"

namespace bf {

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

struct SigmaEpoch {
  double time = 0;                          // decimal hours
  double north = 0, east = 0, down = 0;     // metres, 1 sigma
  double roll = 0, pitch = 0, heading = 0;  // degrees, 1 sigma
};

// The longest line put_sigma_line writes, its line end included.
inline constexpr std::size_t kSigmaLineMax = 104;

// Writes the epoch as one line, line end included, and returns the position
// after it. Columns F16.12 (time), F12.5 (north, east, down) and F15.10 (roll,
// pitch, heading), one blank apart. A value beyond its column (1e5 m, 1e4
// degrees) is written as asterisks, which the reader refuses.
char* put_sigma_line(char* out, const SigmaEpoch& e);

// A sigma trajectory file written epoch by epoch, put in place whole by
// commit() (as TrajectoryWriter).
class SigmaTrajectoryWriter {
 public:
  explicit SigmaTrajectoryWriter(const std::string& name);  // open error (Stop)
  void add(const SigmaEpoch& e) {
    OutFile& out = file_.out();
    out.commit(put_sigma_line(out.reserve(kSigmaLineMax), e));
  }
  void commit() { file_.commit(); }  // write error (Stop)

 private:
  StreamedWholeFile file_;
};

}  // namespace bf
