#include "convert.hpp"

#include <cmath>
#include <numbers>
#include <optional>

#include "input/trajectory_writers.hpp"
#include "records.hpp"
#include "runfiles/text.hpp"
#include "sbet.hpp"
#include "time_base.hpp"

namespace sbet {

namespace {

constexpr double kDegreesPerRadian = 180 / std::numbers::pi;
constexpr double kArcMinutesPerDegree = 60;

// An angle in degrees taken into -180 .. 180 (exactly: remainder is exact).
double signed_degrees(double degrees) {
  return std::remainder(degrees, 360.0);
}

bf::TrajectorySample trajectory_sample(const SbetRecord& r, double hours) {
  bf::TrajectorySample s;
  s.time = hours;
  s.lat = r.lat * kDegreesPerRadian;
  s.lon = signed_degrees(r.lon * kDegreesPerRadian);
  s.h = r.h;
  s.pitch = r.pitch * kDegreesPerRadian;
  s.roll = r.roll * kDegreesPerRadian;
  // The platform heading is measured from the wander frame's north, which lies at the
  // wander angle from true north.
  s.heading = signed_degrees((r.platform_heading - r.wander) * kDegreesPerRadian);
  return s;
}

bf::SigmaEpoch sigma_epoch(const SmrmsgRecord& r, double hours) {
  return {hours,
          r.north,
          r.east,
          r.down,
          r.roll / kArcMinutesPerDegree,
          r.pitch / kArcMinutesPerDegree,
          r.heading / kArcMinutesPerDegree};
}

// The records' times, counted on across the end of the week, checked to increase.
class TimeSeries {
 public:
  // `reference`: a time the first record's lies within half a week of.
  explicit TimeSeries(double reference) : previous_(reference) {}
  double next(double week_seconds, const RecordFile& file) {
    const double seconds = continue_week(week_seconds, previous_);
    if (file.number() > 1 && !(seconds > previous_))
      file.fail("time " + runfiles::exact(week_seconds) + " s is not after " +
                runfiles::exact(previous_week_seconds_) + " s of record " +
                std::to_string(file.number() - 1) + ": times must increase");
    previous_ = seconds;
    previous_week_seconds_ = week_seconds;
    return seconds;
  }

 private:
  double previous_;
  double previous_week_seconds_ = 0;
};

void count_written(FileSummary& summary, double hours) {
  if (summary.written == 0) summary.first = hours;
  summary.last = hours;
  ++summary.written;
}

void require_written(const FileSummary& summary, const std::string& path) {
  if (summary.written == 0)
    throw runfiles::ToolError(path + ": no record lies within --from .. --to");
}

// Converts the SBET; returns the first record's time (seconds, on its own week).
double convert_sbet(const ConvertOptions& o, RecordFile& file, bf::TrajectoryWriter& out,
                    FileSummary& summary) {
  std::optional<HoursOfDay> hours_of_day;
  std::optional<TimeSeries> times;
  double first = 0;
  const char* bytes = nullptr;
  while (file.next(bytes)) {
    const SbetRecord r = decode_sbet(bytes);
    check_sbet(r, file);
    if (!times) {
      first = r.time;
      times.emplace(first);
      hours_of_day.emplace(first, o.leap_seconds);
    }
    const double hours = (*hours_of_day)(times->next(r.time, file));
    if (hours >= o.from && hours <= o.to) {
      out.add(trajectory_sample(r, hours));
      count_written(summary, hours);
    }
  }
  summary.records = file.count();
  require_written(summary, o.sbet);
  return first;
}

void convert_accuracy(const ConvertOptions& o, double sbet_first, RecordFile& file,
                      bf::SigmaTrajectoryWriter& out, FileSummary& summary) {
  const HoursOfDay hours_of_day(sbet_first, o.leap_seconds);
  TimeSeries times(sbet_first);
  const char* bytes = nullptr;
  while (file.next(bytes)) {
    const SmrmsgRecord r = decode_smrmsg(bytes);
    check_smrmsg(r, file);
    const double hours = hours_of_day(times.next(r.time, file));
    if (hours >= o.from && hours <= o.to) {
      out.add(sigma_epoch(r, hours));
      count_written(summary, hours);
    }
  }
  summary.records = file.count();
  require_written(summary, o.accuracy);
}

}  // namespace

ConvertSummary convert(const ConvertOptions& o) {
  // The inputs are opened and their sizes checked before any output is created.
  RecordFile sbet_file(o.sbet, kSbetDoubles, "SBET");
  std::optional<RecordFile> accuracy_file;
  if (!o.accuracy.empty()) accuracy_file.emplace(o.accuracy, kSmrmsgDoubles, "smrmsg");
  bf::TrajectoryWriter trajectory(o.out);
  std::optional<bf::SigmaTrajectoryWriter> sigma;
  if (accuracy_file) sigma.emplace(o.sigma_out);

  ConvertSummary summary;
  const double sbet_first = convert_sbet(o, sbet_file, trajectory, summary.trajectory);
  if (accuracy_file) convert_accuracy(o, sbet_first, *accuracy_file, *sigma, summary.sigma);
  // Both complete before either is put in place.
  trajectory.commit();
  if (sigma) sigma->commit();
  return summary;
}

}  // namespace sbet
