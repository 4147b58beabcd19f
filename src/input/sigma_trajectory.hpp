// The sigma trajectory file: the navigation solution's own accuracy, epoch by
// epoch, on the trajectory file's time scale. Text, one epoch a line, seven
// values separated by blanks (tabs and commas are read too):
//
//   time  sigma_north sigma_east sigma_down  sigma_roll sigma_pitch sigma_heading
//
// decimal hours; metres; degrees; each sigma one standard deviation, 0 or more.
// Times increase strictly. Values after the seventh on a line are ignored.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "textio/freeread.hpp"
#include "textio/outfile.hpp"
#include "textio/wholefile.hpp"

namespace bf {

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

// Reads every epoch of the file. `source` names it in messages. Input error
// (Stop) naming the file and line for a line without seven numbers, a
// negative sigma, a time not after the one before, and a file without epochs.
std::vector<SigmaEpoch> load_sigma_trajectory(FreeReader& in, const std::string& source);

}  // namespace bf
