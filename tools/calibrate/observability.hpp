// Which parameters a flight pattern determines: the rule that reads the parameters'
// covariance and says which to hold, and why. A parameter the pattern cannot see at all has
// a standard error near its weak prior's; one it sees poorly, a standard error beyond its
// limit.
#pragma once

#include <array>
#include <string>
#include <vector>

#include <Eigen/Dense>

#include "sensor.hpp"

namespace bfcal {

// The weak prior on each parameter (degrees, metres) that keeps the normal matrix
// invertible when the flight pattern cannot see a parameter.
constexpr std::array<double, kParams> kPriorSigma{10, 10, 10, 10};

using ParamFlags = std::array<bool, kParams>;
using ParamLimits = std::array<double, kParams>;  // degrees, degrees, degrees, metres

// The parameters' covariance (degrees, metres squared): the solved ones; zero elsewhere.
struct Covariance {
  bool ok = false;  // false: the solver could not compute it
  Eigen::Matrix4d cov = Eigen::Matrix4d::Zero();
  double sigma(int k) const { return std::sqrt(cov(k, k)); }
};

// The solved parameter (`free`) least determined against its limit, when its standard error
// is beyond it; -1 when every one is within.
int least_determined(const Covariance& c, const ParamFlags& free, const ParamLimits& limit);

// The solved parameters more than `factor` times beyond their limits, all of them when the
// covariance could not be computed: dropped at once, as one just beyond its limit may come
// within it once another is held.
std::vector<int> singular(const Covariance& c, const ParamFlags& free, const ParamLimits& limit,
                          double factor);

// Why parameter k is held: the pattern does not determine it (no covariance, or a standard
// error of half the prior's or more), or its standard error is beyond its limit.
std::string unobservable_reason(const Covariance& c, int k, const ParamLimits& limit);

// "0.01 deg", "0.03 m": a value of parameter k for messages.
std::string format_value(double v, int param);

}  // namespace bfcal
