#include "observability.hpp"

#include <cmath>
#include <cstdio>

namespace bfcal {

std::string format_value(double v, int param) {
  char buf[64];
  std::snprintf(buf, sizeof buf, param == kRange ? "%.4g m" : "%.4g deg", v);
  return buf;
}

int least_determined(const Covariance& c, const ParamFlags& free, const ParamLimits& limit) {
  int worst = -1;
  double worst_ratio = 1;
  for (int k = 0; k < kParams; ++k) {
    if (!free[k]) continue;
    const double ratio = c.sigma(k) / limit[k];
    if (!(ratio <= worst_ratio)) {
      worst = k;
      worst_ratio = std::isfinite(ratio) ? ratio : 1e300;
    }
  }
  return worst;
}

std::vector<int> singular(const Covariance& c, const ParamFlags& free, const ParamLimits& limit,
                          double factor) {
  std::vector<int> out;
  for (int k = 0; k < kParams; ++k)
    if (free[k] && (!c.ok || !(c.sigma(k) < factor * limit[k]))) out.push_back(k);
  return out;
}

std::string unobservable_reason(const Covariance& c, int k, const ParamLimits& limit) {
  const double sigma = c.sigma(k);
  if (!c.ok || !(sigma < 0.5 * kPriorSigma[k]))
    return "the flight pattern does not determine it (singular normal matrix)";
  return "standard error " + format_value(sigma, k) + " beyond the limit " +
         format_value(limit[k], k) + " (near-singular normal matrix)";
}

}  // namespace bfcal
