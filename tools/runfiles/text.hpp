// Locale-independent number text, small file helpers and the tools' error type, shared by the
// simulator and checker, the quick look and the campaign summary (namespace runfiles).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace runfiles {

// Every failure of the tools is reported as one line naming the file or option.
struct ToolError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Fixed-point text with the given number of decimals ("-0.000" is written as "0.000").
std::string fixed(double v, int decimals);

// Shortest text that reads back as exactly the same double.
std::string exact(double v);

// Parses a whole token as a double (a leading '+' allowed); false when it is not a number.
bool parse_double(std::string_view s, double& v);
bool parse_int(std::string_view s, std::int64_t& v);

// Splits at blanks, tabs and commas.
std::vector<std::string_view> split_fields(std::string_view line);

// Whole file as bytes; throws ToolError naming the file.
std::string read_file(const std::string& path);

// Writes the whole string; throws ToolError naming the file on any failure.
void write_file(const std::string& path, std::string_view data);

// Lines without their line ends.
std::vector<std::string_view> split_lines(std::string_view text);

// Deterministic counter-based random numbers: the same (seed, a, b) always gives the same
// value, so the checker can regenerate any single measurement without replaying the others.
std::uint64_t mix64(std::uint64_t x);
double uniform01(std::uint64_t seed, std::uint64_t a, std::uint64_t b);  // in [0, 1)
double normal01(std::uint64_t seed, std::uint64_t a, std::uint64_t b);   // mean 0, sd 1

}  // namespace runfiles
