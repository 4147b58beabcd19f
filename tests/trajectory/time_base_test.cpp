// beamfall-trajectory's time scale: seconds of the GPS week counted on across the week's end,
// and hours of the day of the first record, less the leap seconds, on past 24.
#include "time_base.hpp"

#include <gtest/gtest.h>

namespace sbet {
namespace {

TEST(ContinueWeek, TakesTheWeekNearestTheTimeBefore) {
  struct Case {
    const char* what;
    double week_seconds, previous, expected;
  };
  const Case cases[] = {
      {"within the week", 400825.0063, 400825.0013, 400825.0063},
      {"the week ends", 0.005, 604799.995, 604800.005},
      {"a week on", 3.5, 604800.005 + 3, 604803.5},
      {"a second week ends", 0.25, 2 * 604800.0 - 0.25, 2 * 604800.0 + 0.25},
      {"a processor that counts on past the week", 604800.25, 604799.75, 604800.25},
      // A step back stays a step back, for the caller to refuse.
      {"backwards by a minute", 400765.0, 400825.0, 400765.0},
      {"backwards across the week's start", 604799.0, 1.0, -1.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(continue_week(c.week_seconds, c.previous), c.expected);
  }
}

TEST(HoursOfDay, CountsFromTheStartOfTheFirstRecordsDay) {
  struct Case {
    const char* what;
    double first;
    int leap;
    double seconds, hours;
  };
  const Case cases[] = {
      // Thursday 15:20:25.0013 GPS: 4 days and 55225.0013 s into the week.
      {"GPS time", 400825.0013, 0, 400825.0013, 55225.0013 / 3600},
      {"UTC, 18 leap seconds", 400825.0013, 18, 400825.0013, 55207.0013 / 3600},
      {"past midnight", 400825.0013, 18, 5 * 86400.0 + 18 + 120, 24 + 120.0 / 3600},
      {"after the week's end", 6 * 86400.0 + 86000, 18, 604800.0 + 100, (86400 + 82.0) / 3600},
      // 00:00:10 GPS on Wednesday is 23:59:52 UTC on Tuesday: Tuesday's hours.
      {"the leap seconds cross midnight", 3 * 86400.0 + 10, 18, 3 * 86400.0 + 10,
       (86400 - 8.0) / 3600},
      // In the first 18 s of the GPS week the UTC day is the week before's Saturday.
      {"the leap seconds cross the week's start", 5, 18, 5, (86400 - 13.0) / 3600},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_DOUBLE_EQ(HoursOfDay(c.first, c.leap)(c.seconds), c.hours);
  }
}

}  // namespace
}  // namespace sbet
