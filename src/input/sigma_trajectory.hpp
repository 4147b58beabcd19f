// The sigma trajectory file: the navigation solution's own accuracy, epoch by
// epoch, on the trajectory file's time scale. Text, one epoch a line, seven
// values separated by blanks (tabs and commas are read too):
//
//   time  sigma_north sigma_east sigma_down  sigma_roll sigma_pitch sigma_heading
//
// decimal hours; metres; degrees; each sigma one standard deviation, 0 or more.
// Times increase strictly. Values after the seventh on a line are ignored.
#pragma once

#include <string>
#include <vector>

#include "input/trajectory_writers.hpp"
#include "textio/freeread.hpp"

namespace bf {

// Reads every epoch of the file. `source` names it in messages. Input error
// (Stop) naming the file and line for a line without seven numbers, a
// negative sigma, a time not after the one before, and a file without epochs.
std::vector<SigmaEpoch> load_sigma_trajectory(FreeReader& in, const std::string& source);

}  // namespace bf
