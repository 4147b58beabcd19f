// The unit conversions, named once. The angle factors are the truncated
// values the program has always used, not the exact ones: the outputs depend
// on their last bits, so they are kept as written.
#pragma once

namespace bf {

constexpr double kSecondsPerHour = 3600;
constexpr double kHoursPerSecond = 0.0002777777777777778;  // 1 / 3600
constexpr double kHoursPerMinute = 0.016666666666666666;   // 1 / 60

constexpr double kDegToRad = 0.01745329252;      // pi / 180 to 11 digits
constexpr double kGonToRad = 0.015707963268;     // pi / 200 to 12 digits
constexpr double kRadToDeg = 57.29577951289617;  // 1 / kDegToRad less one ulp

// A minute of latitude taken as a nautical mile: 111120 m per degree.
constexpr double kMetresPerDegree = 111120;
constexpr double kInvMetresPerDegree = 8.999280057595392e-06;  // 1 / 111120

static_assert(kHoursPerSecond == 1.0 / 3600 && kHoursPerMinute == 1.0 / 60);
static_assert(kInvMetresPerDegree == 1 / kMetresPerDegree);

}  // namespace bf
