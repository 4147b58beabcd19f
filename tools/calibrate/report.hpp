// The calibration's products: calibration.json, calibration.html and the
// table on standard output with the command that applies the result.
#pragma once

#include <string>
#include <vector>

#include "flight_lines.hpp"
#include "misfit.hpp"
#include "patches.hpp"
#include "sampling.hpp"
#include "solver.hpp"

namespace bfcal {

struct Results {
  std::string dir;  // as the user named it
  std::vector<Line> lines;
  std::vector<Patch> patches;
  PatchReport patch_report;
  Solution solution;
  Misfit before, after;
  std::vector<ControlResidual> control_after;  // with the estimated values, by row
  int control_points = 0;
  int tie_patches = 0;                 // patches two or more lines measured
  std::vector<SamplingMiss> sampling;  // per line
  std::vector<std::string> warnings;
  double seconds = 0;
};

// `beamfall-campaign run DIR --rigorous --boresight R,P,H --range-offset M --force`,
// DIR quoted for the shell when it needs it; parameters not observable as 0.
std::string apply_command(const Results& r);

std::string calibration_json(const Results& r);
std::string calibration_html(const Results& r);
std::string stdout_table(const Results& r);

// Writes each file under a temporary name in its folder and then renames
// them all: a failure leaves none of them half written.
void write_files_atomically(const std::vector<std::pair<std::string, std::string>>& files);

}  // namespace bfcal
