#include "resampling.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace bfcal {

Groups resampling_groups(std::size_t lines, const std::vector<Patch>& patches, double block_seconds,
                         int most) {
  std::vector<double> t0(lines, INFINITY), t1(lines, -INFINITY);
  for (const Patch& p : patches)
    for (const TiePoint& t : p.points) {
      t0[t.line] = std::min(t0[t.line], t.m.thr);
      t1[t.line] = std::max(t1[t.line], t.m.thr);
    }
  std::vector<int> first(lines + 1, 0), blocks(lines, 0);
  for (std::size_t l = 0; l < lines; ++l) {
    const double span = std::isfinite(t0[l]) ? (t1[l] - t0[l]) * 3600 : 0;
    blocks[l] = std::max(2, static_cast<int>(std::lround(span / block_seconds)));
    first[l + 1] = first[l] + blocks[l];
  }
  Groups g;
  g.blocks = first[lines];
  std::vector<int> order(static_cast<std::size_t>(g.blocks));
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [](int a, int b) {
    return mix(static_cast<std::uint64_t>(a)) < mix(static_cast<std::uint64_t>(b));
  });
  g.count = std::min(most, g.blocks);
  std::vector<int> group_of_block(order.size());
  for (std::size_t j = 0; j < order.size(); ++j)
    group_of_block[static_cast<std::size_t>(order[j])] = static_cast<int>(j) % g.count;
  for (const Patch& p : patches) {
    g.group.emplace_back();
    g.block.emplace_back();
    for (const TiePoint& t : p.points) {
      const double span = t1[t.line] - t0[t.line];
      const double at = span > 0 ? (t.m.thr - t0[t.line]) / span : 0;
      const int b = first[t.line] + std::clamp(static_cast<int>(std::floor(at * blocks[t.line])), 0,
                                               blocks[t.line] - 1);
      g.block.back().push_back(b);
      g.group.back().push_back(group_of_block[static_cast<std::size_t>(b)]);
    }
  }
  return g;
}

Keep leave_out(const std::vector<Patch>& patches, const Keep& keep, const Groups& g, int left_out) {
  Keep out(patches.size());
  for (std::size_t i = 0; i < patches.size(); ++i) {
    if (keep[i].empty()) continue;
    const auto& pts = patches[i].points;
    std::vector<char> k(pts.size(), 0);
    int left = 0, lines = 0, last_line = -1;
    for (std::size_t j = 0; j < pts.size(); ++j) {
      if (!keep[i][j] || g.group[i][j] == left_out) continue;
      k[j] = 1;
      ++left;
      if (pts[j].line != last_line) ++lines;  // points are sorted by line
      last_line = pts[j].line;
    }
    if (patches[i].control.empty() ? lines >= 2 : left >= 3) out[i] = std::move(k);
  }
  return out;
}

std::vector<NewtonRow> newton_rows(ceres::Problem& problem, const std::vector<Row>& rows,
                                   double* theta, const std::vector<double*>& planes, int free,
                                   int threads) {
  ceres::Problem::EvaluateOptions o;
  o.apply_loss_function = false;
  o.num_threads = threads;
  o.parameter_blocks.push_back(theta);
  std::vector<int> patch_of_block;  // the patch of each plane column triple
  for (std::size_t i = 0; i < planes.size(); ++i)
    if (planes[i] != nullptr && problem.HasParameterBlock(planes[i])) {
      o.parameter_blocks.push_back(planes[i]);
      patch_of_block.push_back(static_cast<int>(i));
    }
  for (const Row& r : rows)
    o.residual_blocks.push_back(r.id);
  std::vector<double> residuals;
  ceres::CRSMatrix jac;
  double cost = 0;
  if (!problem.Evaluate(o, &cost, &residuals, nullptr, &jac)) return {};
  std::vector<NewtonRow> out;
  std::size_t at = 0;
  for (const Row& r : rows) {
    const int n = problem.GetCostFunctionForResidualBlock(r.id)->num_residuals();
    for (int j = 0; j < n; ++j, ++at) {
      NewtonRow nr;
      nr.patch = r.patch;
      nr.point = r.point;
      const double v = residuals[at], s = v * v;
      double rho[3] = {s, 1, 0};
      if (r.loss != nullptr) r.loss->Evaluate(s, rho);
      nr.grad = rho[1] * v;
      nr.weight = std::max(0.0, rho[1] + 2 * s * rho[2]);
      for (int e = jac.rows[at]; e < jac.rows[at + 1]; ++e) {
        const int col = jac.cols[static_cast<std::size_t>(e)];
        const double d = jac.values[static_cast<std::size_t>(e)];
        if (col < free)
          nr.dtheta(col) = d;
        else
          nr.dplane((col - free) % 3) = d;
      }
      out.push_back(nr);
    }
  }
  return out;
}

Reduced reduce(const std::vector<NewtonRow>& rows, const Keep& keep, int free) {
  Reduced out{Eigen::MatrixXd::Zero(free, free), Eigen::VectorXd::Zero(free)};
  for (std::size_t r = 0; r < rows.size();) {
    const int patch = rows[r].patch;
    Eigen::Matrix3d app = Eigen::Matrix3d::Zero();
    Eigen::MatrixXd apt = Eigen::MatrixXd::Zero(3, free), att = Eigen::MatrixXd::Zero(free, free);
    Eigen::Vector3d gp = Eigen::Vector3d::Zero();
    Eigen::VectorXd gt = Eigen::VectorXd::Zero(free);
    for (; r < rows.size() && rows[r].patch == patch; ++r) {
      const NewtonRow& n = rows[r];
      if (patch >= 0) {
        const auto& k = keep[static_cast<std::size_t>(patch)];
        if (k.empty() || (n.point >= 0 && !k[static_cast<std::size_t>(n.point)])) continue;
      }
      const auto jt = n.dtheta.head(free);
      att += n.weight * jt * jt.transpose();
      gt += n.grad * jt;
      app += n.weight * n.dplane * n.dplane.transpose();
      apt += n.weight * n.dplane * jt.transpose();
      gp += n.grad * n.dplane;
    }
    if (patch < 0) {
      out.h += att;
      out.b += gt;
      continue;
    }
    const Eigen::LDLT<Eigen::Matrix3d> ldlt(app);
    if (ldlt.info() != Eigen::Success || !ldlt.isPositive() ||
        !(ldlt.vectorD().minCoeff() > 1e-9 * ldlt.vectorD().maxCoeff()))
      continue;
    out.h += att - apt.transpose() * ldlt.solve(apt);
    out.b += gt - apt.transpose() * ldlt.solve(gp);
  }
  return out;
}

Eigen::MatrixXd jackknife_covariance(const std::vector<Eigen::VectorXd>& values) {
  const auto n = static_cast<double>(values.size());
  if (values.size() < 2) return {};
  Eigen::VectorXd mean = Eigen::VectorXd::Zero(values[0].size());
  for (const auto& v : values)
    mean += v;
  mean /= n;
  Eigen::MatrixXd cov = Eigen::MatrixXd::Zero(mean.size(), mean.size());
  for (const auto& v : values)
    cov += (v - mean) * (v - mean).transpose();
  return cov * ((n - 1) / n);
}

}  // namespace bfcal
