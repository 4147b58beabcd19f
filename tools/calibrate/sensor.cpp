#include "sensor.hpp"

#include <optional>

#include "georef/rigorous.hpp"

namespace bfcal {

const char* json_name(int param) {
  static const char* const names[] = {"roll_deg", "pitch_deg", "heading_deg", "range_offset_m"};
  return names[param];
}

const char* solve_name(int param) {
  static const char* const names[] = {"roll", "pitch", "heading", "range"};
  return names[param];
}

const char* unit(int param) { return param == kRange ? "m" : "deg"; }

bf::SurfacePoint locate(const RawMeasurement& m, const Line& line, const Params& p) {
  std::optional<bf::GeoidLookup> geoid;
  if (line.geoid) geoid.emplace(*line.geoid);
  // Placeholder until the core's sensor model lands: range offset only.
  return bf::geolocate_rigorous(m.range + p[kRange], bf::make_beam(m.angle), m.state, line.arm(),
                                geoid ? &*geoid : nullptr)
      .point;
}

}  // namespace bfcal
