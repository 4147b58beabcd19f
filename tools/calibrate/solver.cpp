#include "solver.hpp"

#include <ceres/ceres.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include <Eigen/Dense>

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

// What every point's cost reads: the weight and the parameters solved for.
struct Shared {
  double inv_sigma = 1;  // 1 / noise, metres^-1
  std::array<bool, kParams> free{};
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

class Model {
 public:
  Model(const std::vector<Line>& lines, const std::vector<Patch>& patches, Unknowns& x,
        Shared& shared, int threads)
      : lines_(lines), patches_(patches), x_(x), shared_(shared), threads_(threads) {}

  // A problem over the current unknowns with `loss` on every tie point.
  std::unique_ptr<ceres::Problem> build(ceres::LossFunction* loss) const {
    ceres::Problem::Options o;
    o.loss_function_ownership = ceres::DO_NOT_TAKE_OWNERSHIP;
    auto problem = std::make_unique<ceres::Problem>(o);
    double* theta = x_.theta.data();
    problem->AddParameterBlock(theta, kParams);
    for (std::size_t i = 0; i < patches_.size(); ++i) {
      const Patch& patch = patches_[i];
      double* plane = x_.planes[i].data();
      for (const TiePoint& t : patch.points)
        problem->AddResidualBlock(new PointCost(t, lines_[t.line], patch.frame, shared_), loss,
                                  theta, plane);
      for (const ControlPoint& cp : patch.control) {
        const Local q = to_local(patch.frame, bf::SurfacePoint{cp.lat, cp.lon, cp.h, 0});
        problem->AddResidualBlock(new ceres::AutoDiffCostFunction<ControlCost, 1, 3>(
                                      new ControlCost{q.e, q.n, q.u, 1 / cp.sigma}),
                                  control_loss_.get(), plane);
      }
    }
    problem->AddResidualBlock(
        new ceres::AutoDiffCostFunction<PriorCost, kParams, kParams>(new PriorCost), nullptr,
        theta);
    std::vector<int> fixed;
    for (int k = 0; k < kParams; ++k)
      if (!shared_.free[k]) fixed.push_back(k);
    if (fixed.size() == kParams)
      problem->SetParameterBlockConstant(theta);
    else if (!fixed.empty())
      problem->SetManifold(theta, new ceres::SubsetManifold(kParams, fixed));
    return problem;
  }

  int minimise(ceres::Problem& problem, const SolveProgress& progress, const std::string& stage,
               int max_iterations) const {
    ceres::Solver::Options o;
    o.linear_solver_type = ceres::DENSE_SCHUR;
    auto* ordering = new ceres::ParameterBlockOrdering;
    for (auto& plane : x_.planes)
      ordering->AddElementToGroup(plane.data(), 0);
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
  // Beyond three of its standard deviations a control point pulls no harder: one surveyed or
  // typed wrong cannot drag the range offset with it while the others agree.
  std::unique_ptr<ceres::LossFunction> control_loss_ = std::make_unique<ceres::HuberLoss>(3.0);
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
  Shared& shared_;
  int threads_;
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
    const double ratio = std::sqrt(c.cov(k, k)) / s.sigma_limit[k];
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
    if (shared.free[k] && (!c.ok || !(std::sqrt(c.cov(k, k)) < factor * s.sigma_limit[k])))
      out.push_back(k);
  return out;
}

std::string unobservable_reason(const Covariance& c, int k, const SolveSettings& s) {
  const double sigma = std::sqrt(c.cov(k, k));
  if (!c.ok || !(sigma < 0.5 * kPriorSigma[k]))
    return "the flight pattern does not determine it (singular normal matrix)";
  return "standard error " + format_value(sigma, k) + " beyond the limit " +
         format_value(s.sigma_limit[k], k) + " (near-singular normal matrix)";
}

void fill_results(const Covariance& c, const Unknowns& x, const Shared& shared, Solution& sol) {
  Eigen::Vector4d sd = Eigen::Vector4d::Zero();
  for (int k = 0; k < kParams; ++k) {
    ParamResult& r = sol.params[k];
    if (!shared.free[k]) continue;
    r.observable = true;
    r.value = x.theta[k];
    r.sigma = sd(k) = std::sqrt(c.cov(k, k));
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

}  // namespace

Solution solve(const std::vector<Line>& lines, const std::vector<Patch>& patches,
               const SolveSettings& settings, const SolveProgress& progress) {
  Solution sol;
  Unknowns x;
  Shared shared;
  shared.free = settings.solve;
  for (int k = 0; k < kParams; ++k)
    sol.params[k].solved = settings.solve[k];
  fit_planes(lines, patches, x);
  Model model(lines, patches, x, shared, settings.threads);
  shared.inv_sigma = 1 / robust_sigma(model.distances());

  ceres::LossFunctionWrapper loss(nullptr, ceres::TAKE_OWNERSHIP);
  // Graduated: a wide Huber loss first (points start decimetres off their
  // planes), then Cauchy losses that leave gross errors out, the last at
  // three times the noise measured after the one before.
  auto run_stage = [&](bool huber, double scale_m, const char* name, int max_iterations = 50) {
    const double scale = scale_m * shared.inv_sigma;
    if (huber)
      loss.Reset(new ceres::HuberLoss(scale), ceres::TAKE_OWNERSHIP);
    else
      loss.Reset(new ceres::CauchyLoss(scale), ceres::TAKE_OWNERSHIP);
    auto problem = model.build(&loss);
    sol.iterations += model.minimise(*problem, progress, name, max_iterations);
    shared.inv_sigma = 1 / robust_sigma(model.distances());
  };
  // What the pattern cannot see at all is held once the planes have come
  // near the ground's: solving for it only drifts along the normal matrix's
  // null space.
  run_stage(true, 1.0, "solving (wide loss)", 10);
  {
    loss.Reset(new ceres::HuberLoss(shared.inv_sigma), ceres::TAKE_OWNERSHIP);
    auto problem = model.build(&loss);
    if (progress) progress("observability");
    const Covariance c = covariance(*problem, x.theta.data(), shared, settings.threads);
    // Three times the limit: such a parameter would not come within it.
    for (int k : singular(c, shared, settings, 3)) {
      sol.params[k].reason = unobservable_reason(c, k, settings);
      shared.free[k] = false;
      x.theta[k] = 0;
    }
  }
  bool first = true;
  while (std::any_of(shared.free.begin(), shared.free.end(), [](bool f) { return f; })) {
    if (first) {
      run_stage(true, 1.0, "solving (wide loss)");
      run_stage(false, 0.1, "solving (robust loss)", 20);
    }
    run_stage(false, 3 / shared.inv_sigma, "solving (final loss)");
    first = false;
    loss.Reset(new ceres::CauchyLoss(3), ceres::TAKE_OWNERSHIP);
    auto problem = model.build(&loss);
    if (progress) progress("standard errors");
    const Covariance c = covariance(*problem, x.theta.data(), shared, settings.threads);
    std::vector<int> drop = singular(c, shared, settings, 5);
    if (drop.empty()) {
      const int worst = least_determined(c, shared, settings);
      if (worst < 0) {
        fill_results(c, x, shared, sol);
        break;
      }
      drop.push_back(worst);
    }
    for (int k : drop) {
      sol.params[k].reason = unobservable_reason(c, k, settings);
      shared.free[k] = false;
      x.theta[k] = 0;
    }
    if (std::none_of(shared.free.begin(), shared.free.end(), [](bool f) { return f; })) {
      sol.values = x.theta;
      break;
    }
  }
  sol.noise = 1 / shared.inv_sigma;
  const auto d = model.distances();
  sol.gross.resize(d.size());
  for (std::size_t i = 0; i < d.size(); ++i)
    for (double v : d[i])
      sol.gross[i].push_back(std::fabs(v) > 5 * sol.noise);
  return sol;
}

}  // namespace bfcal
