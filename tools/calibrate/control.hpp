// The control file: one known point a row, "latitude,longitude,height"
// (degrees, degrees, metres in the decks' height system) and optionally its
// height's standard deviation in metres. A first row of names, blank rows and
// rows starting with '#' are passed over.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "patches.hpp"

namespace bfcal {

// The standard deviation of a control height when its row gives none, metres, until the
// calibration measures it from the agreement of such rows (kControlsToEstimate of them or
// more), which may give no less than kControlSigmaFloor.
constexpr double kControlSigma = 0.01;
constexpr double kControlSigmaFloor = 0.002;
constexpr int kControlsToEstimate = 5;

// Stops (bf::Stop) with the file, row and fault on a row that is not three or
// four numbers, a latitude or longitude out of range or a sigma that is not
// positive.
std::vector<ControlPoint> parse_control(std::string_view text, const std::string& source);
std::vector<ControlPoint> read_control(const std::string& file);

}  // namespace bfcal
