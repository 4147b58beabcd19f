#include "sampling.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "kit/median.hpp"

namespace bfcal {
namespace {

constexpr double kRad = M_PI / 180;

// The divided second difference at the middle of three values (per second squared).
double second_derivative(double x0, double x1, double x2, double h1, double h2) {
  return 2 * ((x2 - x1) / h2 - (x1 - x0) / h1) / (h1 + h2);
}

double wrap180(double deg) {
  return deg - 360 * std::round(deg / 360);
}

}  // namespace

std::vector<SwathEdge> swath_edges(std::size_t lines, const std::vector<Patch>& patches) {
  std::vector<SwathEdge> out(lines);
  for (const Patch& p : patches)
    for (const TiePoint& t : p.points) {
      SwathEdge& e = out[static_cast<std::size_t>(t.line)];
      e.range = std::max(e.range, t.m.range);
      e.across =
          std::max(e.across, t.m.range * std::fabs(std::sin((t.m.angle - 100) * M_PI / 200)));
    }
  return out;
}

SamplingMiss sampling_miss(const bf::TrajectoryTable& traj, double tstart, double tend,
                           const SwathEdge& edge) {
  SamplingMiss out;
  out.edge_range = edge.range;
  out.edge_across = edge.across;
  const double* t = traj.time.get();
  std::vector<double> spacing;
  double ss = 0;
  int n = 0;
  for (std::int32_t k = 2; k < traj.ngps; ++k) {
    if (t[k] < tstart || t[k] > tend) continue;
    const double h1 = (t[k] - t[k - 1]) * 3600, h2 = (t[k + 1] - t[k]) * 3600;
    if (!(h1 > 0 && h2 > 0)) continue;
    spacing.push_back(h2);
    const LocalFrame f = local_frame(traj.lat[k], traj.lon[k], 0);
    const auto a = [&](const double* x, double scale) {
      return second_derivative(x[k - 1] * scale, x[k] * scale, x[k + 1] * scale, h1, h2);
    };
    // The heading's neighbours taken the short way round from the middle sample.
    const double hd = traj.heading[k];
    const double heading_a =
        second_derivative((hd + wrap180(traj.heading[k - 1] - hd)) * kRad, hd * kRad,
                          (hd + wrap180(traj.heading[k + 1] - hd)) * kRad, h1, h2);
    const double north = a(traj.lat.get(), f.m_lat), east = a(traj.lon.get(), f.m_lon),
                 up = a(traj.h.get(), 1);
    const double roll = a(traj.roll.get(), kRad) * edge.range,
                 pitch = a(traj.pitch.get(), kRad) * edge.range, heading = heading_a * edge.across;
    // The edge's second derivative, metres per second squared: its components' root sum square.
    const double edge_a = std::sqrt(north * north + east * east + up * up + roll * roll +
                                    pitch * pitch + heading * heading);
    const double h = (h1 + h2) / 2;
    out.max_m = std::max(out.max_m, edge_a * h * h / 8);
    ss += std::pow(edge_a * h * h, 2) / 120;
    ++n;
  }
  if (n == 0) return out;
  out.rms_m = std::sqrt(ss / n);
  out.rate = 1 / kit::median(std::move(spacing));
  return out;
}

std::vector<SamplingMiss> sampling_misses(const std::vector<Line>& lines,
                                          const std::vector<Patch>& patches) {
  const std::vector<SwathEdge> edges = swath_edges(lines.size(), patches);
  std::vector<SamplingMiss> out;
  for (std::size_t k = 0; k < lines.size(); ++k) {
    const bf::RunPar& par = lines[k].par();
    with_trajectory(lines[k], [&](const bf::TrajectoryTable& traj) {
      out.push_back(sampling_miss(traj, par.tstart, par.tend, edges[k]));
    });
    out.back().line = lines[k].name;
  }
  return out;
}

}  // namespace bfcal
