#include "misfit.hpp"

#include <algorithm>
#include <cmath>
#include <map>

#include <Eigen/Dense>

namespace bfcal {
namespace {

struct Sum {
  double ss = 0;
  std::int64_t n = 0;
};

// The patch's points of each line, in local coordinates, gross ones left out.
std::map<int, std::vector<Local>> by_line(const std::vector<Line>& lines, const Patch& patch,
                                          const std::vector<bool>& gross, const Params& p) {
  std::map<int, std::vector<Local>> out;
  for (std::size_t k = 0; k < patch.points.size(); ++k) {
    if (gross[k]) continue;
    const TiePoint& t = patch.points[k];
    out[t.line].push_back(to_local(patch.frame, locate(t.m, lines[t.line], p)));
  }
  return out;
}

// The plane fit's normal matrix: sum of (1, e, n)(1, e, n)'.
Eigen::Matrix3d normal_matrix(const std::vector<Local>& pts) {
  Eigen::Matrix3d m = Eigen::Matrix3d::Zero();
  for (const Local& q : pts) {
    const Eigen::Vector3d row(1, q.e, q.n);
    m += row * row.transpose();
  }
  return m;
}

// The variance of a plane's height at q in units of its points' noise, from the inverse of its
// normal matrix. Beyond 1 the plane's own error there exceeds a point's: its points lie along
// one scan line, say, and a distance from it says more of its tilt than of the lines'
// agreement.
double leverage(const Eigen::Matrix3d& inverse, const Local& q) {
  const Eigen::Vector3d row(1, q.e, q.n);
  return row.dot(inverse * row);
}

}  // namespace

Misfit misfit(const std::vector<Line>& lines, const std::vector<Patch>& patches,
              const std::vector<std::vector<bool>>& gross, const Params& p) {
  Misfit out;
  std::map<std::pair<int, int>, Sum> pairs;
  Sum total;
  for (std::size_t i = 0; i < patches.size(); ++i) {
    const auto pts = by_line(lines, patches[i], gross[i], p);
    Sum patch;
    for (const auto& [a, pa] : pts) {
      const PlaneFit f = fit_plane(pa);
      if (!f.ok) continue;
      const Eigen::Matrix3d spread = normal_matrix(pa).inverse();
      for (const auto& [b, pb] : pts) {
        if (b == a) continue;
        Sum& pair = pairs[{std::min(a, b), std::max(a, b)}];
        for (const Local& q : pb) {
          if (!(leverage(spread, q) <= 1)) continue;
          const double d = plane_distance(f.a, f.b, f.c, q);
          for (Sum* s : {&pair, &patch, &total}) {
            s->ss += d * d;
            ++s->n;
          }
          out.distances.push_back(d);
        }
      }
    }
    out.patch_rms.push_back(patch.n > 0 ? std::sqrt(patch.ss / static_cast<double>(patch.n)) : NAN);
  }
  for (const auto& [key, s] : pairs)
    out.pairs.push_back({key.first, key.second, std::sqrt(s.ss / static_cast<double>(s.n)), s.n});
  out.n = total.n;
  out.rms = total.n > 0 ? std::sqrt(total.ss / static_cast<double>(total.n)) : NAN;
  return out;
}

double misfit_from_noise(const std::vector<Patch>& patches, double noise) {
  double pairs = 0, distances = 0, shared = 0, points = 0;
  for (const Patch& p : patches) {
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
    for (double a : n) {  // the loops above also held each line against itself
      pairs -= a * (1 + 3 / a);
      distances -= a;
    }
    shared += all - 3;
    points += all;
  }
  if (!(distances > 0 && shared > 0)) return noise;
  return noise * std::sqrt((pairs / distances) / (shared / points));
}

std::vector<ControlResidual> control_residuals(const std::vector<Line>& lines,
                                               const std::vector<Patch>& patches,
                                               const std::vector<std::vector<bool>>& gross,
                                               const Params& p,
                                               const std::vector<std::vector<double>>& sigma,
                                               const std::vector<UnusedControl>& unused) {
  std::vector<ControlResidual> out;
  for (std::size_t i = 0; i < patches.size(); ++i) {
    if (patches[i].control.empty()) continue;
    std::vector<Local> all;
    for (const auto& [line, pts] : by_line(lines, patches[i], gross[i], p))
      all.insert(all.end(), pts.begin(), pts.end());
    const PlaneFit f = fit_plane(all);
    for (std::size_t c = 0; c < patches[i].control.size(); ++c) {
      ControlPoint cp = patches[i].control[c];
      cp.sigma = sigma[i][c];
      const Local q = to_local(patches[i].frame, bf::SurfacePoint{cp.lat, cp.lon, cp.h, 0});
      out.push_back({cp, f.ok ? q.u - (f.a + f.b * q.e + f.c * q.n) : NAN, true, ""});
    }
  }
  for (const UnusedControl& u : unused)
    out.push_back({u.point, NAN, false, u.reason});
  std::sort(out.begin(), out.end(), [](const ControlResidual& a, const ControlResidual& b) {
    return a.point.row < b.point.row;
  });
  return out;
}

}  // namespace bfcal
