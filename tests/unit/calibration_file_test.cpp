// calibration.json as the run reads it: the values, sigmas and correlations of the
// parameters the data could see, and the refusals, from a table of small texts; and the
// strict JSON reader under it.
#include "run/calibration.hpp"

#include <gtest/gtest.h>

#include <string>

#include "run/options.hpp"
#include "textio/json_read.hpp"

namespace bf {
namespace {

// Three observable angles and a range offset that is not; `diagonal` is the heading's own
// correlation as written.
std::string calibration_text(const std::string& diagonal) {
  return R"({"warnings": [], "parameters": {
    "roll_deg": {"value": 0.12, "sigma": 0.0003, "observable": true},
    "pitch_deg": {"value": -0.08, "sigma": 0.002, "observable": true},
    "heading_deg": {"value": 0.2, "sigma": 0.004, "observable": true},
    "range_offset_m": {"value": null, "sigma": null, "observable": false, "reason": "weak"}},
   "correlation": {
    "roll_deg": {"roll_deg": 1.0, "pitch_deg": 0.25, "heading_deg": -0.5},
    "pitch_deg": {"roll_deg": 0.25, "pitch_deg": 1.0, "heading_deg": 0.0},
    "heading_deg": {"roll_deg": -0.5, "pitch_deg": 0.0, "heading_deg": )" +
         diagonal + "}}}";
}

TEST(CalibrationFile, ReadsTheObservableParametersAndTheirCorrelations) {
  const CalibrationValues c = parse_calibration(calibration_text("1.0"), "cal.json");
  EXPECT_TRUE(c.observable[kCalRoll] && c.observable[kCalPitch] && c.observable[kCalHeading]);
  EXPECT_FALSE(c.observable[kCalRangeOffset]);
  EXPECT_EQ(c.reason[kCalRangeOffset], "weak");
  EXPECT_EQ(c.value[kCalPitch], -0.08);
  EXPECT_EQ(c.sigma[kCalHeading], 0.004);
  EXPECT_EQ(c.correlation[kCalRoll][kCalHeading], -0.5);
  EXPECT_EQ(c.correlation[kCalRangeOffset][kCalRoll], 0.0);
}

// Regression: beamfall-calibrate writes the diagonal of its correlations from the covariance,
// 1.0000000000000002 at times; such a file was refused as "outside -1 .. 1".
TEST(CalibrationFile, TakesACorrelationThatMissesOneByRounding) {
  const CalibrationValues c = parse_calibration(calibration_text("1.0000000000000002"), "cal.json");
  EXPECT_EQ(c.correlation[kCalHeading][kCalHeading], 1.0);
}

TEST(CalibrationFile, RefusesWhatItCannotRead) {
  const struct {
    std::string text, message;
  } cases[] = {
      {calibration_text("1.5"), "cal.json: correlation.heading_deg.heading_deg is outside -1 .. 1"},
      {"[]", "cal.json: not a JSON object"},
      {"{}", "cal.json: no parameters"},
      {R"({"parameters": {"roll_deg": {"observable": 1}}})",
       "cal.json: parameters.roll_deg.observable is not true or false"},
      {R"({"parameters": {"roll_deg": {"observable": true, "value": "0.1", "sigma": 0}}})",
       "cal.json: parameters.roll_deg.value is not a number"},
      {R"({"parameters": {"roll_deg": {"observable": true, "value": 0.1, "sigma": -1}}})",
       "cal.json: parameters.roll_deg.sigma is negative"},
      {R"({"parameters": {"roll_deg": {"observable": true, "value": 0.1}}})",
       "cal.json: no parameters.roll_deg.sigma"},
      {"{\"parameters\": ", "cal.json: not JSON: value expected at byte 16"},
  };
  for (const auto& c : cases) {
    try {
      parse_calibration(c.text, "cal.json");
      ADD_FAILURE() << c.text << ": taken";
    } catch (const UsageError& e) {
      EXPECT_EQ(std::string(e.what()), "--calibration " + c.message) << c.text;
    }
  }
}

TEST(JsonRead, TakesJsonAndRefusesWhatIsNot) {
  const JsonValue v =
      parse_json(R"( {"a": [1, -2.5e3, true, null], "s": "x\"\u00e9\ud83d\ude00\n", "o": {}} )");
  EXPECT_EQ(v.find("a")->items.size(), 4u);
  EXPECT_EQ(v.find("a")->items[1].number, -2500);
  EXPECT_EQ(v.find("s")->text, "x\"\xc3\xa9\xf0\x9f\x98\x80\n");
  EXPECT_EQ(v.find("o")->kind, JsonValue::Kind::object);
  const struct {
    const char* text;
    const char* message;
  } bad[] = {
      {"", "value expected at byte 1"},
      {"01", "value expected at byte 1"},
      {"+1", "value expected at byte 1"},
      {"1.", "digit expected at byte 3"},
      {"1e999", "number out of range at byte 6"},
      {"[1,]", "value expected at byte 4"},
      {R"({"a": 1, "a": 2})", "repeated key at byte 16"},
      {"\"a\tb\"", "control character in a string at byte 3"},
      {"\"\\x\"", "bad escape at byte 3"},
      {"[1] 2", "text after the value at byte 5"},
      {"tru", "value expected at byte 1"},
  };
  for (const auto& b : bad) {
    try {
      parse_json(b.text);
      ADD_FAILURE() << b.text << ": taken";
    } catch (const JsonSyntaxError& e) {
      EXPECT_EQ(std::string(e.what()), b.message) << b.text;
    }
  }
}

}  // namespace
}  // namespace bf
