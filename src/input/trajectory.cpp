#include "input/trajectory.hpp"

#include <charconv>
#include <cmath>
#include <string>

#include "textio/error.hpp"
#include "textio/units.hpp"

namespace bf {

TrajectoryTable::TrajectoryTable()
    : time(std::make_unique_for_overwrite<double[]>(nmax + 1)),
      lat(std::make_unique_for_overwrite<double[]>(nmax + 1)),
      lon(std::make_unique_for_overwrite<double[]>(nmax + 1)),
      h(std::make_unique_for_overwrite<double[]>(nmax + 1)),
      pitch(std::make_unique_for_overwrite<double[]>(nmax + 1)),
      roll(std::make_unique_for_overwrite<double[]>(nmax + 1)),
      heading(std::make_unique_for_overwrite<double[]>(nmax + 1)),
      vel(std::make_unique_for_overwrite<float[]>(nmax + 1)) {}

namespace {

[[noreturn]] void sample_error(const char* source, std::int64_t line, const std::string& why) {
  input_error(std::string(source) + ", line " + std::to_string(line) + ": " + why);
}

// A latitude no place on Earth has: the file is not a trajectory of this
// form (or its columns are in another order).
void check_latitude(const char* source, std::int64_t line, double lat) {
  if (std::fabs(lat) <= 90) return;
  char text[32];
  const auto r = std::to_chars(text, text + sizeof text, lat);
  sample_error(source, line,
               "latitude " + std::string(text, r.ptr) + " lies beyond -90 .. 90 degrees");
}

// Reads one sample into entry k; false at the end of the file (a sample cut
// short by the end of the file is not accepted).
bool read_sample(FreeReader& in, const char* source, bool gpsatt, TrajectoryTable& t,
                 std::int32_t k) {
  double* columns[7] = {&t.time[k],  &t.lat[k],  &t.lon[k],    &t.h[k],
                        &t.pitch[k], &t.roll[k], &t.heading[k]};
  int nvalues = gpsatt ? 7 : 4;
  std::int64_t lat_line = 0;
  in.start_read();
  for (int c = 0; c < nvalues; ++c) {
    ReadStatus s = in.real(*columns[c]);
    if (s == ReadStatus::end_of_file) return false;
    if (s == ReadStatus::bad_value) sample_error(source, in.line(), in.error());
    if (c == 1) lat_line = in.line();
  }
  check_latitude(source, lat_line, t.lat[k]);
  if (!gpsatt) t.pitch[k] = t.roll[k] = t.heading[k] = 0;
  ++t.nread;
  return true;
}

}  // namespace

void load_trajectory(FreeReader& in, const char* source, double tstart, double tend, bool gpsatt,
                     TrajectoryTable& t) {
  const double tmin = tstart - kHoursPerSecond;
  const double tmax = tend + kHoursPerSecond;
  t.nread = 0;
  std::int32_t next = 1;
  while (read_sample(in, source, gpsatt, t, next)) {
    if (t.time[next] < tmin) continue;
    if (t.time[next] > tmax) break;
    ++next;
    if (next - 1 == TrajectoryTable::nmax - 1) stop("too many gps points - increase nmax");
  }
  t.ngps = next - 1;
}

TrajectoryStats compute_speeds(TrajectoryTable& t) {
  TrajectoryStats s;
  t.vel[1] = t.vel[2] = 0;
  for (std::int32_t i = 2; i <= t.ngps; ++i) {
    double dt = (t.time[i] - t.time[i - 1]) * kSecondsPerHour;
    double dlat = t.lat[i] - t.lat[i - 1];
    double dlon = t.lon[i] - t.lon[i - 1];
    double dlon_m = dlon * std::cos(kDegToRad * t.lat[i]);
    double dist = 111194 * std::sqrt(dlat * dlat + dlon_m * dlon_m);
    t.vel[i] = static_cast<float>(dist / dt * static_cast<double>(3.6f));
    if (dt < s.min_spacing) s.min_spacing = dt;
    if (dt > s.max_spacing) s.max_spacing = dt;
    if (t.vel[i] < s.min_speed) s.min_speed = t.vel[i];
    if (t.vel[i] > s.max_speed) s.max_speed = t.vel[i];
  }
  if (t.ngps >= 2) t.vel[1] = t.vel[2];
  return s;
}

void report_trajectory(OutFile& console, std::int32_t ngps, const TrajectoryStats& s) {
  console.record(
      "/ ' GPS read:' I6 ' gps/attitude data, min max spacing (sec):' 2F9.2"
      " / ' minimum and maximum velocity (km/h): ' 2F8.1",
      {ngps, s.min_spacing, s.max_spacing, static_cast<double>(s.min_speed),
       static_cast<double>(s.max_speed)});
}

}  // namespace bf
