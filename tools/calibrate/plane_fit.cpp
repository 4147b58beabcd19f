#include "plane_fit.hpp"

#include <algorithm>
#include <cstddef>

#include <Eigen/Dense>

#include "kit/median.hpp"

namespace bfcal {
namespace {

// Robust standard deviations beyond which a point is left out of the plane.
constexpr double kOutlierSigmas = 5;
// Metres: the limit's floor, so that points on an exact plane are never all left out.
constexpr double kOutlierFloor = 1e-4;
constexpr int kRounds = 4;

struct Fit3 {
  Eigen::Vector3d x = Eigen::Vector3d::Zero();
  bool ok = false;
};

Fit3 solve_plane(const std::vector<Local>& pts, const std::vector<bool>& use) {
  Eigen::Matrix3d ata = Eigen::Matrix3d::Zero();
  Eigen::Vector3d atb = Eigen::Vector3d::Zero();
  int n = 0;
  for (std::size_t i = 0; i < pts.size(); ++i) {
    if (!use[i]) continue;
    const Eigen::Vector3d row(1, pts[i].e, pts[i].n);
    ata += row * row.transpose();
    atb += row * pts[i].u;
    ++n;
  }
  Fit3 f;
  if (n < 3) return f;
  // Points spread over both axes: the scaled normal matrix well away from singular.
  const Eigen::Vector3d d = ata.diagonal().cwiseMax(1e-12).cwiseSqrt().cwiseInverse();
  const Eigen::Matrix3d scaled = d.asDiagonal() * ata * d.asDiagonal();
  Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> eig(scaled);
  if (eig.eigenvalues()(0) < 1e-6 * eig.eigenvalues()(2)) return f;
  f.x = ata.ldlt().solve(atb);
  f.ok = f.x.allFinite();
  return f;
}

}  // namespace

double robust_sigma(const std::vector<double>& distances) {
  std::vector<double> a;
  a.reserve(distances.size());
  for (double d : distances)
    a.push_back(std::fabs(d));
  return 1.4826 * kit::median(std::move(a));
}

PlaneFit fit_plane(const std::vector<Local>& pts) {
  std::vector<bool> use(pts.size(), true);
  PlaneFit out;
  Fit3 f = solve_plane(pts, use);
  // A gross error pulls the first plane towards itself: the points far off are left out
  // and the plane fitted again, until the set settles.
  for (int round = 0; round < kRounds && f.ok; ++round) {
    std::vector<double> r, kept;
    for (std::size_t i = 0; i < pts.size(); ++i) {
      r.push_back(std::fabs(plane_distance(f.x(0), f.x(1), f.x(2), pts[i])));
      if (use[i]) kept.push_back(r.back());
    }
    // robust_sigma(kept) times kOutlierSigmas, multiplied in this order as always.
    const double limit = std::max(kOutlierSigmas * 1.4826 * kit::median(kept), kOutlierFloor);
    bool changed = false;
    for (std::size_t i = 0; i < pts.size(); ++i) {
      changed = changed || use[i] != (r[i] <= limit);
      use[i] = r[i] <= limit;
    }
    if (!changed) break;
    f = solve_plane(pts, use);
  }
  if (!f.ok) return out;
  double ss = 0;
  for (std::size_t i = 0; i < pts.size(); ++i) {
    if (!use[i]) continue;
    const double r = plane_distance(f.x(0), f.x(1), f.x(2), pts[i]);
    ss += r * r;
    ++out.used;
  }
  out.a = f.x(0);
  out.b = f.x(1);
  out.c = f.x(2);
  out.rms = std::sqrt(ss / out.used);
  out.ok = true;
  return out;
}

}  // namespace bfcal
