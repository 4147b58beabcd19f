// The boresight and range offset that make the lines agree: every tie point
// on its patch's plane (one plane a patch, shared by every line that measured
// it), every control point on its patch's plane, solved with Ceres Solver
// under a robust loss. Each evaluation re-georeferences the points with the
// current parameters through the core's geolocation.
//
// Standard errors: the formal ones from the normal matrix (ceres::Covariance)
// count every tie point as an independent measurement, but the points of a
// line near one time share its trajectory's errors. So the solution is also
// resampled (resampling.hpp): the spread of the solutions with each group of
// blocks of time left out is the empirical standard error; the larger of the
// two is the one reported.
//
// With control points, the ties count for what they are worth: they are
// summarised by their own solution and the larger of their formal and
// resampled covariances (as matrices: each direction of the parameters its
// own), and that summary is solved together with the patches of the control
// points, each control point against its plane less the offset of the line
// block over it (the lines' surfaces float by what the misfit shows beyond
// the noise). So control points that agree set the range offset where the
// ties cannot, and the ties keep the angles they see far better.
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
  // The ties' resampled standard error over their formal one: well above 1, the points'
  // errors are correlated.
  double resampling_ratio = NAN;
  std::string reason;  // why not observable
};

// The control points as a group, and the ties alone against them.
struct ControlCheck {
  int used = 0;                  // control points in the solution
  double offset = NAN;           // their weighted mean height minus the lines' surface, metres
  double offset_sigma = NAN;     // its standard error: their own and their line blocks' floats
  double estimated_sigma = NAN;  // of a row without one, from the points' agreement
  int estimated_from = 0;        // rows it was estimated from
  // How far a line's surface floats from the others' beyond the noise, metres: each block of
  // a line under control points may be off by this much (from the misfit the noise leaves).
  double line_sigma = 0;
  // The ties' own values, their standard errors (the larger of formal and resampled), and
  // their difference from the values found with the control points over its standard error,
  // before the ties' variance was widened to it.
  std::array<double, kParams> ties_value{NAN, NAN, NAN, NAN};
  std::array<double, kParams> ties_sigma{NAN, NAN, NAN, NAN};
  std::array<double, kParams> disagreement{NAN, NAN, NAN, NAN};
};

// One minimisation of the solution, as Ceres Solver reports it (calibration.json's
// "solver_stages").
struct StageSummary {
  std::string stage;        // "solving (wide loss)", ...
  std::string loss;         // "huber" or "cauchy"
  double scale_m = 0;       // the loss's scale, metres
  int residuals = 0;        // residual blocks: tie and control points, priors
  int iterations = 0;       // Ceres's iterations, the first (iteration 0) included
  double initial_cost = 0;  // half the sum of the squared robust residuals, in noise units
  double final_cost = 0;
  std::string termination;  // CONVERGENCE, NO_CONVERGENCE, USER_SUCCESS, ...
};

struct Solution {
  Params values{};
  std::array<ParamResult, kParams> params;
  std::array<std::array<double, kParams>, kParams> correlation{};  // observable ones only
  double noise = 0;      // robust standard deviation of the points about their planes, metres
  double condition = 0;  // of the solved parameters' correlation matrix
  int resamples = 0;     // solutions of the resampling
  std::vector<std::vector<double>> control_sigma;  // per patch and control point, metres
  ControlCheck control;
  std::vector<std::vector<bool>> gross;  // per patch and point: left out of the misfit figures
  int iterations = 0;
  std::vector<StageSummary> stages;  // in the order they ran
};

// Progress: a short description of the step.
using SolveProgress = std::function<void(const std::string&)>;

Solution solve(const std::vector<Line>& lines, const std::vector<Patch>& patches,
               const SolveSettings& settings, const SolveProgress& progress = {});

}  // namespace bfcal
