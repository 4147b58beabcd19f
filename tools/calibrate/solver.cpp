#include "solver.hpp"

#include <ceres/ceres.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numeric>

#include <Eigen/Dense>

#include "control.hpp"
#include "textio/error.hpp"

namespace bfcal {
namespace {

// Forward differences: steps small against any boresight that matters (the
// derivative's error is about half the step in radians, 1e-6 of itself) and
// large against the geolocation's rounding (1e-4 degrees moves a point 0.6 mm
// at 350 m).
constexpr std::array<double, kParams> kStep{1e-4, 1e-4, 1e-4, 1e-4};
// A weak prior on each parameter (degrees, metres) keeps the normal matrix
// invertible when the flight pattern cannot see a parameter, which then shows
// as a standard error near these.
constexpr std::array<double, kParams> kPriorSigma{10, 10, 10, 10};

// What every point's cost reads: the weights and the parameters solved for.
struct Shared {
  double inv_sigma = 1;   // 1 / noise, metres^-1
  double tie_weight = 1;  // each tie point's share against the control points
  std::array<bool, kParams> free{};
  std::vector<std::vector<double>> control_sigma;  // per patch and control point, metres
};

double plane_dist(const double* plane, const Local& q) {
  return plane_distance(plane[0], plane[1], plane[2], q);
}

// One tie point's distance from its patch's plane, in units of the noise.
class PointCost : public ceres::SizedCostFunction<1, kParams, 3> {
 public:
  PointCost(const TiePoint& t, const Line& line, const LocalFrame& frame, const Shared& shared)
      : t_(t), line_(line), frame_(frame), shared_(shared) {}

  bool Evaluate(double const* const* x, double* residual, double** jac) const override {
    Params p;
    std::copy(x[0], x[0] + kParams, p.begin());
    const double* plane = x[1];
    const Local q = at(p);
    const double d = plane_dist(plane, q);
    const double w = shared_.inv_sigma;
    residual[0] = d * w;
    if (jac == nullptr) return std::isfinite(residual[0]);
    if (jac[0] != nullptr) {
      for (int k = 0; k < kParams; ++k) {
        jac[0][k] = 0;
        if (!shared_.free[k]) continue;
        Params step = p;
        step[k] += kStep[k];
        jac[0][k] = (plane_dist(plane, at(step)) - d) / kStep[k] * w;
      }
    }
    if (jac[1] != nullptr) {
      const double b = plane[1], c = plane[2];
      const double n = std::sqrt(1 + b * b + c * c);
      jac[1][0] = -w / n;
      jac[1][1] = (-q.e / n - d * b / (n * n)) * w;
      jac[1][2] = (-q.n / n - d * c / (n * n)) * w;
    }
    return std::isfinite(residual[0]);
  }

  Local at(const Params& p) const { return to_local(frame_, locate(t_.m, line_, p)); }

 private:
  const TiePoint& t_;
  const Line& line_;
  const LocalFrame& frame_;
  const Shared& shared_;
};

// A control point's height against its patch's plane, in its own units.
struct ControlCost {
  double e, n, u, inv_sigma;
  template <class T>
  bool operator()(const T* plane, T* r) const {
    r[0] = (plane[0] + plane[1] * e + plane[2] * n - u) * inv_sigma;
    return true;
  }
};

struct PriorCost {
  template <class T>
  bool operator()(const T* p, T* r) const {
    for (int k = 0; k < kParams; ++k)
      r[k] = p[k] / kPriorSigma[k];
    return true;
  }
};

// The unknowns: the parameters and one plane a patch.
struct Unknowns {
  Params theta{};
  std::vector<std::array<double, 3>> planes;
};

// The points a resample keeps, per patch and point; an empty vector leaves the patch out.
using Keep = std::vector<std::vector<char>>;

// A residual block of the problem: its loss, its patch (-1: the prior) and its point in the
// patch (-1: a control point).
struct Row {
  ceres::ResidualBlockId id;
  const ceres::LossFunction* loss;
  int patch, point;
};

// The planes fitted to every point of each patch with the current parameters.
void fit_planes(const std::vector<Line>& lines, const std::vector<Patch>& patches, Unknowns& x) {
  x.planes.resize(patches.size());
  for (std::size_t i = 0; i < patches.size(); ++i) {
    std::vector<Local> loc;
    for (const TiePoint& t : patches[i].points)
      loc.push_back(to_local(patches[i].frame, locate(t.m, lines[t.line], x.theta)));
    const PlaneFit f = fit_plane(loc);
    x.planes[i] = {f.a, f.b, f.c};
  }
}

Local control_local(const Patch& patch, const ControlPoint& cp) {
  return to_local(patch.frame, bf::SurfacePoint{cp.lat, cp.lon, cp.h, 0});
}

class Model {
 public:
  Model(const std::vector<Line>& lines, const std::vector<Patch>& patches, Unknowns& x,
        const Shared& shared, int threads)
      : lines_(lines), patches_(patches), x_(x), shared_(shared), threads_(threads) {}

  // A problem over the current unknowns with `loss` on every tie point (scaled by the tie
  // weight). Its residual blocks are recorded in `rows()`, in the order added: patch by
  // patch, its points then its control points, and the prior last.
  std::unique_ptr<ceres::Problem> build(ceres::LossFunction* loss) {
    ceres::Problem::Options o;
    o.loss_function_ownership = ceres::DO_NOT_TAKE_OWNERSHIP;
    auto problem = std::make_unique<ceres::Problem>(o);
    tie_loss_ =
        std::make_unique<ceres::ScaledLoss>(loss, shared_.tie_weight, ceres::DO_NOT_TAKE_OWNERSHIP);
    rows_.clear();
    double* theta = x_.theta.data();
    problem->AddParameterBlock(theta, kParams);
    for (std::size_t i = 0; i < patches_.size(); ++i) {
      const Patch& patch = patches_[i];
      double* plane = x_.planes[i].data();
      // The points around a control point keep their full weight: with the control point
      // they measure how far the lines' surface is from it, and their correlated errors show
      // in the control points' agreement and in the resampling.
      ceres::LossFunction* point_loss = patch.control.empty() ? tie_loss_.get() : loss;
      const int pi = static_cast<int>(i);
      for (std::size_t k = 0; k < patch.points.size(); ++k) {
        const TiePoint& t = patch.points[k];
        rows_.push_back(
            {problem->AddResidualBlock(new PointCost(t, lines_[t.line], patch.frame, shared_),
                                       point_loss, theta, plane),
             point_loss, pi, static_cast<int>(k)});
      }
      for (std::size_t c = 0; c < patch.control.size(); ++c) {
        const Local q = control_local(patch, patch.control[c]);
        rows_.push_back({problem->AddResidualBlock(
                             new ceres::AutoDiffCostFunction<ControlCost, 1, 3>(
                                 new ControlCost{q.e, q.n, q.u, 1 / shared_.control_sigma[i][c]}),
                             control_loss_.get(), plane),
                         control_loss_.get(), pi, -1});
      }
    }
    rows_.push_back(
        {problem->AddResidualBlock(
             new ceres::AutoDiffCostFunction<PriorCost, kParams, kParams>(new PriorCost), nullptr,
             theta),
         nullptr, -1, -1});
    std::vector<int> fixed;
    for (int k = 0; k < kParams; ++k)
      if (!shared_.free[k]) fixed.push_back(k);
    if (fixed.size() == kParams)
      problem->SetParameterBlockConstant(theta);
    else if (!fixed.empty())
      problem->SetManifold(theta, new ceres::SubsetManifold(kParams, fixed));
    return problem;
  }

  // Iterations done; stops when the solver finds no usable solution.
  int minimise(ceres::Problem& problem, const SolveProgress& progress, const std::string& stage,
               int max_iterations) const {
    const ceres::Solver::Summary summary = run(problem, progress, stage, max_iterations);
    if (!summary.IsSolutionUsable()) bf::stop("the solver failed: " + summary.message);
    return static_cast<int>(summary.iterations.size());
  }

  // Every tie point's distance from its plane, metres, per patch.
  std::vector<std::vector<double>> distances() const {
    std::vector<std::vector<double>> d(patches_.size());
    for (std::size_t i = 0; i < patches_.size(); ++i)
      for (const TiePoint& t : patches_[i].points)
        d[i].push_back(
            plane_dist(x_.planes[i].data(),
                       to_local(patches_[i].frame, locate(t.m, lines_[t.line], x_.theta))));
    return d;
  }

 private:
  ceres::Solver::Summary run(ceres::Problem& problem, const SolveProgress& progress,
                             const std::string& stage, int max_iterations) const {
    ceres::Solver::Options o;
    o.linear_solver_type = ceres::DENSE_SCHUR;
    auto* ordering = new ceres::ParameterBlockOrdering;
    for (auto& plane : x_.planes)
      if (problem.HasParameterBlock(plane.data())) ordering->AddElementToGroup(plane.data(), 0);
    ordering->AddElementToGroup(x_.theta.data(), 1);
    o.linear_solver_ordering.reset(ordering);
    o.num_threads = threads_;
    o.max_num_iterations = max_iterations;
    o.function_tolerance = 1e-10;
    o.parameter_tolerance = 1e-10;
    o.gradient_tolerance = 1e-14;
    o.logging_type = ceres::SILENT;
    StageCallback cb(progress, stage);
    o.callbacks.push_back(&cb);
    o.update_state_every_iteration = false;
    ceres::Solver::Summary summary;
    ceres::Solve(o, &problem, &summary);
    return summary;
  }

  // Beyond three of its standard deviations a control point pulls no harder: one surveyed or
  // typed wrong cannot drag the range offset with it while the others agree.
  std::unique_ptr<ceres::LossFunction> control_loss_ = std::make_unique<ceres::HuberLoss>(3.0);
  std::unique_ptr<ceres::LossFunction> tie_loss_;
  class StageCallback : public ceres::IterationCallback {
   public:
    StageCallback(const SolveProgress& p, const std::string& stage) : p_(p), stage_(stage) {}
    ceres::CallbackReturnType operator()(const ceres::IterationSummary& s) override {
      if (p_) p_(stage_ + ", iteration " + std::to_string(s.iteration));
      return ceres::SOLVER_CONTINUE;
    }

   private:
    const SolveProgress& p_;
    std::string stage_;
  };

  const std::vector<Line>& lines_;
  const std::vector<Patch>& patches_;
  Unknowns& x_;
  const Shared& shared_;
  int threads_;
  std::vector<Row> rows_;

 public:
  const std::vector<Row>& rows() const { return rows_; }
  Unknowns& unknowns() const { return x_; }
  const Shared& shared() const { return shared_; }
};

// 1.4826 times the median absolute distance: the noise, robust to gross errors.
double robust_sigma(const std::vector<std::vector<double>>& d) {
  std::vector<double> a;
  for (const auto& v : d)
    for (double x : v)
      a.push_back(std::fabs(x));
  if (a.empty()) return 0;
  const auto mid = a.begin() + static_cast<std::ptrdiff_t>(a.size() / 2);
  std::nth_element(a.begin(), mid, a.end());
  return std::max(1.4826 * *mid, 1e-5);
}

struct Covariance {
  bool ok = false;
  Eigen::Matrix4d cov = Eigen::Matrix4d::Zero();  // solved parameters; zero elsewhere
  double sigma(int k) const { return std::sqrt(cov(k, k)); }
};

Covariance covariance(ceres::Problem& problem, double* theta, const Shared& shared, int threads) {
  ceres::Covariance::Options o;
  o.algorithm_type = ceres::SPARSE_QR;
  o.num_threads = threads;
  ceres::Covariance cov(o);
  Covariance out;
  std::vector<std::pair<const double*, const double*>> blocks{{theta, theta}};
  if (!cov.Compute(blocks, &problem)) return out;
  std::vector<int> idx;
  for (int k = 0; k < kParams; ++k)
    if (shared.free[k]) idx.push_back(k);
  const int m = static_cast<int>(idx.size());
  std::vector<double> tangent(static_cast<std::size_t>(m * m));
  if (!cov.GetCovarianceBlockInTangentSpace(theta, theta, tangent.data())) return out;
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < m; ++j)
      out.cov(idx[i], idx[j]) = tangent[static_cast<std::size_t>(i * m + j)];
  out.ok = true;
  return out;
}

std::string format_value(double v, int param) {
  char buf[64];
  std::snprintf(buf, sizeof buf, param == kRange ? "%.4g m" : "%.4g deg", v);
  return buf;
}

// The solved parameter least determined against its limit, or -1.
int least_determined(const Covariance& c, const Shared& shared, const SolveSettings& s) {
  int worst = -1;
  double worst_ratio = 1;
  for (int k = 0; k < kParams; ++k) {
    if (!shared.free[k]) continue;
    const double ratio = c.sigma(k) / s.sigma_limit[k];
    if (!(ratio <= worst_ratio)) {
      worst = k;
      worst_ratio = std::isfinite(ratio) ? ratio : 1e300;
    }
  }
  return worst;
}

// The solved parameters far beyond their limits (`factor` times), all dropped
// at once (all of them when the covariance could not be computed); one just
// beyond its limit may come within it once another is held.
std::vector<int> singular(const Covariance& c, const Shared& shared, const SolveSettings& s,
                          double factor) {
  std::vector<int> out;
  for (int k = 0; k < kParams; ++k)
    if (shared.free[k] && (!c.ok || !(c.sigma(k) < factor * s.sigma_limit[k]))) out.push_back(k);
  return out;
}

std::string unobservable_reason(const Covariance& c, int k, const SolveSettings& s) {
  const double sigma = c.sigma(k);
  if (!c.ok || !(sigma < 0.5 * kPriorSigma[k]))
    return "the flight pattern does not determine it (singular normal matrix)";
  return "standard error " + format_value(sigma, k) + " beyond the limit " +
         format_value(s.sigma_limit[k], k) + " (near-singular normal matrix)";
}

bool any_free(const Shared& shared) {
  return std::any_of(shared.free.begin(), shared.free.end(), [](bool f) { return f; });
}

// ---- Resampling

// Which group of blocks of time each tie point belongs to: each line's points are cut into
// blocks of about `block_seconds` over the span of its tie points (two at least), and the
// blocks dealt into at most `most` groups in a fixed pseudo-random order, so that a group
// holds blocks of several lines and times.
struct Groups {
  int count = 0;
  std::vector<std::vector<int>> of_point;  // per patch and point
};

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
  std::vector<int> order(static_cast<std::size_t>(first[lines]));
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [](int a, int b) {
    return mix(static_cast<std::uint64_t>(a)) < mix(static_cast<std::uint64_t>(b));
  });
  Groups g;
  g.count = std::min<int>(most, static_cast<int>(order.size()));
  std::vector<int> group_of_block(order.size());
  for (std::size_t j = 0; j < order.size(); ++j)
    group_of_block[static_cast<std::size_t>(order[j])] = static_cast<int>(j) % g.count;
  for (const Patch& p : patches) {
    g.of_point.emplace_back();
    for (const TiePoint& t : p.points) {
      const double span = t1[t.line] - t0[t.line];
      const double at = span > 0 ? (t.m.thr - t0[t.line]) / span : 0;
      const int block =
          std::clamp(static_cast<int>(std::floor(at * blocks[t.line])), 0, blocks[t.line] - 1);
      g.of_point.back().push_back(group_of_block[static_cast<std::size_t>(first[t.line] + block)]);
    }
  }
  return g;
}

// The points left when group `left_out` is: a tie patch stays with two lines or more, a
// control patch with three points or more.
Keep leave_out(const std::vector<Patch>& patches, const Groups& g, int left_out) {
  Keep keep(patches.size());
  for (std::size_t i = 0; i < patches.size(); ++i) {
    const auto& pts = patches[i].points;
    std::vector<char> k(pts.size(), 0);
    int left = 0, lines = 0, last_line = -1;
    for (std::size_t j = 0; j < pts.size(); ++j) {
      if (g.of_point[i][j] == left_out) continue;
      k[j] = 1;
      ++left;
      if (pts[j].line != last_line) ++lines;  // points are sorted by line
      last_line = pts[j].line;
    }
    if (patches[i].control.empty() ? lines >= 2 : left >= 3) keep[i] = std::move(k);
  }
  return keep;
}

struct Resampled {
  int count = 0;                                  // resamples
  Eigen::Matrix4d cov = Eigen::Matrix4d::Zero();  // jackknife covariance
  double sigma(int k) const { return count > 1 ? std::sqrt(cov(k, k)) : NAN; }
};

// One residual row's part in Newton's step for the robust problem: its Jacobian (the free
// parameters' tangent columns, then its plane's three), its share of the gradient rho'(s) r
// and of the Hessian rho'(s) + 2 s rho''(s), with s = r^2. The Hessian weight is that of the
// loss's curvature too, so that one step from the solution lands where a re-solve would (the
// Gauss-Newton weight rho' alone converges only linearly under a Cauchy loss); a row beyond
// the loss's bend, where it is negative, counts 0.
struct NewtonRow {
  int patch = -1, point = -1;
  double grad = 0, weight = 0;
  Eigen::Vector4d dtheta = Eigen::Vector4d::Zero();
  Eigen::Vector3d dplane = Eigen::Vector3d::Zero();
};

std::vector<NewtonRow> newton_rows(ceres::Problem& problem, const Model& model, int free,
                                   int threads) {
  ceres::Problem::EvaluateOptions o;
  o.apply_loss_function = false;
  o.num_threads = threads;
  o.parameter_blocks.push_back(model.unknowns().theta.data());
  for (auto& plane : model.unknowns().planes)
    o.parameter_blocks.push_back(plane.data());
  for (const Row& r : model.rows())
    o.residual_blocks.push_back(r.id);
  std::vector<double> residuals;
  ceres::CRSMatrix jac;
  double cost = 0;
  if (!problem.Evaluate(o, &cost, &residuals, nullptr, &jac)) return {};
  std::vector<NewtonRow> out;
  std::size_t at = 0;
  for (const Row& r : model.rows()) {
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

// Newton's step for the free parameters (tangent order) with the rows `keep` keeps, each
// patch's plane eliminated (its Schur complement); a patch whose plane the rows left cannot
// determine is left out whole.
Eigen::VectorXd newton_step(const std::vector<NewtonRow>& rows, const Keep& keep, int free) {
  Eigen::MatrixXd s = Eigen::MatrixXd::Zero(free, free);
  Eigen::VectorXd b = Eigen::VectorXd::Zero(free);
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
    if (patch < 0) {  // the prior: no plane
      s += att;
      b += gt;
      continue;
    }
    const Eigen::LDLT<Eigen::Matrix3d> ldlt(app);
    if (ldlt.info() != Eigen::Success || !ldlt.isPositive() ||
        !(ldlt.vectorD().minCoeff() > 1e-9 * ldlt.vectorD().maxCoeff()))
      continue;
    s += att - apt.transpose() * ldlt.solve(apt);
    b += gt - apt.transpose() * ldlt.solve(gp);
  }
  return -s.ldlt().solve(b);
}

// The delete-a-group jackknife, linearised: the solution moved by Newton's step with each
// group left out in turn, from one evaluation of the Jacobian at the solution; the covariance
// (n - 1) / n times the sum of the products of their deviations from their mean.
Resampled jackknife(Model& model, ceres::LossFunction* loss, const std::vector<Patch>& patches,
                    const Groups& g, int threads) {
  const Shared& shared = model.shared();
  std::vector<int> idx;
  for (int k = 0; k < kParams; ++k)
    if (shared.free[k]) idx.push_back(k);
  const int free = static_cast<int>(idx.size());
  Resampled out;
  if (free == 0 || g.count < 2) return out;
  auto problem = model.build(loss);
  const std::vector<NewtonRow> rows = newton_rows(*problem, model, free, threads);
  if (rows.empty()) return out;
  std::vector<Eigen::Vector4d> values;
  for (int j = 0; j < g.count; ++j) {
    const Eigen::VectorXd step = newton_step(rows, leave_out(patches, g, j), free);
    if (!step.allFinite()) continue;
    Eigen::Vector4d v = Eigen::Vector4d::Zero();
    for (int k = 0; k < free; ++k)
      v(idx[static_cast<std::size_t>(k)]) = step(k);
    values.push_back(v);
  }
  out.count = static_cast<int>(values.size());
  if (out.count < 2) return out;
  Eigen::Vector4d mean = Eigen::Vector4d::Zero();
  for (const auto& v : values)
    mean += v;
  mean /= out.count;
  for (const auto& v : values)
    out.cov += (v - mean) * (v - mean).transpose();
  out.cov *= static_cast<double>(out.count - 1) / out.count;
  return out;
}

// ---- Control points

// Each control point's height minus its patch's plane there, metres, per patch and point.
std::vector<std::vector<double>> control_offsets(const std::vector<Patch>& patches,
                                                 const Unknowns& x) {
  std::vector<std::vector<double>> out(patches.size());
  for (std::size_t i = 0; i < patches.size(); ++i)
    for (const ControlPoint& cp : patches[i].control) {
      const Local q = control_local(patches[i], cp);
      const auto& pl = x.planes[i];
      out[i].push_back(q.u - (pl[0] + pl[1] * q.e + pl[2] * q.n));
    }
  return out;
}

double median_of(std::vector<double> v) {
  const auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
  std::nth_element(v.begin(), mid, v.end());
  return *mid;
}

// The standard deviation of the rows that give none, from their agreement at the solution `x`:
// 1.4826 times the median absolute deviation of their offsets from the lines' surface about
// the median (a point typed wrong does not count), at least kControlSigmaFloor. Their common
// offset is the range offset's business, not their scatter's. Sets `sigma` for those rows.
void estimate_control_sigma(const std::vector<Patch>& patches, const Unknowns& x,
                            std::vector<std::vector<double>>& sigma, ControlCheck& check) {
  const auto offsets = control_offsets(patches, x);
  std::vector<double> r;
  for (std::size_t i = 0; i < patches.size(); ++i)
    for (std::size_t c = 0; c < patches[i].control.size(); ++c)
      if (!patches[i].control[c].sigma_given && std::isfinite(offsets[i][c]))
        r.push_back(offsets[i][c]);
  if (static_cast<int>(r.size()) < kControlsToEstimate) return;
  const double med = median_of(r);
  for (double& v : r)
    v = std::fabs(v - med);
  check.estimated_sigma = std::max(kControlSigmaFloor, 1.4826 * median_of(r));
  check.estimated_from = static_cast<int>(r.size());
  for (std::size_t i = 0; i < patches.size(); ++i)
    for (std::size_t c = 0; c < patches[i].control.size(); ++c)
      if (!patches[i].control[c].sigma_given) sigma[i][c] = check.estimated_sigma;
}

// The control points' weighted mean offset from the surface at `x` and the sum of weights.
std::pair<double, double> mean_offset(const std::vector<Patch>& patches, const Unknowns& x,
                                      const std::vector<std::vector<double>>& sigma) {
  const auto offsets = control_offsets(patches, x);
  double sw = 0, swr = 0;
  for (std::size_t i = 0; i < patches.size(); ++i)
    for (std::size_t c = 0; c < offsets[i].size(); ++c) {
      if (!std::isfinite(offsets[i][c])) continue;
      const double w = 1 / (sigma[i][c] * sigma[i][c]);
      sw += w;
      swr += w * offsets[i][c];
    }
  return {sw > 0 ? swr / sw : NAN, sw};
}

// The control points' offset against the surface the ties alone give, from the solution with
// every tie independent (`x`, `c`): there the control points' mean offset r is the difference
// D times the ties' share of the range offset's information, w_t / (w_t + w_c), the ties' w_t
// being what the formal variance leaves of the control points' w_c. Its standard error counts
// the ties' information as resampling found it (`ratio`) and the control points' final sigma.
void ties_offset(const std::vector<Patch>& patches, const Unknowns& x, const Covariance& c,
                 double ratio, const std::vector<std::vector<double>>& first_sigma,
                 const std::vector<std::vector<double>>& final_sigma, ControlCheck& check) {
  const auto [r, w_c] = mean_offset(patches, x, first_sigma);
  const double var = c.cov(kRange, kRange);
  if (!std::isfinite(r) || !(var > 0)) return;
  const double w_t = 1 / var - w_c;
  if (!(w_t > 0.05 / var)) return;  // the ties hardly see the range offset
  const double inflation = std::isfinite(ratio) ? std::max(1.0, ratio) : 1.0;
  const double final_w_c = mean_offset(patches, x, final_sigma).second;
  check.ties_offset = r * (w_t + w_c) / w_t;
  check.ties_offset_sigma = std::sqrt(inflation * inflation / w_t + 1 / final_w_c);
}

// ---- The solution

void fill_results(const Covariance& c, const Resampled& jack, const Unknowns& x,
                  const Shared& shared, Solution& sol) {
  Eigen::Vector4d sd = Eigen::Vector4d::Zero();
  for (int k = 0; k < kParams; ++k) {
    ParamResult& r = sol.params[k];
    if (!shared.free[k]) continue;
    r.observable = true;
    r.value = x.theta[k];
    r.sigma_formal = sd(k) = c.sigma(k);
    r.sigma_empirical = jack.sigma(k);
    r.sigma = std::isfinite(r.sigma_empirical) ? std::max(r.sigma_formal, r.sigma_empirical)
                                               : r.sigma_formal;
  }
  std::vector<int> idx;
  for (int k = 0; k < kParams; ++k)
    if (shared.free[k]) idx.push_back(k);
  Eigen::MatrixXd corr(idx.size(), idx.size());
  for (std::size_t i = 0; i < idx.size(); ++i)
    for (std::size_t j = 0; j < idx.size(); ++j) {
      corr(i, j) = c.cov(idx[i], idx[j]) / (sd(idx[i]) * sd(idx[j]));
      sol.correlation[idx[i]][idx[j]] = corr(i, j);
    }
  if (!idx.empty()) {
    Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eig(corr);
    sol.condition = eig.eigenvalues().maxCoeff() / eig.eigenvalues().minCoeff();
  }
  sol.values = x.theta;
}

// Holds parameter k at 0 from now on, for `reason`.
void hold(int k, const std::string& reason, Shared& shared, Unknowns& x, Solution& sol) {
  sol.params[k].reason = reason;
  shared.free[k] = false;
  x.theta[k] = 0;
}

class Solver {
 public:
  Solver(const std::vector<Line>& lines, const std::vector<Patch>& patches,
         const SolveSettings& settings, const SolveProgress& progress, Solution& sol)
      : lines_(lines),
        patches_(patches),
        s_(settings),
        progress_(progress),
        sol_(sol),
        model_(lines, patches, x_, shared_, settings.threads) {
    shared_.free = settings.solve;
    for (const Patch& p : patches) {
      first_sigma_.emplace_back();
      for (const ControlPoint& cp : p.control)
        first_sigma_.back().push_back(cp.sigma);
      sol.control.used += static_cast<int>(p.control.size());
    }
    shared_.control_sigma = final_sigma_ = first_sigma_;
    fit_planes(lines, patches, x_);
    shared_.inv_sigma = 1 / robust_sigma(model_.distances());
  }

  // Graduated: a wide Huber loss first (points start decimetres off their
  // planes), then Cauchy losses that leave gross errors out, the last at
  // three times the noise measured after the one before.
  void stage(bool huber, double scale_m, const char* name, int max_iterations = 50) {
    const double scale = scale_m * shared_.inv_sigma;
    if (huber)
      loss_.Reset(new ceres::HuberLoss(scale), ceres::TAKE_OWNERSHIP);
    else
      loss_.Reset(new ceres::CauchyLoss(scale), ceres::TAKE_OWNERSHIP);
    auto problem = model_.build(&loss_);
    sol_.iterations += model_.minimise(*problem, progress_, name, max_iterations);
    shared_.inv_sigma = 1 / robust_sigma(model_.distances());
  }

  Covariance covariance_now(ceres::LossFunction* loss, const char* what) {
    loss_.Reset(loss, ceres::TAKE_OWNERSHIP);
    auto problem = model_.build(&loss_);
    if (progress_) progress_(what);
    return covariance(*problem, x_.theta.data(), shared_, s_.threads);
  }

  // What the pattern cannot see at all is held once the planes have come
  // near the ground's: solving for it only drifts along the normal matrix's
  // null space.
  void first_look() {
    stage(true, 1.0, "solving (wide loss)", 10);
    const Covariance c = covariance_now(new ceres::HuberLoss(shared_.inv_sigma), "observability");
    // Three times the limit: such a parameter would not come within it.
    for (int k : singular(c, shared_, s_, 3))
      hold(k, unobservable_reason(c, k, s_), shared_, x_, sol_);
  }

  // The robust solution with every tie point independent, dropping what the formal standard
  // errors show undetermined; false when nothing is left to solve.
  bool formal_solution(Covariance& c) {
    bool first = true;
    while (any_free(shared_)) {
      if (first) {
        stage(true, 1.0, "solving (wide loss)");
        stage(false, 0.1, "solving (robust loss)", 20);
      }
      stage(false, 3 / shared_.inv_sigma, "solving (final loss)");
      first = false;
      c = covariance_now(new ceres::CauchyLoss(3), "standard errors");
      std::vector<int> drop = singular(c, shared_, s_, 5);
      if (drop.empty()) {
        const int worst = least_determined(c, shared_, s_);
        if (worst < 0) return true;
        drop.push_back(worst);
      }
      for (int k : drop)
        hold(k, unobservable_reason(c, k, s_), shared_, x_, sol_);
    }
    return false;
  }

  Resampled resample(const Groups& g) {
    if (progress_) progress_("resampling");
    loss_.Reset(new ceres::CauchyLoss(3), ceres::TAKE_OWNERSHIP);
    return jackknife(model_, &loss_, patches_, g, s_.threads);
  }

  // Resamples the solution with every tie independent, weighs the ties by what they are worth
  // against the control points and solves again with that weight; the parameters whose
  // larger standard error is beyond its limit are held and all is done again.
  void weighted_solution(Covariance c, const Groups& groups) {
    const bool control = sol_.control.used > 0;
    for (;;) {
      shared_.tie_weight = 1;
      shared_.control_sigma = first_sigma_;
      const Resampled independent = resample(groups);
      for (int k = 0; k < kParams; ++k)
        if (shared_.free[k]) sol_.params[k].resampling_ratio = independent.sigma(k) / c.sigma(k);
      const double inflation = tie_inflation();
      Resampled jack = independent;
      if (control) {
        if (!std::isfinite(sol_.control.estimated_sigma))
          estimate_control_sigma(patches_, x_, final_sigma_, sol_.control);
        if (shared_.free[kRange])
          ties_offset(patches_, x_, c, sol_.params[kRange].resampling_ratio, first_sigma_,
                      final_sigma_, sol_.control);
        shared_.tie_weight = 1 / inflation;
        shared_.control_sigma = final_sigma_;
        stage(false, 3 / shared_.inv_sigma, "solving (ties weighted)");
        c = covariance_now(new ceres::CauchyLoss(3), "standard errors");
        jack = resample(groups);
      }
      sol_.resamples = jack.count;
      if (!hold_beyond_limits(c, jack)) {
        fill_results(c, jack, x_, shared_, sol_);
        sol_.tie_weight = shared_.tie_weight;
        return;
      }
      if (!any_free(shared_)) return;
      shared_.tie_weight = 1;
      shared_.control_sigma = first_sigma_;
      stage(false, 3 / shared_.inv_sigma, "solving (final loss)");
      c = covariance_now(new ceres::CauchyLoss(3), "standard errors");
    }
  }

  // What the ties are worth against the control points: the variance ratio of the range
  // offset, the parameter control points are for (of the largest ratio when it is not
  // solved for). One weight for every tie cannot be right for every parameter; the range
  // offset's lets consistent control points set it where the ties cannot, and leaves the
  // angles to the ties, which see them far better than points on level ground.
  double tie_inflation() const {
    double ratio = shared_.free[kRange] ? sol_.params[kRange].resampling_ratio : 0;
    if (!shared_.free[kRange])
      for (int k = 0; k < kParams; ++k)
        if (shared_.free[k] && sol_.params[k].resampling_ratio > ratio)
          ratio = sol_.params[k].resampling_ratio;
    return std::isfinite(ratio) ? std::max(1.0, ratio * ratio) : 1.0;
  }

  // Holds the parameters whose empirical standard error is beyond the limit; true if any.
  bool hold_beyond_limits(const Covariance& c, const Resampled& jack) {
    bool any = false;
    for (int k = 0; k < kParams; ++k) {
      const double sigma = jack.sigma(k);
      if (!shared_.free[k] || !(sigma > s_.sigma_limit[k]) || !(sigma > c.sigma(k))) continue;
      hold(k,
           "standard error " + format_value(sigma, k) + " from resampling beyond the limit " +
               format_value(s_.sigma_limit[k], k) + " (its value moves with the points used)",
           shared_, x_, sol_);
      any = true;
    }
    return any;
  }

  void finish() {
    sol_.noise = 1 / shared_.inv_sigma;
    sol_.control_sigma = final_sigma_;
    if (sol_.control.used > 0) {
      const auto [offset, w] = mean_offset(patches_, x_, final_sigma_);
      sol_.control.offset = offset;
      sol_.control.offset_sigma = w > 0 ? 1 / std::sqrt(w) : NAN;
    }
    if (!any_free(shared_)) sol_.values = x_.theta;
    const auto d = model_.distances();
    sol_.gross.resize(d.size());
    for (std::size_t i = 0; i < d.size(); ++i)
      for (double v : d[i])
        sol_.gross[i].push_back(std::fabs(v) > 5 * sol_.noise);
  }

 private:
  const std::vector<Line>& lines_;
  const std::vector<Patch>& patches_;
  const SolveSettings& s_;
  const SolveProgress& progress_;
  Solution& sol_;
  Unknowns x_;
  Shared shared_;
  Model model_;
  ceres::LossFunctionWrapper loss_{nullptr, ceres::TAKE_OWNERSHIP};
  // Per patch and control point: the standard deviations as read (or the default), and as
  // the control points' agreement gives them where the rows give none.
  std::vector<std::vector<double>> first_sigma_, final_sigma_;
};

}  // namespace

Solution solve(const std::vector<Line>& lines, const std::vector<Patch>& patches,
               const SolveSettings& settings, const SolveProgress& progress) {
  Solution sol;
  for (int k = 0; k < kParams; ++k)
    sol.params[k].solved = settings.solve[k];
  Solver solver(lines, patches, settings, progress, sol);
  solver.first_look();
  Covariance c;
  if (solver.formal_solution(c))
    solver.weighted_solution(
        c, resampling_groups(lines.size(), patches, settings.block_seconds, settings.resamples));
  solver.finish();
  return sol;
}

}  // namespace bfcal
