// calibration.json as beamfall-calibrate writes it, read for what a run
// applies: the boresight angles and the range offset, each with its standard
// error, whether the data could see it, and the correlations between those
// they could. Everything else in the file is left unread.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace bf {

// The parameters in their order in the file's "parameters" object.
enum CalibrationParameter { kCalRoll, kCalPitch, kCalHeading, kCalRangeOffset, kCalParameters };

// Their names as keys of "parameters" and "correlation".
inline constexpr std::array<const char*, kCalParameters> kCalibrationNames = {
    "roll_deg", "pitch_deg", "heading_deg", "range_offset_m"};

struct CalibrationValues {
  std::array<bool, kCalParameters> observable{};
  std::array<double, kCalParameters> value{};      // degrees, metres; 0 when not observable
  std::array<double, kCalParameters> sigma{};      // the same units; 0 when not observable
  std::array<std::string, kCalParameters> reason;  // why not observable
  // Between observable parameters (1 on the diagonal); 0 elsewhere.
  std::array<std::array<double, kCalParameters>, kCalParameters> correlation{};
};

// The values in the JSON text `text`; `source` names the file in messages.
// UsageError (one line, naming the file and the field) for text that is not
// JSON or lacks a field, a value that is not a finite number, a negative
// sigma or a correlation outside -1 .. 1.
CalibrationValues parse_calibration(std::string_view text, const std::string& source);

// The file read whole and parsed; UsageError when it can't be read.
CalibrationValues read_calibration(const std::string& path);

}  // namespace bf
