#include "diagnosis.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace bfcal {
namespace {

std::string format(const char* f, double a, double b = 0, double c = 0, double d = 0) {
  char buf[1024];
  std::snprintf(buf, sizeof buf, f, a, b, c, d);
  return buf;
}

void unused_control(const Results& r, std::vector<std::string>& out) {
  for (const UnusedControl& u : r.patch_report.unused_control)
    out.push_back("control point on row " + std::to_string(u.point.row) +
                  " is not used: " + u.reason);
}

// What the noise alone leaves of the misfit, metres: a point against the plane fitted to n
// points of another line misses it by its noise and by the plane's own error, 3 / n of the
// noise's variance on average over the patch; and the noise measured about a plane that N
// points share is short of theirs by 3 / N of its variance. Averaged over the tie patches as
// the misfit counts their distances.
double misfit_from_noise(const Results& r) {
  double pairs = 0, distances = 0, shared = 0, points = 0;
  for (const Patch& p : r.patches) {
    std::vector<double> n;  // points of each line, sorted by line
    for (std::size_t k = 0; k < p.points.size(); ++k)
      if (k == 0 || p.points[k].line != p.points[k - 1].line)
        n.push_back(1);
      else
        ++n.back();
    if (n.size() < 2) continue;
    double all = 0;
    for (double v : n)
      all += v;
    for (double a : n)
      for (double b : n) {
        pairs += b * (1 + 3 / a);
        distances += b;
      }
    for (double a : n) {  // every pair counted once each way: take out a line against itself
      pairs -= a * (1 + 3 / a);
      distances -= a;
    }
    shared += all - 3;
    points += all;
  }
  if (!(distances > 0 && shared > 0)) return r.solution.noise;
  return r.solution.noise * std::sqrt((pairs / distances) / (shared / points));
}

void misfit_beyond_noise(const Results& r, std::vector<std::string>& out) {
  const double expected = misfit_from_noise(r);
  const double ratio = r.after.rms / expected;
  if (!(ratio > kMisfitRatio)) return;
  out.push_back(
      format("the misfit after, %.1f mm, is %.1f times what the noise about the "
             "planes (%.1f mm) leaves in patches of these sizes (%.1f mm): the lines "
             "still disagree beyond their noise (a line's trajectory, ground that "
             "changed between the lines, or patches too large for the ground to be "
             "planar; see the map after)",
             r.after.rms * 1000, ratio, r.solution.noise * 1000, expected * 1000));
}

// "6.7 mm above" or "below".
std::string above(double offset_m) {
  return format("%.1f mm ", std::fabs(offset_m) * 1000) + (offset_m > 0 ? "above" : "below");
}

void control_as_a_group(const Results& r, std::vector<std::string>& out) {
  const ControlCheck& c = r.solution.control;
  if (std::fabs(c.ties_offset) > kControlSigmas * c.ties_offset_sigma)
    out.push_back(
        "the control points and the tie patches disagree on the range offset: the "
        "control points sit " +
        above(c.ties_offset) + " the surface the tie patches alone give" +
        format(", %.1f times the standard error of the two (%.1f mm); the ties were "
               "weighted by %.3g against them",
               std::fabs(c.ties_offset) / c.ties_offset_sigma, c.ties_offset_sigma * 1000,
               r.solution.tie_weight));
  if (std::fabs(c.offset) > kControlSigmas * c.offset_sigma)
    out.push_back("the " + std::to_string(c.used) + " control points sit " + above(c.offset) +
                  " the calibrated surface as a group" +
                  format(", %.1f times their standard error (%.2f mm): the values found do not "
                         "honour them",
                         std::fabs(c.offset) / c.offset_sigma, c.offset_sigma * 1000));
}

void moves_between_resamples(const Results& r, std::vector<std::string>& out) {
  std::string which;
  for (int k = 0; k < kParams; ++k) {
    const ParamResult& p = r.solution.params[k];
    if (!p.observable || !(p.resampling_ratio > kResamplingRatio)) continue;
    which += std::string(which.empty() ? "" : ", ") + json_name(k) +
             format(" %.1f times", p.resampling_ratio);
  }
  if (which.empty()) return;
  out.push_back(
      "the values move between resamples of blocks of time by more than the formal "
      "standard errors allow (" +
      which +
      "): the points' errors are correlated in time (the trajectory's errors or its "
      "interpolation), and the standard errors given are the empirical ones");
}

void trajectory_sampling(const Results& r, std::vector<std::string>& out) {
  const auto worst = std::max_element(
      r.sampling.begin(), r.sampling.end(),
      [](const SamplingMiss& a, const SamplingMiss& b) { return a.max_m < b.max_m; });
  if (worst == r.sampling.end() || !(worst->max_m > kSamplingMiss)) return;
  // The miss goes with the square of the spacing.
  const double rate = worst->rate * std::sqrt(worst->max_m / kSamplingMiss);
  out.push_back(format("the trajectory is sampled at %.3g Hz: linear interpolation between its "
                       "samples misses the aircraft's motion by up to %.1f mm at the swath "
                       "edge (%.1f mm RMS)",
                       worst->rate, worst->max_m * 1000, worst->rms_m * 1000) +
                " on " + worst->line +
                format(", errors that follow the motion and bias the values beyond their "
                       "standard errors; a trajectory sampled at %.0f Hz or more would miss "
                       "less than %.0f mm",
                       std::ceil(rate), kSamplingMiss * 1000));
}

}  // namespace

std::vector<std::string> diagnose(const Results& r) {
  std::vector<std::string> out;
  trajectory_sampling(r, out);
  moves_between_resamples(r, out);
  misfit_beyond_noise(r, out);
  control_as_a_group(r, out);
  unused_control(r, out);
  return out;
}

}  // namespace bfcal
