#include "kit/axis.hpp"

#include <algorithm>
#include <cmath>

#include "runfiles/text.hpp"

namespace kit {

double tick_step(double span, int ticks) {
  const double raw = std::max(span, 1e-12) / std::max(ticks, 1);
  const double decade = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0})
    if (m * decade >= raw * (1.0 - 1e-9)) return m * decade;
  return 10.0 * decade;
}

int tick_decimals(double step) {
  return std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
}

std::vector<double> ticks_within(double lo, double hi, double step) {
  std::vector<double> ticks;
  // Counted in whole steps, so that a tick is k * step and rounding does not drift.
  const double first = std::ceil(lo / step - 1e-9), last = std::floor(hi / step + 1e-9);
  for (double k = first; k <= last && ticks.size() < 1000; k += 1.0)
    ticks.push_back(k * step);
  return ticks;
}

std::string tick_label(double v, int decimals) {
  return runfiles::fixed(v, decimals);  // which writes no "-0"
}

}  // namespace kit
