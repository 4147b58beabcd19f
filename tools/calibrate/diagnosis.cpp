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

void misfit_beyond_noise(const Results& r, std::vector<std::string>& out) {
  const double expected = misfit_from_noise(r.patches, r.solution.noise);
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

// "0.0230 m" or "0.197702 deg".
std::string value_of(double v, int param) {
  return param == kRange ? format("%.4f m", v) : format("%.6f deg", v);
}

void control_as_a_group(const Results& r, std::vector<std::string>& out) {
  const ControlCheck& c = r.solution.control;
  for (int k = 0; k < kParams; ++k) {
    const ParamResult& p = r.solution.params[k];
    const double z = std::fabs(c.disagreement[k]);
    if (!p.observable || !(z > kControlSigmas)) continue;
    out.push_back(std::string("the control points and the tie patches disagree on ") +
                  json_name(k) + ": the tie patches alone give " + value_of(c.ties_value[k], k) +
                  " (standard error " + value_of(c.ties_sigma[k], k) +
                  format("), %.1f times the standard error of their difference from the "
                         "value with the control points; the ties' standard error was widened "
                         "%.1f times, so that the control points set it: ",
                         z, z) +
                  value_of(p.value, k));
  }
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
      [](const SamplingMiss& a, const SamplingMiss& b) { return a.rms_m < b.rms_m; });
  if (worst == r.sampling.end() || !(worst->rms_m > kSamplingMiss)) return;
  // The miss goes with the square of the spacing.
  const double rate = worst->rate * std::sqrt(worst->rms_m / kSamplingMiss);
  out.push_back(format("the trajectory is sampled at %.3g Hz: linear interpolation between its "
                       "samples misses the aircraft's motion by %.1f mm RMS at the swath edge "
                       "(up to %.1f mm)",
                       worst->rate, worst->rms_m * 1000, worst->max_m * 1000) +
                " on " + worst->line +
                format(", errors that follow the motion and bias the values beyond their "
                       "standard errors; a trajectory sampled at %.0f Hz or more would miss "
                       "less than %.0f mm RMS",
                       std::ceil(rate), kSamplingMiss * 1000));
}

// A parameter dropped for a standard error beyond its limit, not for a pattern blind to it,
// still moves the points the way the data show: held at 0, what of its true value is not 0
// goes into the others.
void held_at_zero(const Results& r, std::vector<std::string>& out) {
  std::string which;
  for (int k = 0; k < kParams; ++k) {
    const ParamResult& p = r.solution.params[k];
    if (!p.solved || p.observable || p.reason.find("(singular") != std::string::npos) continue;
    which += std::string(which.empty() ? "" : ", ") + json_name(k);
  }
  if (which.empty()) return;
  out.push_back(which +
                " not observable but not unseen either: held at 0, what of their true values "
                "is not 0 goes into the values of the others, beyond their standard errors");
}

}  // namespace

std::vector<std::string> diagnose(const Results& r) {
  std::vector<std::string> out;
  trajectory_sampling(r, out);
  moves_between_resamples(r, out);
  misfit_beyond_noise(r, out);
  held_at_zero(r, out);
  control_as_a_group(r, out);
  unused_control(r, out);
  return out;
}

}  // namespace bfcal
