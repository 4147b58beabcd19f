// How well the lines agree: in each tie patch, each line's points against
// the plane fitted to another line's points (point to plane), with given
// sensor parameters. Points the solver found gross are left out, and so are
// points where the plane's own error exceeds a point's noise (a line whose
// points lie along one scan line says little of the plane across it).
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "flight_lines.hpp"
#include "patches.hpp"
#include "sensor.hpp"

namespace bfcal {

struct PairMisfit {
  int a = 0, b = 0;  // line indices, a < b
  double rms = 0;    // metres
  std::int64_t n = 0;
};

struct Misfit {
  double rms = 0;  // over every pair's distances, metres
  std::int64_t n = 0;
  std::vector<PairMisfit> pairs;
  std::vector<double> patch_rms;  // per patch (NaN where no pair)
  std::vector<double> distances;  // every distance, for histograms
};

// gross[i][k]: point k of patch i is left out.
Misfit misfit(const std::vector<Line>& lines, const std::vector<Patch>& patches,
              const std::vector<std::vector<bool>>& gross, const Params& p);

// What the noise about the planes (`noise`, metres) alone leaves of the misfit, metres: a
// point against the plane fitted to n points of another line misses it by its noise and by
// the plane's own error, 3 / n of the noise's variance on average over the patch; and the
// noise measured about a plane that N points share is short of theirs by 3 / N of its
// variance. Averaged over the tie patches as the misfit counts their distances.
double misfit_from_noise(const std::vector<Patch>& patches, double noise);

// A control point's surveyed height minus the lines' surface there (the plane fitted to its
// patch's points, gross ones left out), metres; NaN where no plane could be fitted. A control
// point far off while the others agree is likely surveyed or typed wrong. One that no patch
// could hold is listed unused, with the reason.
struct ControlResidual {
  ControlPoint point;  // its sigma the one solved with
  double residual = NAN;
  bool used = true;
  std::string reason;
};

// The control points of the patches, with the standard deviations solved with (`sigma`, per
// patch and control point), and the unused ones, by row.
std::vector<ControlResidual> control_residuals(const std::vector<Line>& lines,
                                               const std::vector<Patch>& patches,
                                               const std::vector<std::vector<bool>>& gross,
                                               const Params& p,
                                               const std::vector<std::vector<double>>& sigma,
                                               const std::vector<UnusedControl>& unused);

}  // namespace bfcal
