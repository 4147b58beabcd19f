// The core's JSON writer, read back by an independent reader: strings with
// every kind of escape, doubles at full precision, nesting and empty
// containers.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "textio/json.hpp"

namespace {

using nlohmann::json;

TEST(JsonWriter, StringsReadBackAsWritten) {
  const std::vector<std::string> strings = {
      "",
      "plain name.txt",
      "quote \" and backslash \\ and slash /",
      std::string("controls \x01\x1f\b\f\n\r\t end"),
      std::string("nul \0 inside", 12),
      "UTF-8: \xC3\xA6\xC3\xB8\xC3\xA5 \xE2\x82\xAC \xF0\x9F\x9B\xA9",
      "DEL \x7f",
  };
  bf::JsonWriter w;
  w.begin_array();
  for (const auto& s : strings)
    w.value(s);
  w.end_array();
  const json back = json::parse(w.text());
  ASSERT_EQ(back.size(), strings.size());
  for (std::size_t k = 0; k < strings.size(); ++k)
    EXPECT_EQ(back[k].get<std::string>(), strings[k]) << k;
}

// Bytes that are not UTF-8 (a Latin-1 name, a cut sequence, an overlong form,
// a surrogate, beyond U+10FFFF) become U+FFFD and the text stays valid.
TEST(JsonWriter, BytesThatAreNotUtf8BecomeReplacementCharacters) {
  const std::string r = "\xEF\xBF\xBD";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"caf\xE9.txt", "caf" + r + ".txt"},
      {"cut \xE2\x82", "cut " + r + r},
      {"overlong \xC0\xAF", "overlong " + r + r},
      {"surrogate \xED\xA0\x80", "surrogate " + r + r + r},
      {"beyond \xF4\x90\x80\x80", "beyond " + r + r + r + r},
      {"lone \x80 continuation", "lone " + r + " continuation"},
  };
  for (const auto& [raw, expected] : cases) {
    std::string out;
    bf::append_json_string(out, raw);
    EXPECT_EQ(json::parse(out).get<std::string>(), expected) << out;
  }
}

TEST(JsonWriter, DoublesRoundTrip) {
  const std::vector<double> values = {0.0,
                                      -0.0,
                                      0.1,
                                      1.0 / 3.0,
                                      -57.29577951289617,
                                      2.0,
                                      1e21,
                                      123456789012345680.0,
                                      std::numeric_limits<double>::denorm_min(),
                                      std::numeric_limits<double>::min(),
                                      std::numeric_limits<double>::max(),
                                      -9999.0};
  bf::JsonWriter w;
  w.begin_array();
  for (const double v : values)
    w.value(v);
  w.end_array();
  const json back = json::parse(w.text());
  for (std::size_t k = 0; k < values.size(); ++k) {
    const double got = back[k].get<double>();
    EXPECT_EQ(got, values[k]) << k;
    EXPECT_EQ(std::signbit(got), std::signbit(values[k])) << k;
  }
}

TEST(JsonWriter, NonFiniteDoublesAreNull) {
  bf::JsonWriter w;
  w.begin_object()
      .field("nan", std::numeric_limits<double>::quiet_NaN())
      .field("inf", std::numeric_limits<double>::infinity())
      .field("minus_inf", -std::numeric_limits<double>::infinity())
      .end_object();
  const json back = json::parse(w.text());
  for (const char* k : {"nan", "inf", "minus_inf"})
    EXPECT_TRUE(back.at(k).is_null()) << k;
}

TEST(JsonWriter, NestingAndEmptyContainers) {
  bf::JsonWriter w;
  w.begin_object();
  w.field("format", "test").field("version", std::int64_t{1});
  w.key("empty_object").begin_object().end_object();
  w.key("empty_array").begin_array().end_array();
  w.key("list").begin_array();
  w.begin_object().field("n", std::int32_t{-7}).field("ok", true).end_object();
  w.begin_array().value(std::uint64_t{18446744073709551615u}).null().end_array();
  w.value(false);
  w.end_array();
  w.key("weird \"key\"\n").value("v");
  w.end_object();
  ASSERT_EQ(w.text().back(), '\n');
  const json back = json::parse(w.text());
  const json expected = json::parse(R"({
    "format": "test", "version": 1, "empty_object": {}, "empty_array": [],
    "list": [{"n": -7, "ok": true}, [18446744073709551615, null], false],
    "weird \"key\"\n": "v"})");
  EXPECT_EQ(back, expected);
  // Keys in the order written.
  EXPECT_LT(w.text().find("\"format\""), w.text().find("\"version\""));
  EXPECT_LT(w.text().find("\"list\""), w.text().find("\"weird"));
}

}  // namespace
