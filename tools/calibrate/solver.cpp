#include "solver.hpp"

#include <ceres/ceres.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numeric>

#include <Eigen/Dense>

#include "control.hpp"
#include "kit/median.hpp"
#include "misfit.hpp"
#include "observability.hpp"
#include "resampling.hpp"
#include "textio/error.hpp"

namespace bfcal {
namespace {

// Forward differences: steps small against any boresight that matters (the
// derivative's error is about half the step in radians, 1e-6 of itself) and
// large against the geolocation's rounding (1e-4 degrees moves a point 0.6 mm
// at 350 m).
constexpr std::array<double, kParams> kStep{1e-4, 1e-4, 1e-4, 1e-4};

enum class Loss { huber, cauchy };

// A stage of the robust solution: its loss and the loss's scale, in metres or (in_noise)
// in multiples of the noise measured after the stage before.
struct LossStage {
  const char* name;  // as the progress line and calibration.json show it
  Loss loss;
  double scale;
  bool in_noise;
  int max_iterations;
};

// The loss schedule, graduated: a wide Huber loss first (points start decimetres off their
// planes), then Cauchy losses that leave gross errors out, the last at three times the
// noise. The first look, before what the pattern cannot see is held, is the wide stage cut
// short.
constexpr LossStage kSchedule[] = {
    {"solving (wide loss)", Loss::huber, 1.0, false, 50},
    {"solving (robust loss)", Loss::cauchy, 0.1, false, 20},
    {"solving (final loss)", Loss::cauchy, 3, true, 50},
};
constexpr LossStage kFirstLook{"solving (wide loss)", Loss::huber, 1.0, false, 10};
constexpr const LossStage& kFinalStage = kSchedule[std::size(kSchedule) - 1];

// What every point's cost reads: the weights and the parameters solved for.
struct Shared {
  double inv_sigma = 1;  // 1 / noise, metres^-1
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

// A control point's height against its patch's plane less the offset of the line block over
// it (the lines' surface floats by their trajectory's errors), in its own units.
struct ControlOffsetCost {
  double e, n, u, inv_sigma;
  template <class T>
  bool operator()(const T* plane, const T* offset, T* r) const {
    r[0] = (plane[0] + plane[1] * e + plane[2] * n - offset[0] - u) * inv_sigma;
    return true;
  }
};

// A line block's offset against its standard deviation.
struct OffsetPrior {
  double inv_sigma;
  template <class T>
  bool operator()(const T* offset, T* r) const {
    r[0] = offset[0] * inv_sigma;
    return true;
  }
};

// The ties summarised as one observation of the parameters: L (theta - theta_ties), where
// L'L is the inverse of the ties' covariance (rows and columns of held parameters zero).
struct TiePrior {
  Eigen::Matrix4d l;
  Eigen::Vector4d theta;
  template <class T>
  bool operator()(const T* p, T* r) const {
    for (int i = 0; i < kParams; ++i) {
      r[i] = T(0);
      for (int j = 0; j < kParams; ++j)
        r[i] += l(i, j) * (p[j] - theta(j));
    }
    return true;
  }
};

// The unknowns: the parameters, one plane a patch and one offset a line block (only those
// under control points are solved for).
struct Unknowns {
  Params theta{};
  std::vector<std::array<double, 3>> planes;
  std::vector<double> offsets;
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

// The ties summarised: their own solution and covariance over the parameters (zero where held).
struct TieSummary {
  Eigen::Vector4d theta = Eigen::Vector4d::Zero();
  Eigen::Matrix4d formal = Eigen::Matrix4d::Zero();     // from ceres::Covariance
  Eigen::Matrix4d resampled = Eigen::Matrix4d::Zero();  // the jackknife's
  Eigen::Matrix4d honest = Eigen::Matrix4d::Zero();     // diagonal: the larger of the two
};

// One line's points in a patch of control points: points [first, last) of the patch, a
// plane of their own, the block of time they were measured in, and how many lines the patch
// holds.
struct LineAtControl {
  std::size_t patch = 0, first = 0, last = 0;
  std::array<double, 3> plane{};
  int block = 0;
  double lines = 1;
};

class Model {
 public:
  Model(const std::vector<Line>& lines, const std::vector<Patch>& patches, Unknowns& x,
        const Shared& shared, int threads)
      : lines_(lines), patches_(patches), x_(x), shared_(shared), threads_(threads) {}

  // A problem over the current unknowns with `loss` on every tie point and the weak prior on
  // the parameters; without the patches of control points when `ties_only`. Its residual
  // blocks are recorded in `rows()`, in the order added: patch by patch, its points then its
  // control points, and the prior last.
  std::unique_ptr<ceres::Problem> build(ceres::LossFunction* loss, bool ties_only = false) {
    auto problem = new_problem();
    double* theta = x_.theta.data();
    for (std::size_t i = 0; i < patches_.size(); ++i) {
      if (ties_only && !patches_[i].control.empty()) continue;
      add_points(*problem, i, loss);
      for (std::size_t c = 0; c < patches_[i].control.size(); ++c) {
        const Local q = control_local(patches_[i], patches_[i].control[c]);
        rows_.push_back({problem->AddResidualBlock(
                             new ceres::AutoDiffCostFunction<ControlCost, 1, 3>(
                                 new ControlCost{q.e, q.n, q.u, 1 / shared_.control_sigma[i][c]}),
                             control_loss_.get(), x_.planes[i].data()),
                         control_loss_.get(), static_cast<int>(i), -1});
      }
    }
    rows_.push_back(
        {problem->AddResidualBlock(
             new ceres::AutoDiffCostFunction<PriorCost, kParams, kParams>(new PriorCost), nullptr,
             theta),
         nullptr, -1, -1});
    hold_fixed(*problem);
    return problem;
  }

  // The range offset alone, the angles held at their values: the ties' range offset
  // (`ties`) with each line's points in the patches of control points on a plane of its own
  // (no tie between lines there), held against each control point less the offset of its
  // block of time, the offsets held to the lines' float `line_sigma` (none when 0). A control
  // point over n lines counts n times with sqrt(n) times its standard deviation.
  std::unique_ptr<ceres::Problem> build_final(ceres::LossFunction* loss, const TiePrior& ties,
                                              std::vector<LineAtControl>& at_control,
                                              double line_sigma) {
    auto problem = new_problem();
    problem->AddResidualBlock(
        new ceres::AutoDiffCostFunction<TiePrior, kParams, kParams>(new TiePrior(ties)), nullptr,
        x_.theta.data());
    std::vector<char> offset_used(x_.offsets.size(), 0);
    for (LineAtControl& a : at_control) {
      const Patch& patch = patches_[a.patch];
      double* plane = a.plane.data();
      for (std::size_t k = a.first; k < a.last; ++k) {
        const TiePoint& t = patch.points[k];
        problem->AddResidualBlock(new PointCost(t, lines_[t.line], patch.frame, shared_), loss,
                                  x_.theta.data(), plane);
      }
      for (std::size_t c = 0; c < patch.control.size(); ++c) {
        const Local q = control_local(patch, patch.control[c]);
        const double w = 1 / (shared_.control_sigma[a.patch][c] * std::sqrt(a.lines));
        if (line_sigma > 0) {
          double* offset = &x_.offsets[static_cast<std::size_t>(a.block)];
          problem->AddResidualBlock(new ceres::AutoDiffCostFunction<ControlOffsetCost, 1, 3, 1>(
                                        new ControlOffsetCost{q.e, q.n, q.u, w}),
                                    control_loss_.get(), plane, offset);
          if (!offset_used[static_cast<std::size_t>(a.block)]++)
            problem->AddResidualBlock(
                new ceres::AutoDiffCostFunction<OffsetPrior, 1, 1>(new OffsetPrior{1 / line_sigma}),
                nullptr, offset);
        } else {
          problem->AddResidualBlock(
              new ceres::AutoDiffCostFunction<ControlCost, 1, 3>(new ControlCost{q.e, q.n, q.u, w}),
              control_loss_.get(), plane);
        }
      }
    }
    problem->SetManifold(x_.theta.data(),
                         new ceres::SubsetManifold(kParams, {kRoll, kPitch, kHeading}));
    return problem;
  }

  // Ceres's summary; stops when the solver finds no usable solution.
  ceres::Solver::Summary minimise(ceres::Problem& problem, const SolveProgress& progress,
                                  const std::string& stage, int max_iterations) const {
    ceres::Solver::Options o;
    o.linear_solver_type = ceres::DENSE_SCHUR;
    // The planes first (each only in its patch's rows), then the rest.
    auto* ordering = new ceres::ParameterBlockOrdering;
    std::vector<double*> blocks;
    problem.GetParameterBlocks(&blocks);
    for (double* b : blocks)
      ordering->AddElementToGroup(b, problem.ParameterBlockSize(b) == 3 ? 0 : 1);
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
    return summary;
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

  const std::vector<Row>& rows() const { return rows_; }

  std::vector<double*> plane_blocks() const {
    std::vector<double*> out;
    for (auto& plane : x_.planes)
      out.push_back(plane.data());
    return out;
  }

 private:
  std::unique_ptr<ceres::Problem> new_problem() {
    ceres::Problem::Options o;
    o.loss_function_ownership = ceres::DO_NOT_TAKE_OWNERSHIP;
    auto problem = std::make_unique<ceres::Problem>(o);
    problem->AddParameterBlock(x_.theta.data(), kParams);
    rows_.clear();
    return problem;
  }

  void add_points(ceres::Problem& problem, std::size_t i, ceres::LossFunction* loss) {
    const Patch& patch = patches_[i];
    for (std::size_t k = 0; k < patch.points.size(); ++k) {
      const TiePoint& t = patch.points[k];
      rows_.push_back(
          {problem.AddResidualBlock(new PointCost(t, lines_[t.line], patch.frame, shared_), loss,
                                    x_.theta.data(), x_.planes[i].data()),
           loss, static_cast<int>(i), static_cast<int>(k)});
    }
  }

  void hold_fixed(ceres::Problem& problem) const {
    std::vector<int> fixed;
    for (int k = 0; k < kParams; ++k)
      if (!shared_.free[k]) fixed.push_back(k);
    if (fixed.size() == kParams)
      problem.SetParameterBlockConstant(x_.theta.data());
    else if (!fixed.empty())
      problem.SetManifold(x_.theta.data(), new ceres::SubsetManifold(kParams, fixed));
  }

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
  const Shared& shared_;
  int threads_;
  std::vector<Row> rows_;
};

// The noise: the robust standard deviation of every tie point's distance from its plane
// (per patch), at least 0.01 mm; 0 without points.
double noise_of(const std::vector<std::vector<double>>& d) {
  std::vector<double> all;
  for (const auto& v : d)
    all.insert(all.end(), v.begin(), v.end());
  if (all.empty()) return 0;
  return std::max(robust_sigma(all), 1e-5);
}

// The covariance of the parameters `free` (the others held), from Ceres.
Covariance covariance(ceres::Problem& problem, double* theta, const std::array<bool, kParams>& free,
                      int threads) {
  ceres::Covariance::Options o;
  o.algorithm_type = ceres::SPARSE_QR;
  o.num_threads = threads;
  ceres::Covariance cov(o);
  Covariance out;
  std::vector<std::pair<const double*, const double*>> blocks{{theta, theta}};
  if (!cov.Compute(blocks, &problem)) return out;
  std::vector<int> idx;
  for (int k = 0; k < kParams; ++k)
    if (free[k]) idx.push_back(k);
  const int m = static_cast<int>(idx.size());
  std::vector<double> tangent(static_cast<std::size_t>(m * m));
  if (!cov.GetCovarianceBlockInTangentSpace(theta, theta, tangent.data())) return out;
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < m; ++j)
      out.cov(idx[i], idx[j]) = tangent[static_cast<std::size_t>(i * m + j)];
  out.ok = true;
  return out;
}

bool any_free(const Shared& shared) {
  return std::any_of(shared.free.begin(), shared.free.end(), [](bool f) { return f; });
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
  const double med = kit::median(r);
  for (double& v : r)
    v -= med;
  check.estimated_sigma = std::max(kControlSigmaFloor, robust_sigma(r));
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

// ---- Covariances over the free parameters

std::vector<int> free_indices(const Shared& shared) {
  std::vector<int> idx;
  for (int k = 0; k < kParams; ++k)
    if (shared.free[k]) idx.push_back(k);
  return idx;
}

// A matrix over the free parameters as a 4 x 4 one (zeros elsewhere).
Eigen::Matrix4d embed(const Eigen::MatrixXd& m, const std::vector<int>& idx) {
  Eigen::Matrix4d out = Eigen::Matrix4d::Zero();
  for (std::size_t i = 0; i < idx.size(); ++i)
    for (std::size_t j = 0; j < idx.size(); ++j)
      out(idx[i], idx[j]) = m(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(j));
  return out;
}

// ---- The solution

void fill_results(const Eigen::Matrix4d& formal, const Eigen::Matrix4d* resampled,
                  const Unknowns& x, const Shared& shared, Solution& sol) {
  Eigen::Vector4d sd = Eigen::Vector4d::Zero();
  const std::vector<int> idx = free_indices(shared);
  for (int k : idx) {
    ParamResult& r = sol.params[k];
    r.observable = true;
    r.value = x.theta[k];
    r.sigma_formal = sd(k) = std::sqrt(formal(k, k));
    r.sigma_empirical = resampled != nullptr ? std::sqrt((*resampled)(k, k)) : NAN;
    r.sigma = std::isfinite(r.sigma_empirical) ? std::max(r.sigma_formal, r.sigma_empirical)
                                               : r.sigma_formal;
  }
  Eigen::MatrixXd corr(idx.size(), idx.size());
  for (std::size_t i = 0; i < idx.size(); ++i)
    for (std::size_t j = 0; j < idx.size(); ++j) {
      corr(i, j) = formal(idx[i], idx[j]) / (sd(idx[i]) * sd(idx[j]));
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
    shared_.inv_sigma = 1 / noise_of(model_.distances());
  }

  // One stage of the loss schedule; the noise measured again after it.
  void stage(const LossStage& st) {
    const double scale_m = st.in_noise ? st.scale / shared_.inv_sigma : st.scale;
    const double scale = scale_m * shared_.inv_sigma;
    if (st.loss == Loss::huber)
      loss_.Reset(new ceres::HuberLoss(scale), ceres::TAKE_OWNERSHIP);
    else
      loss_.Reset(new ceres::CauchyLoss(scale), ceres::TAKE_OWNERSHIP);
    auto problem = model_.build(&loss_);
    record(st.name, st.loss, scale_m,
           model_.minimise(*problem, progress_, st.name, st.max_iterations));
    shared_.inv_sigma = 1 / noise_of(model_.distances());
  }

  // A minimisation's figures kept for calibration.json.
  void record(const char* name, Loss loss, double scale_m, const ceres::Solver::Summary& s) {
    StageSummary r;
    r.stage = name;
    r.loss = loss == Loss::huber ? "huber" : "cauchy";
    r.scale_m = scale_m;
    r.residuals = s.num_residual_blocks;
    r.iterations = static_cast<int>(s.iterations.size());
    r.initial_cost = s.initial_cost;
    r.final_cost = s.final_cost;
    r.termination = ceres::TerminationTypeToString(s.termination_type);
    sol_.iterations += r.iterations;
    sol_.stages.push_back(std::move(r));
  }

  Covariance covariance_now(ceres::LossFunction* loss, const char* what, bool ties_only = false) {
    loss_.Reset(loss, ceres::TAKE_OWNERSHIP);
    auto problem = model_.build(&loss_, ties_only);
    if (progress_) progress_(what);
    return covariance(*problem, x_.theta.data(), shared_.free, s_.threads);
  }

  // What the pattern cannot see at all is held once the planes have come
  // near the ground's: solving for it only drifts along the normal matrix's
  // null space.
  void first_look() {
    stage(kFirstLook);
    const Covariance c = covariance_now(new ceres::HuberLoss(shared_.inv_sigma), "observability");
    // Three times the limit: such a parameter would not come within it.
    for (int k : singular(c, shared_.free, s_.sigma_limit, 3))
      hold(k, unobservable_reason(c, k, s_.sigma_limit), shared_, x_, sol_);
  }

  // The robust solution with every point independent, dropping what the formal standard
  // errors show undetermined; false when nothing is left to solve.
  bool formal_solution(Covariance& c) {
    bool first = true;
    while (any_free(shared_)) {
      if (first) {
        for (const LossStage& st : kSchedule)
          if (&st != &kFinalStage) stage(st);
      }
      stage(kFinalStage);
      first = false;
      c = covariance_now(new ceres::CauchyLoss(3), "standard errors");
      std::vector<int> drop = singular(c, shared_.free, s_.sigma_limit, 5);
      if (drop.empty()) {
        const int worst = least_determined(c, shared_.free, s_.sigma_limit);
        if (worst < 0) return true;
        drop.push_back(worst);
      }
      for (int k : drop)
        hold(k, unobservable_reason(c, k, s_.sigma_limit), shared_, x_, sol_);
    }
    return false;
  }

  // The values with each group of blocks left out in turn, as steps from the solution of
  // the problem over the patches `keep` takes (free parameters, tangent order).
  std::vector<Eigen::VectorXd> resamples(const Groups& groups, const Keep& keep) {
    if (progress_) progress_("resampling");
    const int free = static_cast<int>(free_indices(shared_).size());
    loss_.Reset(new ceres::CauchyLoss(3), ceres::TAKE_OWNERSHIP);
    auto problem = model_.build(&loss_);
    const std::vector<NewtonRow> rows = newton_rows(*problem, model_.rows(), x_.theta.data(),
                                                    model_.plane_blocks(), free, s_.threads);
    std::vector<Eigen::VectorXd> out;
    if (rows.empty()) return out;
    const Reduced all = reduce(rows, keep, free);
    out.push_back(-all.h.ldlt().solve(all.b));  // the solution of `keep`'s points alone
    for (int j = 0; j < groups.count; ++j) {
      const Reduced r = reduce(rows, leave_out(patches_, keep, groups, j), free);
      const Eigen::VectorXd step = -r.h.ldlt().solve(r.b);
      if (step.allFinite()) out.push_back(step);
    }
    return out;
  }

  // Without control points: the formal and the resampled standard errors of the solution;
  // the parameters whose larger one is beyond its limit are held and all is done again.
  void independent_solution(Covariance c, const Groups& groups) {
    const Keep all = patches_where(patches_, [](std::size_t) { return true; });
    for (;;) {
      const std::vector<int> idx = free_indices(shared_);
      std::vector<Eigen::VectorXd> values = resamples(groups, all);
      if (!values.empty()) values.erase(values.begin());
      sol_.resamples = static_cast<int>(values.size());
      const Eigen::Matrix4d emp = embed(jackknife_covariance(values), idx);
      const bool resampled = values.size() >= 2;
      for (int k : idx)
        sol_.params[k].resampling_ratio = resampled ? std::sqrt(emp(k, k) / c.cov(k, k)) : NAN;
      if (!hold_beyond_limits(c.cov, resampled ? &emp : nullptr)) {
        fill_results(c.cov, resampled ? &emp : nullptr, x_, shared_, sol_);
        return;
      }
      if (!any_free(shared_)) return;
      stage(kFinalStage);
      c = covariance_now(new ceres::CauchyLoss(3), "standard errors");
    }
  }

  // The ties summarised from the solution with every point independent: their own solution
  // one Newton step away, its formal covariance from the ties' problem and its resampled one.
  // Each parameter counts with the larger of its two variances, on its own: the resampled
  // covariances between parameters, from a dozen resamples, are too rough to lean on (a
  // control point that fixes the range offset would fix through them whatever they happen
  // to tie to it).
  TieSummary summarise_ties(const Groups& groups) {
    const std::vector<int> idx = free_indices(shared_);
    const Keep ties =
        patches_where(patches_, [&](std::size_t i) { return patches_[i].control.empty(); });
    std::vector<Eigen::VectorXd> values = resamples(groups, ties);
    TieSummary t;
    const Covariance formal =
        covariance_now(new ceres::CauchyLoss(3), "standard errors (ties)", true);
    t.formal = formal.cov;
    t.honest = formal.cov;
    if (values.empty()) return t;
    const Eigen::VectorXd own = values.front();
    values.erase(values.begin());
    for (std::size_t k = 0; k < idx.size(); ++k)
      t.theta(idx[k]) = x_.theta[idx[k]] + own(static_cast<Eigen::Index>(k));
    sol_.resamples = static_cast<int>(values.size());
    if (values.size() < 2) return t;
    t.resampled = embed(jackknife_covariance(values), idx);
    t.honest = Eigen::Matrix4d::Zero();
    for (int k : idx) {
      sol_.params[k].resampling_ratio = std::sqrt(t.resampled(k, k) / t.formal(k, k));
      t.honest(k, k) = std::max(t.formal(k, k), t.resampled(k, k));
    }
    return t;
  }

  // How far a line's surface floats from the others' beyond the noise, metres: the misfit
  // after, over what the noise leaves of it, shared by the two lines of each distance.
  double line_float() const {
    std::vector<std::vector<bool>> gross;
    const double noise = 1 / shared_.inv_sigma;
    for (const auto& d : model_.distances()) {
      gross.emplace_back();
      for (double v : d)
        gross.back().push_back(std::fabs(v) > 5 * noise);
    }
    const double rms = misfit(lines_, patches_, gross, x_.theta).rms;
    const double expected = misfit_from_noise(patches_, noise);
    return std::isfinite(rms) ? std::sqrt(std::max(0.0, rms * rms - expected * expected) / 2) : 0;
  }

  // Each line's points in the patches of control points, on their own plane at the current
  // values, with the most frequent block of time among them.
  std::vector<LineAtControl> lines_at_control(const Groups& g) const {
    std::vector<LineAtControl> out;
    for (std::size_t i = 0; i < patches_.size(); ++i) {
      const auto& pts = patches_[i].points;
      if (patches_[i].control.empty()) continue;
      const std::size_t begin = out.size();
      for (std::size_t b = 0; b < pts.size();) {
        std::size_t e = b;
        while (e < pts.size() && pts[e].line == pts[b].line)
          ++e;
        LineAtControl a;
        a.patch = i;
        a.first = b;
        a.last = e;
        std::vector<Local> loc;
        std::vector<int> blocks;
        for (std::size_t k = b; k < e; ++k) {
          loc.push_back(
              to_local(patches_[i].frame, locate(pts[k].m, lines_[pts[k].line], x_.theta)));
          blocks.push_back(g.block[i][k]);
        }
        const PlaneFit f = fit_plane(loc);
        b = e;
        if (!f.ok) continue;
        a.plane = {f.a, f.b, f.c};
        std::sort(blocks.begin(), blocks.end());
        int best = 0;
        for (std::size_t j = 0, run = 0; j < blocks.size(); ++j) {
          run = j > 0 && blocks[j] == blocks[j - 1] ? run + 1 : 1;
          if (static_cast<int>(run) > best) {
            best = static_cast<int>(run);
            a.block = blocks[j];
          }
        }
        out.push_back(a);
      }
      for (std::size_t k = begin; k < out.size(); ++k)
        out[k].lines = static_cast<double>(out.size() - begin);
    }
    return out;
  }

  // The ties' range offset (its variance widened by `widen`) solved with the control points,
  // the angles held at the ties' values; its formal variance returned.
  double combine(const TieSummary& ties, double widen, std::vector<LineAtControl>& at_control) {
    Eigen::Matrix4d l = Eigen::Matrix4d::Zero();
    l(kRange, kRange) = 1 / std::sqrt(ties.honest(kRange, kRange) * widen);
    for (int k = 0; k < kParams; ++k)
      x_.theta[k] = ties.theta(k);
    shared_.control_sigma = final_sigma_;
    loss_.Reset(new ceres::CauchyLoss(3), ceres::TAKE_OWNERSHIP);
    auto problem =
        model_.build_final(&loss_, TiePrior{l, ties.theta}, at_control, sol_.control.line_sigma);
    const char* name = "solving with the control points";
    record(name, Loss::cauchy, 3 / shared_.inv_sigma,
           model_.minimise(*problem, progress_, name, 50));
    if (progress_) progress_("standard errors");
    return covariance(*problem, x_.theta.data(), {false, false, false, true}, s_.threads)
        .cov(kRange, kRange);
  }

  // With control points and the range offset solved for: the angles are the ties' own, with
  // their standard errors; the range offset is the ties' and the control points' together,
  // each line's surface held against the control points under it, less the float of its block
  // of time. Where the ties' range offset and the one found differ by more than the standard
  // error of the difference, the ties' variance is widened by the square of the ratio and all
  // solved again: control points that agree with one another set what the ties cannot.
  // Control points over level ground say little of the angles, and over one line what they
  // say is that line's errors: they are left to the ties. The parameters whose larger
  // standard error is beyond its limit are held and all is done again.
  void control_solution(Covariance c, const Groups& groups) {
    estimate_control_sigma(patches_, x_, final_sigma_, sol_.control);
    sol_.control.line_sigma = line_float();
    x_.offsets.assign(static_cast<std::size_t>(groups.blocks), 0);
    while (shared_.free[kRange]) {
      const std::vector<int> idx = free_indices(shared_);
      const TieSummary ties = summarise_ties(groups);
      std::vector<LineAtControl> at_control = lines_at_control(groups);
      double f = combine(ties, 1, at_control);
      const double honest = ties.honest(kRange, kRange);
      const double difference = std::sqrt(std::max(0.0, honest - f));
      const double z = (x_.theta[kRange] - ties.theta(kRange)) / difference;
      for (int k : idx) {
        sol_.control.ties_value[k] = ties.theta(k);
        sol_.control.ties_sigma[k] = std::sqrt(ties.honest(k, k));
      }
      sol_.control.disagreement[kRange] = z;
      const double widen = std::fabs(z) > 1 ? z * z : 1;
      if (widen > 1) f = combine(ties, widen, at_control);
      // The ties' covariances, the range offset's row and column carried through the
      // combination: its formal variance the combination's, its resampled spread the ties'
      // times the ties' share of its weight.
      const double gain = f / (honest * widen);
      Eigen::Matrix4d formal = ties.formal, emp = ties.resampled;
      const double scale = std::sqrt(f / ties.formal(kRange, kRange));
      formal.row(kRange) *= scale;
      formal.col(kRange) *= scale;
      formal(kRange, kRange) = f;
      emp.row(kRange) *= gain;
      emp.col(kRange) *= gain;
      const bool resampled = sol_.resamples >= 2;
      if (!hold_beyond_limits(formal, resampled ? &emp : nullptr)) {
        fill_results(formal, resampled ? &emp : nullptr, x_, shared_, sol_);
        fit_planes(lines_, patches_, x_);  // the lines' own surface, for the figures
        return;
      }
      if (!any_free(shared_)) return;
      shared_.control_sigma = first_sigma_;
      fit_planes(lines_, patches_, x_);
      stage(kFinalStage);
      c = covariance_now(new ceres::CauchyLoss(3), "standard errors");
    }
    independent_solution(c, groups);
  }

  void solve(const Covariance& c) {
    const Groups groups =
        resampling_groups(lines_.size(), patches_, s_.block_seconds, s_.resamples);
    if (sol_.control.used > 0)
      control_solution(c, groups);
    else
      independent_solution(c, groups);
  }

  // Holds the parameters whose larger standard error, formal or resampled, is beyond the
  // limit; true if any.
  bool hold_beyond_limits(const Eigen::Matrix4d& formal, const Eigen::Matrix4d* resampled) {
    bool any = false;
    for (int k : free_indices(shared_)) {
      const double f = std::sqrt(formal(k, k));
      const double r = resampled != nullptr ? std::sqrt((*resampled)(k, k)) : 0;
      if (!(std::max(f, r) > s_.sigma_limit[k])) continue;
      hold(k,
           "standard error " + format_value(std::max(f, r), k) + (r > f ? " from resampling" : "") +
               " beyond the limit " + format_value(s_.sigma_limit[k], k) +
               (r > f ? " (its value moves with the points used)" : ""),
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
      // The points' own errors and their line blocks' floats.
      std::vector<int> blocks;
      for (const LineAtControl& a : lines_at_control(
               resampling_groups(lines_.size(), patches_, s_.block_seconds, s_.resamples)))
        blocks.push_back(a.block);
      std::sort(blocks.begin(), blocks.end());
      const auto n = std::unique(blocks.begin(), blocks.end()) - blocks.begin();
      const double line = sol_.control.line_sigma;
      sol_.control.offset_sigma =
          w > 0 ? std::sqrt(1 / w + (n > 0 ? line * line / static_cast<double>(n) : 0)) : NAN;
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
  if (solver.formal_solution(c)) solver.solve(c);
  solver.finish();
  return sol;
}

}  // namespace bfcal
