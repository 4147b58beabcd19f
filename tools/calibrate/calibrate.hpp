// Boresight calibration of a campaign from its overlapping lines: the
// program `beamfall-calibrate DIR ...`, also `beamfall-campaign calibrate`.
#pragma once

#include <string>
#include <vector>

namespace bfcal {

// The arguments after the command; `prog` names it in messages. Returns the
// exit status: 0 done, 1 bad input or a failure (nothing written), 2 a usage
// error.
int calibrate_main(const std::vector<std::string>& args, const std::string& prog);

const char* calibrate_usage();

}  // namespace bfcal
