// The boresight and range offset that make the lines agree: every tie point
// on its patch's plane (one plane a patch, shared by every line that measured
// it), every control point on its patch's plane, solved with Ceres Solver
// under a robust loss. Each evaluation re-georeferences the points with the
// current parameters through the core's geolocation.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "flight_lines.hpp"
#include "patches.hpp"
#include "sensor.hpp"

namespace bfcal {

struct SolveSettings {
  std::array<bool, kParams> solve{true, true, true, true};
  // A parameter whose standard error exceeds its limit is reported as not
  // observable (degrees, degrees, degrees, metres).
  std::array<double, kParams> sigma_limit{0.01, 0.03, 0.05, 0.03};
  int threads = 2;
};

struct ParamResult {
  bool solved = false;      // asked for by --solve
  bool observable = false;  // solved and determined
  double value = 0;         // as passed to beamfall (0 when not observable)
  double sigma = 0;
  std::string reason;  // why not observable
};

struct Solution {
  Params values{};
  std::array<ParamResult, kParams> params;
  std::array<std::array<double, kParams>, kParams> correlation{};  // observable ones only
  double noise = 0;      // robust standard deviation of the points about their planes, metres
  double condition = 0;  // of the solved parameters' correlation matrix
  std::vector<std::vector<bool>> gross;  // per patch and point: left out of the misfit figures
  int iterations = 0;
};

// Progress: a short description of the step.
using SolveProgress = std::function<void(const std::string&)>;

Solution solve(const std::vector<Line>& lines, const std::vector<Patch>& patches,
               const SolveSettings& settings, const SolveProgress& progress = {});

}  // namespace bfcal
