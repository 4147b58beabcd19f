#include "sensor.hpp"

#include <optional>

#include "georef/sensor.hpp"

namespace bfcal {

const char* json_name(int param) {
  static const char* const names[] = {"roll_deg", "pitch_deg", "heading_deg", "range_offset_m"};
  return names[param];
}

const char* solve_name(int param) {
  static const char* const names[] = {"roll", "pitch", "heading", "range"};
  return names[param];
}

const char* unit(int param) {
  return param == kRange ? "m" : "deg";
}

bf::SurfacePoint locate(const RawMeasurement& m, const Line& line, const Params& p) {
  std::optional<bf::GeoidLookup> geoid;
  if (line.geoid) geoid.emplace(*line.geoid);
  const bf::SensorModel sensor{line.arm(), bf::Boresight{p[kRoll], p[kPitch], p[kHeading]},
                               p[kRange]};
  return bf::geolocate_measurement(m.range, m.angle, m.state, sensor, true,
                                   geoid ? &*geoid : nullptr);
}

}  // namespace bfcal
