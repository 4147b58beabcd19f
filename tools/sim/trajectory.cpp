#include "trajectory.hpp"

#include <algorithm>

#include "runfiles/text.hpp"

namespace bsim {

using namespace runfiles;  // the shared readers and text helpers

std::string format_sample(const TrajSample& s) {
  // 1e-12 h is 3.6 ns; 1e-10 degree is about 11 micrometres; 1e-6 degree of attitude moves
  // a point 400 m away by 7 micrometres.
  return fixed(s.t, 12) + " " + fixed(s.lat, 10) + " " + fixed(s.lon, 10) + " " + fixed(s.h, 4) +
         " " + fixed(s.pitch, 6) + " " + fixed(s.roll, 6) + " " + fixed(s.heading, 6);
}

bool parse_sample(std::string_view line, TrajSample& s) {
  const std::vector<std::string_view> f = split_fields(line);
  if (f.size() < 7) return false;
  double v[7];
  for (std::size_t k = 0; k < 7; ++k) {
    if (!parse_double(f[k], v[k])) return false;
  }
  s = {v[0], v[1], v[2], v[3], v[4], v[5], v[6]};
  return true;
}

std::vector<TrajSample> read_trajectory(const std::string& path) {
  const std::string text = read_file(path);
  std::vector<TrajSample> out;
  std::size_t lineno = 0;
  for (std::string_view line : split_lines(text)) {
    ++lineno;
    if (split_fields(line).empty()) continue;
    TrajSample s;
    if (!parse_sample(line, s)) {
      throw ToolError(path + ":" + std::to_string(lineno) + ": trajectory line needs 7 numbers");
    }
    out.push_back(s);
  }
  if (out.size() < 2) throw ToolError(path + ": trajectory needs two samples");
  return out;
}

TrajectoryInterp::TrajectoryInterp(std::vector<TrajSample> samples) : s_(std::move(samples)) {
  for (std::size_t k = 1; k < s_.size(); ++k) {
    if (!(s_[k].t > s_[k - 1].t)) throw ToolError("trajectory times must increase");
  }
}

TrajSample TrajectoryInterp::at(double t) const {
  if (t <= s_.front().t) return s_.front();
  if (t >= s_.back().t) return s_.back();
  const auto it = std::upper_bound(s_.begin(), s_.end(), t,
                                   [](double v, const TrajSample& s) { return v < s.t; });
  const TrajSample& b = *it;
  const TrajSample& a = *(it - 1);
  const double f = (t - a.t) / (b.t - a.t);
  const double w = 1.0 - f;
  TrajSample r;
  r.t = t;
  r.lat = w * a.lat + f * b.lat;
  r.lon = w * a.lon + f * b.lon;
  r.h = w * a.h + f * b.h;
  r.pitch = w * a.pitch + f * b.pitch;
  r.roll = w * a.roll + f * b.roll;
  double dh = b.heading - a.heading;
  if (dh > 180.0) dh -= 360.0;
  if (dh < -180.0) dh += 360.0;
  r.heading = a.heading + f * dh;
  if (r.heading > 180.0) r.heading -= 360.0;
  if (r.heading <= -180.0) r.heading += 360.0;
  return r;
}

}  // namespace bsim
