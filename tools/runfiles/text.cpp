#include "runfiles/text.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace runfiles {

std::string fixed(double v, int decimals) {
  if (std::isnan(v)) return "nan";
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  if (res.ec != std::errc()) throw ToolError("number too large to write: " + exact(v));
  std::string s(buf, res.ptr);
  if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
  return s;
}

std::string exact(double v) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

namespace {

// A plain decimal ("-123.45", "7") of at most 15 digits: its digits make an integer that a
// double holds exactly, divided by an exact power of ten, and that one rounded quotient is the
// nearest double to the decimal, as from_chars gives it, at a fraction of the cost (the quick
// look reads tens of millions of them). False for anything else, which from_chars decides.
bool plain_decimal(std::string_view s, double& v) {
  static constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                      1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  const bool minus = s[0] == '-';
  std::int64_t m = 0;
  int digits = 0, decimals = 0;
  bool point = false;
  for (std::size_t i = minus ? 1 : 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c >= '0' && c <= '9') {
      if (++digits > 15) return false;
      m = m * 10 + (c - '0');
      decimals += point ? 1 : 0;
    } else if (c == '.' && !point && digits > 0) {
      point = true;
    } else {
      return false;
    }
  }
  if (digits == 0 || (point && decimals == 0)) return false;
  const double q = static_cast<double>(m) / kPow10[decimals];
  v = minus ? -q : q;
  return true;
}

}  // namespace

bool parse_double(std::string_view s, double& v) {
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  if (plain_decimal(s, v)) return true;
  auto res = std::from_chars(s.data(), s.data() + s.size(), v);
  return res.ec == std::errc() && res.ptr == s.data() + s.size();
}

bool parse_int(std::string_view s, std::int64_t& v) {
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  auto res = std::from_chars(s.data(), s.data() + s.size(), v);
  return res.ec == std::errc() && res.ptr == s.data() + s.size();
}

std::vector<std::string_view> split_fields(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() &&
           (line[i] == ' ' || line[i] == '\t' || line[i] == ',' || line[i] == '\r')) {
      ++i;
    }
    std::size_t j = i;
    while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != ',' &&
           line[j] != '\r') {
      ++j;
    }
    if (j > i) out.push_back(line.substr(i, j - i));
    i = j;
  }
  return out;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ToolError("cannot open " + path);
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw ToolError("cannot read " + path);
  return data;
}

void write_file(const std::string& path, std::string_view data) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) throw ToolError("cannot create " + path);
  const bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  if (std::fclose(f) != 0 || !ok) throw ToolError("cannot write " + path);
}

std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t j = text.find('\n', i);
    if (j == std::string_view::npos) j = text.size();
    std::string_view line = text.substr(i, j - i);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    out.push_back(line);
    i = j + 1;
  }
  return out;
}

std::uint64_t mix64(std::uint64_t x) {
  // splitmix64 finaliser
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

double uniform01(std::uint64_t seed, std::uint64_t a, std::uint64_t b) {
  const std::uint64_t x = mix64(mix64(mix64(seed) ^ a) ^ b);
  return static_cast<double>(x >> 11) * 0x1.0p-53;
}

double normal01(std::uint64_t seed, std::uint64_t a, std::uint64_t b) {
  // Box-Muller on two independent uniforms; 1 - u keeps the logarithm finite.
  const double u1 = 1.0 - uniform01(seed, a, 2 * b);
  const double u2 = uniform01(seed, a, 2 * b + 1);
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * 3.14159265358979323846 * u2);
}

}  // namespace runfiles
