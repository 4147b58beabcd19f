#include "sbet.hpp"

#include <cmath>
#include <numbers>
#include <string>

#include "runfiles/text.hpp"

namespace sbet {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kTwoWeeks = 2 * 604800.0;  // seconds; some processors count on past the week

// Refuses v unless lo <= v <= hi; `what` and `unit` name it in the message.
void require_within(double v, double lo, double hi, const char* what, const char* unit,
                    const RecordFile& file) {
  if (std::isnan(v)) file.fail(std::string(what) + " is not a number");
  if (!(v >= lo && v <= hi))
    file.fail(std::string(what) + " " + runfiles::exact(v) + " " + unit + " is outside " +
              runfiles::exact(lo) + " .. " + runfiles::exact(hi));
}

}  // namespace

SbetRecord decode_sbet(const char* record) {
  SbetRecord r;
  r.time = le_f64(record, 0);
  r.lat = le_f64(record, 8);
  r.lon = le_f64(record, 16);
  r.h = le_f64(record, 24);
  r.roll = le_f64(record, 56);
  r.pitch = le_f64(record, 64);
  r.platform_heading = le_f64(record, 72);
  r.wander = le_f64(record, 80);
  return r;
}

void check_sbet(const SbetRecord& r, const RecordFile& file) {
  require_within(r.time, 0, std::nextafter(kTwoWeeks, 0.0), "time", "s", file);
  require_within(r.lat, -kPi / 2, kPi / 2, "latitude", "rad", file);
  require_within(r.lon, -2 * kPi, 2 * kPi, "longitude", "rad", file);
  require_within(r.h, -1e4, 1e5, "height", "m", file);
  require_within(r.roll, -kPi, kPi, "roll", "rad", file);
  require_within(r.pitch, -kPi / 2, kPi / 2, "pitch", "rad", file);
  require_within(r.platform_heading, -2 * kPi, 2 * kPi, "platform heading", "rad", file);
  require_within(r.wander, -2 * kPi, 2 * kPi, "wander angle", "rad", file);
}

SmrmsgRecord decode_smrmsg(const char* record) {
  SmrmsgRecord r;
  r.time = le_f64(record, 0);
  r.north = le_f64(record, 8);
  r.east = le_f64(record, 16);
  r.down = le_f64(record, 24);
  r.roll = le_f64(record, 56);
  r.pitch = le_f64(record, 64);
  r.heading = le_f64(record, 72);
  return r;
}

void check_smrmsg(const SmrmsgRecord& r, const RecordFile& file) {
  require_within(r.time, 0, std::nextafter(kTwoWeeks, 0.0), "time", "s", file);
  // The sigma file's columns hold up to 1e5 m and 1e4 degrees.
  const double max_metres = std::nextafter(1e5, 0.0);
  require_within(r.north, 0, max_metres, "north RMS", "m", file);
  require_within(r.east, 0, max_metres, "east RMS", "m", file);
  require_within(r.down, 0, max_metres, "down RMS", "m", file);
  require_within(r.roll, 0, 21600, "roll RMS", "arcmin", file);
  require_within(r.pitch, 0, 21600, "pitch RMS", "arcmin", file);
  require_within(r.heading, 0, 21600, "heading RMS", "arcmin", file);
}

}  // namespace sbet
