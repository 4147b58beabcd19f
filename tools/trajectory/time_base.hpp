// The trajectory file's time scale from the SBET's: GPS seconds of the week become decimal
// hours of the day of the first record, less the leap seconds when the scanner's clock
// keeps UTC. The core never wraps a time at 24 h (a measurement after midnight has a time
// past 24 on the scanner's side too), so neither does this: a flight past midnight counts
// on past 24 h, and a flight across the end of the GPS week (Saturday to Sunday, 00:00
// GPS time), where the seconds of the week start again at 0, counts on as well.
#pragma once

namespace sbet {

inline constexpr double kSecondsPerWeek = 604800;

// `week_seconds` taken in the GPS week that puts it nearest `previous` (seconds counted on
// across the week's end), so that the time after 604799.99 s of one week, 0.01 s of the
// next, comes out as 604800.01 s.
double continue_week(double week_seconds, double previous);

class HoursOfDay {
 public:
  // `first`: the first SBET record's time, seconds (of its week); `leap_seconds`: GPS - UTC
  // to take off, 0 to keep GPS time. The day is the one (UTC, or GPS without leap seconds)
  // in which that first record lies.
  HoursOfDay(double first, int leap_seconds);
  // Decimal hours since the start of that day of a time on the scale of `first`.
  double operator()(double seconds) const;

 private:
  double origin_;  // the day's start plus the leap seconds, GPS seconds (a whole number)
};

}  // namespace sbet
