// The calibrated sensor parameters and the one call that georeferences a
// measurement with them: the core's own geolocation, in rigorous geometry.
#pragma once

#include <array>
#include <string>

#include "flight_lines.hpp"
#include "georef/sensor.hpp"

namespace bfcal {

// Boresight roll, pitch, heading (degrees) and range offset (metres): the
// values of beamfall's --boresight and --range-offset.
enum Param { kRoll = 0, kPitch = 1, kHeading = 2, kRange = 3 };
constexpr int kParams = 4;
using Params = std::array<double, kParams>;

// The names in calibration.json and --solve.
const char* json_name(int param);   // "roll_deg" ...
const char* solve_name(int param);  // "roll" ...
const char* unit(int param);        // "deg" or "m"

// The measurement's surface point with the parameters `p` on the line's
// lever arm and geoid: latitude and longitude in degrees, height in the
// deck's height system.
bf::SurfacePoint locate(const RawMeasurement& m, const Line& line, const Params& p);

}  // namespace bfcal
