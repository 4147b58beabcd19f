// The boresight and range offset that make the lines agree: every tie point
// on its patch's plane (one plane a patch, shared by every line that measured
// it), every control point on its patch's plane, solved with Ceres Solver
// under a robust loss. Each evaluation re-georeferences the points with the
// current parameters through the core's geolocation.
//
// Standard errors: the formal ones from the normal matrix (ceres::Covariance)
// count every tie point as an independent measurement, but the points of a
// line near one time share its trajectory's errors. So the solution is also
// resampled: each line's points are cut into blocks of time, the blocks dealt
// into groups, and the solution found again with each group left out (a
// delete-a-group jackknife). The spread of those solutions is the empirical
// standard error; the larger of the two is the one reported. Against control
// points the ties are weighted by what they are worth: by the inverse of the
// largest ratio of empirical to formal variance.
#pragma once

#include <array>
#include <cmath>
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
  // Resampling: each line's points are cut into blocks of about this many
  // seconds (two at least), dealt into at most `resamples` groups.
  double block_seconds = 20;
  int resamples = 12;
};

struct ParamResult {
  bool solved = false;           // asked for by --solve
  bool observable = false;       // solved and determined
  double value = 0;              // as passed to beamfall (0 when not observable)
  double sigma = 0;              // the larger of the two below
  double sigma_formal = 0;       // from the normal matrix, with the weights solved with
  double sigma_empirical = NAN;  // from resampling blocks of time (NaN: not resampled)
  // The empirical standard error over the formal one with every tie point counted as
  // independent: well above 1, the points' errors are correlated.
  double resampling_ratio = NAN;
  std::string reason;  // why not observable
};

// The control points as a group against the lines' surface (heights minus the surface).
struct ControlCheck {
  int used = 0;                    // control points in the solution
  double offset = NAN;             // their weighted mean at the values found, metres
  double offset_sigma = NAN;       // its standard error from the control points' own
  double ties_offset = NAN;        // the same against the surface the ties alone give
  double ties_offset_sigma = NAN;  // its standard error, ties' and control points' together
  double estimated_sigma = NAN;    // of a row without one, from the points' agreement
  int estimated_from = 0;          // rows it was estimated from
};

struct Solution {
  Params values{};
  std::array<ParamResult, kParams> params;
  std::array<std::array<double, kParams>, kParams> correlation{};  // observable ones only
  double noise = 0;      // robust standard deviation of the points about their planes, metres
  double condition = 0;  // of the solved parameters' correlation matrix
  // Every tie point's weight against the control points: 1 over the largest ratio of
  // empirical to formal variance (1 without control points, where it would change nothing).
  double tie_weight = 1;
  int resamples = 0;                               // solutions of the resampling
  std::vector<std::vector<double>> control_sigma;  // per patch and control point, metres
  ControlCheck control;
  std::vector<std::vector<bool>> gross;  // per patch and point: left out of the misfit figures
  int iterations = 0;
};

// Progress: a short description of the step.
using SolveProgress = std::function<void(const std::string&)>;

Solution solve(const std::vector<Line>& lines, const std::vector<Patch>& patches,
               const SolveSettings& settings, const SolveProgress& progress = {});

}  // namespace bfcal
