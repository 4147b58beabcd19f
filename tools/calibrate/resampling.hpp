// Resampling the solution by blocks of time: the points of a line near one
// time share its trajectory's errors, so each line's tie points are cut into
// blocks of time, the blocks dealt into groups, and the solution found again
// with each group left out in turn (a delete-a-group jackknife). Each such
// solution is one Newton step of the robust problem from the full solution,
// with the group's rows left out: one Jacobian from Ceres serves every group.
#pragma once

#include <ceres/ceres.h>

#include <vector>

#include <Eigen/Dense>

#include "patches.hpp"

namespace bfcal {

// Which block of time (a line's blocks numbered on from the lines before) and which group of
// blocks each tie point belongs to: each line's points are cut into blocks of about
// `block_seconds` over the span of its tie points (two at least), and the blocks dealt into
// at most `most` groups in a fixed pseudo-random order, so that a group holds blocks of
// several lines and times.
struct Groups {
  int count = 0;                        // groups
  int blocks = 0;                       // blocks of all lines
  std::vector<std::vector<int>> group;  // per patch and point
  std::vector<std::vector<int>> block;  // per patch and point
};

Groups resampling_groups(std::size_t lines, const std::vector<Patch>& patches, double block_seconds,
                         int most);

// The rows a resample keeps, per patch and point; an empty vector leaves the patch out.
using Keep = std::vector<std::vector<char>>;

// Every point of the patches `take` accepts (by index), the others left out.
template <class Take>
Keep patches_where(const std::vector<Patch>& patches, Take take) {
  Keep keep(patches.size());
  for (std::size_t i = 0; i < patches.size(); ++i)
    if (take(i)) keep[i].assign(patches[i].points.size(), 1);
  return keep;
}

// `keep` less the points of group `left_out`: a tie patch stays with two lines or more, a
// control patch with three points or more.
Keep leave_out(const std::vector<Patch>& patches, const Keep& keep, const Groups& g, int left_out);

// A residual block of a problem: its loss, its patch (-1: none, as the prior on the
// parameters) and its point in the patch (-1: not a point, as a control point).
struct Row {
  ceres::ResidualBlockId id;
  const ceres::LossFunction* loss;
  int patch, point;
};

// One residual row's part in Newton's step for the robust problem: its Jacobian (the free
// parameters' tangent columns, then its plane's three), its share of the gradient rho'(s) r
// and of the Hessian rho'(s) + 2 s rho''(s), with s = r^2. The Hessian weight holds the
// loss's curvature, so that one step from the solution lands where a re-solve would (with
// rho' alone, Gauss-Newton under a Cauchy loss converges only linearly); a row beyond the
// loss's bend, where it is negative, counts 0.
struct NewtonRow {
  int patch = -1, point = -1;
  double grad = 0, weight = 0;
  Eigen::Vector4d dtheta = Eigen::Vector4d::Zero();
  Eigen::Vector3d dplane = Eigen::Vector3d::Zero();
};

// The rows of `problem` at its current values, in the order of `rows`. `theta` is the
// parameters' block (`free` tangent columns), `planes` the planes' blocks, each patch's in
// the problem; rows without a patch have no plane. Empty when the evaluation fails.
std::vector<NewtonRow> newton_rows(ceres::Problem& problem, const std::vector<Row>& rows,
                                   double* theta, const std::vector<double*>& planes, int free,
                                   int threads);

// Newton's system over the free parameters from the rows `keep` keeps (rows without a patch
// always), each patch's plane eliminated (its Schur complement); a patch whose plane the rows
// left cannot determine is left out whole. Its step is -h^-1 b.
struct Reduced {
  Eigen::MatrixXd h;
  Eigen::VectorXd b;
};

Reduced reduce(const std::vector<NewtonRow>& rows, const Keep& keep, int free);

// The jackknife covariance of values found with each group left out in turn: (n - 1) / n
// times the sum of the products of their deviations from their mean.
Eigen::MatrixXd jackknife_covariance(const std::vector<Eigen::VectorXd>& values);

}  // namespace bfcal
