// The calibration's inner rules on small synthetic patches and covariances: the plane fit
// (exact planes, noise, a gross error, points that give no plane), the robust standard
// deviation against normally distributed distances with and without gross errors, and the
// observability rule that decides which parameters to hold.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "calibrate/observability.hpp"
#include "calibrate/plane_fit.hpp"

namespace {

using bfcal::Local;

// A patch of n x n points `spacing` metres apart around its centre, on u = a + b e + c n.
std::vector<Local> grid_on_plane(int n, double spacing, double a, double b, double c) {
  std::vector<Local> pts;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const double e = (i - (n - 1) / 2.0) * spacing, nn = (j - (n - 1) / 2.0) * spacing;
      pts.push_back({e, nn, a + b * e + c * nn});
    }
  return pts;
}

TEST(PlaneFit, RecoversTheGroundAndLeavesOutWhatIsNotOnIt) {
  struct Case {
    const char* what;
    double a, b, c;    // the ground's plane
    double noise;      // metres, +- alternately on the points
    int gross;         // points lifted by 0.5 m
    int used;          // points the fit keeps
    double tolerance;  // on a, b and c
  };
  const Case cases[] = {
      {"level", 12.5, 0, 0, 0, 0, 25, 1e-12},
      {"tilted", 0.3, 0.05, -0.02, 0, 0, 25, 1e-12},
      {"steep", -4, 0.8, 0.6, 0, 0, 25, 1e-12},
      {"noise of 2 mm", 0.3, 0.05, -0.02, 0.002, 0, 25, 0.002},
      {"one gross error", 0.3, 0.05, -0.02, 0, 1, 24, 1e-12},
      {"three gross errors", 0.3, 0.05, -0.02, 0, 3, 22, 1e-12},
  };
  for (const Case& k : cases) {
    std::vector<Local> pts = grid_on_plane(5, 1.0, k.a, k.b, k.c);
    const double slope = std::sqrt(1 + k.b * k.b + k.c * k.c);
    for (std::size_t i = 0; i < pts.size(); ++i)
      pts[i].u += (i % 2 == 0 ? 1 : -1) * k.noise * slope;  // perpendicular noise of k.noise
    for (int g = 0; g < k.gross; ++g)
      pts[static_cast<std::size_t>(7 * g + 3)].u += 0.5;
    const bfcal::PlaneFit f = bfcal::fit_plane(pts);
    ASSERT_TRUE(f.ok) << k.what;
    EXPECT_NEAR(f.a, k.a, k.tolerance * 10) << k.what;
    EXPECT_NEAR(f.b, k.b, k.tolerance) << k.what;
    EXPECT_NEAR(f.c, k.c, k.tolerance) << k.what;
    EXPECT_EQ(f.used, k.used) << k.what;
    // Alternating noise of +-d about the plane: an RMS of d at most (the fit takes up a little).
    EXPECT_LE(f.rms, k.noise + 1e-12) << k.what;
    EXPECT_GE(f.rms, 0.9 * k.noise) << k.what;
  }
}

TEST(PlaneFit, PointsThatGiveNoPlane) {
  struct Case {
    const char* what;
    std::vector<Local> pts;
  };
  std::vector<Local> along_one_line, two_points, stacked;
  for (int i = 0; i < 20; ++i)  // one scan line: every point on one line across the patch
    along_one_line.push_back({0.3 * i, 0.1 * i, 0.01 * i});
  two_points = {{0, 0, 1}, {1, 1, 1}};
  for (int i = 0; i < 10; ++i)  // one place measured again and again
    stacked.push_back({2, 3, 0.001 * i});
  const Case cases[] = {{"along one line", along_one_line},
                        {"two points", two_points},
                        {"all at one place", stacked},
                        {"none", {}}};
  for (const Case& k : cases)
    EXPECT_FALSE(bfcal::fit_plane(k.pts).ok) << k.what;
}

TEST(PlaneFit, DistanceIsPerpendicular) {
  // 1 m above a plane rising 1 m a metre east: 1/sqrt(2) m from it, and below it negative.
  EXPECT_NEAR(bfcal::plane_distance(0, 1, 0, {0, 0, 1}), 1 / std::sqrt(2.0), 1e-15);
  EXPECT_NEAR(bfcal::plane_distance(0, 1, 0, {1, 5, 0}), -1 / std::sqrt(2.0), 1e-15);
  EXPECT_DOUBLE_EQ(bfcal::plane_distance(2, 0, 0, {7, -3, 2.5}), 0.5);
}

// Normally distributed distances, sigma `sigma`, a share `gross` of them replaced by 1 m.
std::vector<double> distances(double sigma, double gross, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> normal(0, sigma);
  std::uniform_real_distribution<double> share(0, 1);
  std::vector<double> d(200000);
  for (double& v : d)
    v = share(rng) < gross ? 1.0 : normal(rng);
  return d;
}

double plain_sigma(const std::vector<double>& d) {
  double ss = 0;
  for (double v : d)
    ss += v * v;
  return std::sqrt(ss / static_cast<double>(d.size()));
}

TEST(RobustSigma, NormalDistancesWithAndWithoutGrossErrors) {
  struct Case {
    const char* what;
    double gross;  // share of gross errors
    double ratio;  // robust sigma over sigma, from the normal distribution's quantiles
  };
  // With a share g of gross errors the median absolute distance t solves
  // (1 - g) P(|X| < t) = 1/2: g = 0.1 gives t = 0.7647 sigma, g = 0.3 gives 1.0674 sigma.
  const Case cases[] = {
      {"none", 0, 1.0}, {"10 % gross", 0.1, 1.4826 * 0.7647}, {"30 % gross", 0.3, 1.4826 * 1.0674}};
  const double sigma = 0.003;
  for (const Case& c : cases) {
    const std::vector<double> d = distances(sigma, c.gross, 7);
    EXPECT_NEAR(bfcal::robust_sigma(d) / sigma, c.ratio, 0.01) << c.what;
    // The plain RMS is pulled far off by the gross errors, the robust one is not.
    if (c.gross > 0) {
      EXPECT_GT(plain_sigma(d), 50 * sigma) << c.what;
    }
  }
}

TEST(RobustSigma, SignsAndEmpty) {
  EXPECT_DOUBLE_EQ(bfcal::robust_sigma({-2, 2, -2}), 1.4826 * 2);
  EXPECT_DOUBLE_EQ(bfcal::robust_sigma({-1, 0.5, 3}), 1.4826 * 1);
  EXPECT_TRUE(std::isnan(bfcal::robust_sigma({})));
}

// A covariance with these standard errors (degrees, metres) on the diagonal.
bfcal::Covariance with_sigmas(double roll, double pitch, double heading, double range) {
  bfcal::Covariance c;
  c.ok = true;
  const double s[] = {roll, pitch, heading, range};
  for (int k = 0; k < bfcal::kParams; ++k)
    c.cov(k, k) = s[k] * s[k];
  return c;
}

TEST(Observability, WhichParametersAreHeldAndWhy) {
  const bfcal::ParamLimits limit{0.01, 0.03, 0.05, 0.03};
  const bfcal::ParamFlags all{true, true, true, true};
  struct Case {
    const char* what;
    bfcal::Covariance c;
    bfcal::ParamFlags free;
    std::vector<int> singular;  // more than five times the limit
    int least;                  // the worst beyond its limit, -1 for none
    const char* reason;         // of `least`, or of the first singular one
  };
  bfcal::Covariance failed = with_sigmas(0.001, 0.001, 0.001, 0.001);
  failed.ok = false;
  const Case cases[] = {
      {"all within", with_sigmas(0.001, 0.002, 0.01, 0.002), all, {}, -1, ""},
      {"just within", with_sigmas(0.00999, 0.02999, 0.04999, 0.02999), all, {}, -1, ""},
      {"heading just beyond",
       with_sigmas(0.001, 0.002, 0.06, 0.002),
       all,
       {},
       bfcal::kHeading,
       "standard error 0.06 deg beyond the limit 0.05 deg (near-singular normal matrix)"},
      {"worst of two beyond",
       with_sigmas(0.001, 0.04, 0.1, 0.002),
       all,
       {},
       bfcal::kHeading,
       "standard error 0.1 deg beyond the limit 0.05 deg (near-singular normal matrix)"},
      {"range unseen (prior's sigma)",
       with_sigmas(0.001, 0.002, 0.01, 9.9),
       all,
       {bfcal::kRange},
       bfcal::kRange,
       "the flight pattern does not determine it (singular normal matrix)"},
      {"held parameter ignored",
       with_sigmas(0.001, 0.002, 0.01, 9.9),
       {true, true, true, false},
       {},
       -1,
       ""},
      {"not a number",
       with_sigmas(0.001, NAN, 0.01, 0.002),
       all,
       {bfcal::kPitch},
       bfcal::kPitch,
       "the flight pattern does not determine it (singular normal matrix)"},
      {"no covariance",
       failed,
       {true, false, true, true},
       {bfcal::kRoll, bfcal::kHeading, bfcal::kRange},
       -1,
       "the flight pattern does not determine it (singular normal matrix)"},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(bfcal::singular(k.c, k.free, limit, 5), k.singular) << k.what;
    const int least = bfcal::least_determined(k.c, k.free, limit);
    EXPECT_EQ(least, k.least) << k.what;
    const int explained = least >= 0 ? least : (k.singular.empty() ? -1 : k.singular[0]);
    if (explained >= 0) {
      EXPECT_EQ(bfcal::unobservable_reason(k.c, explained, limit), k.reason) << k.what;
    }
  }
}

}  // namespace
