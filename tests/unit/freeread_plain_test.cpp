// The plain-line path of the free-format reader against the value-by-value
// reads it stands in for: the same values, statuses, line numbers and error
// messages, over records in every form the reader takes, read from a file
// long enough to cut lines at the ends of its input blocks.
#include <unistd.h>

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "textio/freeread.hpp"

namespace bf {
namespace {

// Integer and real tokens: plain ones, and ones that only the value-by-value
// reader can decide (forms, lengths, overflow, errors).
const char* const kIntTokens[] = {"1",   "208",       "-7",         "+5",          "0",   "007",
                                  "-0",  "123456789", "1234567890", "99999999999", "1.5", "abc",
                                  "1e3", "+-5",       "-",          "3*4",         "1/2"};
const char* const kRealTokens[] = {"377.792018",
                                   "-0.000",
                                   ".5",
                                   "5.",
                                   "-.25",
                                   "+3.5",
                                   "0.24999999",
                                   "75",
                                   "123456789012345",
                                   "1234567890123456",
                                   "0.000000000000001",
                                   "0.0000000000000000000000001",
                                   "0000000000000000000000000000000000000000000001.5",
                                   "1.5D0",
                                   "1e3",
                                   "2.5d-2",
                                   ".",
                                   "1.2.3",
                                   "x",
                                   "1e999"};

// Blanks between values: sometimes a comma, a tab or a line end.
std::string separator(std::mt19937_64& rng) {
  switch (rng() % 12) {
    case 0:
      return ",";
    case 1:
      return " , ";
    case 2:
      return "\t";
    case 3:
      return "\n";
    case 4:
      return "   ";
    default:
      return " ";
  }
}

std::string pick(std::mt19937_64& rng, const char* const* plain_first, std::size_t n) {
  // Mostly plain values, as a machine-written file has them.
  return plain_first[rng() % 4 == 0 ? rng() % n : rng() % 8];
}

// Scanner-like records: I R I R R, with blank lines, leading blanks, carriage
// returns and text after the last value now and then.
std::string random_records(std::mt19937_64& rng, int count) {
  std::string text;
  for (int k = 0; k < count; ++k) {
    if (rng() % 40 == 0) text += "\n";
    if (rng() % 20 == 0) text += "  ";
    const char kinds[] = "IRIRR";
    for (int j = 0; j < 5; ++j) {
      if (j > 0) text += rng() % 6 == 0 ? separator(rng) : " ";
      text += kinds[j] == 'I' ? pick(rng, kIntTokens, std::size(kIntTokens))
                              : pick(rng, kRealTokens, std::size(kRealTokens));
    }
    if (rng() % 30 == 0) text += rng() % 2 ? "  junk, 7" : ",9";
    if (rng() % 25 == 0) text += "\r";
    text += "\n";
  }
  return text;
}

struct Outcome {
  std::int32_t i = 0, ampl = 0;
  double range = 0, angle = 0, tsec = 0;
  ReadStatus status = ReadStatus::ok;
  std::int64_t line = 0;
  std::string error;
};

void expect_same(const Outcome& a, const Outcome& b, int record) {
  ASSERT_EQ(a.status, b.status) << "record " << record;
  EXPECT_EQ(a.line, b.line) << "record " << record;
  EXPECT_EQ(a.error, b.error) << "record " << record;
  if (a.status != ReadStatus::ok) return;
  EXPECT_EQ(a.i, b.i) << "record " << record;
  EXPECT_EQ(a.ampl, b.ampl) << "record " << record;
  EXPECT_EQ(std::bit_cast<std::uint64_t>(a.range), std::bit_cast<std::uint64_t>(b.range))
      << "record " << record;
  EXPECT_EQ(std::bit_cast<std::uint64_t>(a.angle), std::bit_cast<std::uint64_t>(b.angle))
      << "record " << record;
  EXPECT_EQ(std::bit_cast<std::uint64_t>(a.tsec), std::bit_cast<std::uint64_t>(b.tsec))
      << "record " << record;
}

Outcome by_value(FreeReader& r) {
  Outcome o;
  r.start_read();
  o.status = r.integer(o.i);
  if (o.status == ReadStatus::ok) o.status = r.real(o.range);
  if (o.status == ReadStatus::ok) o.status = r.integer(o.ampl);
  if (o.status == ReadStatus::ok) o.status = r.real(o.angle);
  if (o.status == ReadStatus::ok) o.status = r.real(o.tsec);
  o.line = r.line();
  o.error = r.error();
  return o;
}

Outcome plain_first(FreeReader& r, int& plain_lines) {
  r.start_read();
  Outcome o;
  if (!r.plain_line(o.i, o.range, o.ampl, o.angle, o.tsec)) {
    // by_value's start_read finds the read already started: it changes nothing.
    return by_value(r);
  }
  ++plain_lines;
  o.line = r.line();
  o.error = r.error();
  return o;
}

TEST(FreeReaderPlainLines, SameAsValueByValue) {
  std::mt19937_64 rng(16);
  const std::string text = random_records(rng, 30000);
  ASSERT_GT(text.size(), 3 * TextInput::kBlock);  // lines cut at block ends

  const std::filesystem::path file = std::filesystem::path(::testing::TempDir()) /
                                     ("beamfall-plain-" + std::to_string(::getpid()) + ".txt");
  {
    std::FILE* f = std::fopen(file.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), f), text.size());
    ASSERT_EQ(std::fclose(f), 0);
  }
  TextInput from_file(open_for_reading(file.string()), file.string());
  TextInput from_string(text);
  FreeReader fast(from_file), slow(from_string);
  int plain_lines = 0, records = 0, errors = 0;
  for (;; ++records) {
    const Outcome a = plain_first(fast, plain_lines);
    const Outcome b = by_value(slow);
    expect_same(a, b, records);
    if (::testing::Test::HasFailure()) break;
    if (b.status == ReadStatus::end_of_file) break;
    if (b.status == ReadStatus::bad_value) ++errors;
  }
  std::filesystem::remove(file);
  // Both paths must have had their share of the records.
  EXPECT_GT(plain_lines, 10000);
  EXPECT_GT(records - plain_lines, 3000);
  EXPECT_GT(errors, 1000);
}

TEST(FreeReaderPlainLines, WhatIsPlain) {
  struct Case {
    const char* text;
    bool plain;
  };
  const Case cases[] = {
      {"1 377.792018 112 75.00000 0.24999999\n", true},
      {"  -3\t+2.5 -0 .5 5. trailing text, 7\n", true},
      {"1 2 3 4 5\r\n", true},
      {"1 2 3 4 5", false},                   // no line end: the line may go on
      {"1 2 3 4\n5\n", false},                // a record over two lines
      {"\n1 2 3 4 5\n", false},               // a blank line first
      {"1,2 3 4 5\n", false},                 // a comma
      {"1 2 3 4 1.5D0\n", false},             // an exponent
      {"1 2 3 4 1234567890123456\n", false},  // 16 significant digits
      {"1234567890 2 3 4 5\n", false},        // a 10-digit integer
      {"1 2 3 4 5/\n", false},
  };
  for (const Case& c : cases) {
    TextInput in(c.text);
    FreeReader r(in);
    r.start_read();
    std::int32_t i = -1, ampl = -1;
    double range = -1, angle = -1, tsec = -1;
    EXPECT_EQ(r.plain_line(i, range, ampl, angle, tsec), c.plain) << c.text;
    if (!c.plain) {
      // Nothing read or changed: the values are still there for the slow path.
      EXPECT_EQ(i, -1) << c.text;
      std::int32_t first = 0;
      EXPECT_NE(r.integer(first), ReadStatus::end_of_file) << c.text;
    }
  }
}

}  // namespace
}  // namespace bf
