#include "input/trajectory_writers.hpp"

#include "textio/record.hpp"

namespace bf {

char* put_trajectory_line(char* out, const TrajectorySample& s) {
  char* p = put_f(out, 16, 12, s.time);
  *p++ = ' ';
  p = put_f(p, 14, 10, s.lat);
  *p++ = ' ';
  p = put_f(p, 15, 10, s.lon);
  *p++ = ' ';
  p = put_f(p, 12, 5, s.h);
  for (double angle : {s.pitch, s.roll, s.heading}) {
    *p++ = ' ';
    p = put_f(p, 15, 10, angle);
  }
  *p++ = '\n';
  return p;
}

TrajectoryWriter::TrajectoryWriter(const std::string& name) {
  file_.open(name);
}

char* put_sigma_line(char* out, const SigmaEpoch& e) {
  char* p = put_f(out, 16, 12, e.time);
  for (double metres : {e.north, e.east, e.down}) {
    *p++ = ' ';
    p = put_f(p, 12, 5, metres);
  }
  for (double degrees : {e.roll, e.pitch, e.heading}) {
    *p++ = ' ';
    p = put_f(p, 15, 10, degrees);
  }
  *p++ = '\n';
  return p;
}

SigmaTrajectoryWriter::SigmaTrajectoryWriter(const std::string& name) {
  file_.open(name);
}

}  // namespace bf
