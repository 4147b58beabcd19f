// The calibration's own doubts, in words: the warnings of calibration.json,
// of the page's top and of the table beside the apply command. None of them
// changes the exit status.
#pragma once

#include <string>
#include <vector>

#include "report.hpp"

namespace bfcal {

// The misfit after, over what the noise about the planes leaves of it, beyond which the lines
// still disagree.
constexpr double kMisfitRatio = 1.5;
// Empirical over formal standard error beyond which the points' errors are correlated.
constexpr double kResamplingRatio = 2;
// Control points off the surface as a group, and against the ties: in standard errors.
constexpr double kControlSigmas = 3;
// What interpolating the trajectory may miss at the swath edge (RMS) before it biases the
// values: the RMS, not the largest, so that the white part of a navigation solution's noise,
// which the second differences also see, does not pass for motion missed.
constexpr double kSamplingMiss = 0.001;  // metres

std::vector<std::string> diagnose(const Results& r);

}  // namespace bfcal
