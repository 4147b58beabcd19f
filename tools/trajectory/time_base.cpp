#include "time_base.hpp"

#include <cmath>

namespace sbet {

double continue_week(double week_seconds, double previous) {
  return week_seconds + std::round((previous - week_seconds) / kSecondsPerWeek) * kSecondsPerWeek;
}

HoursOfDay::HoursOfDay(double first, int leap_seconds) {
  const double day_start = std::floor((first - leap_seconds) / 86400) * 86400;
  origin_ = day_start + leap_seconds;
}

double HoursOfDay::operator()(double seconds) const {
  // One subtraction of a whole number (exact while the result is no larger than `seconds`)
  // and one division: the hours are as exact as the SBET's own time.
  return (seconds - origin_) / 3600;
}

}  // namespace sbet
