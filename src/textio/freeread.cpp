#include "textio/freeread.hpp"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <type_traits>

namespace bf {
namespace {

bool is_blank(int c) {
  return c == ' ' || c == '\t' || c == '\r';
}
bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// Checks the Fortran real grammar: [sign] digits [. [digits]] | [sign] . digits,
// then optionally an exponent letter E or D with [sign] digits. Writes a copy
// that std::from_chars accepts (no '+', 'e' for the exponent letter) and the
// decimal exponent of the first significant digit (for telling overflow from
// underflow). Also gathers the digits as an integer `digits` times 10^`scale`
// while that integer stays exact (`exact_digits`).
struct RealParts {
  std::uint64_t digits = 0;
  int sig_digits = 0;  // significant digits gathered (leading zeros not counted)
  long scale = 0;
  bool negative = false;
};

bool normalise_real(std::string_view t, char* out, int& out_len, long& magnitude,
                    RealParts& parts) {
  std::size_t k = 0;
  int n = 0;
  if (k < t.size() && (t[k] == '+' || t[k] == '-')) {
    if (t[k] == '-') {
      out[n++] = '-';
      parts.negative = true;
    }
    ++k;
  }
  auto gather = [&parts](char c) {
    if (parts.sig_digits == 0 && c == '0') return;
    if (++parts.sig_digits <= 19) parts.digits = parts.digits * 10 + static_cast<unsigned>(c - '0');
  };
  int int_digits = 0, frac_digits = 0;
  long first_sig = 0;  // position of the first nonzero digit, relative to the point
  bool seen_sig = false;
  while (k < t.size() && is_digit(t[k])) {
    if (!seen_sig && t[k] != '0') seen_sig = true;
    if (seen_sig) ++first_sig;
    gather(t[k]);
    out[n++] = t[k++];
    ++int_digits;
  }
  if (k < t.size() && t[k] == '.') {
    out[n++] = t[k++];
    while (k < t.size() && is_digit(t[k])) {
      if (!seen_sig) {
        if (t[k] != '0')
          seen_sig = true;
        else
          --first_sig;
      }
      gather(t[k]);
      out[n++] = t[k++];
      ++frac_digits;
    }
  }
  if (int_digits + frac_digits == 0) return false;
  long exponent = 0;
  if (k < t.size() && (t[k] == 'e' || t[k] == 'E' || t[k] == 'd' || t[k] == 'D')) {
    out[n++] = 'e';
    ++k;
    bool neg = false;
    if (k < t.size() && (t[k] == '+' || t[k] == '-')) {
      neg = t[k] == '-';
      if (neg) out[n++] = '-';
      ++k;
    }
    if (k >= t.size()) return false;
    while (k < t.size() && is_digit(t[k])) {
      if (exponent < 100000000) exponent = exponent * 10 + (t[k] - '0');
      out[n++] = t[k++];
    }
    if (neg) exponent = -exponent;
  }
  if (k != t.size()) return false;
  out_len = n;
  magnitude = seen_sig ? first_sig + exponent : -1;
  parts.scale = exponent - frac_digits;
  return true;
}

constexpr double kExactPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                  1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// A value of at most 15 significant digits times a power of ten up to 10^22
// is one correctly rounded operation on two exact doubles.
bool exact_real(const RealParts& p, double& v) {
  if (p.sig_digits > 15 || p.scale < -22 || p.scale > 22) return false;
  const auto m = static_cast<double>(p.digits);
  v = p.scale < 0 ? m / kExactPow10[-p.scale] : m * kExactPow10[p.scale];
  if (p.negative) v = -v;
  return true;
}

// Skips blanks before a plain value; false at a line end or the buffer's end.
bool skip_plain_blanks(const char*& p, const char* end) {
  while (p < end && is_blank(*p))
    ++p;
  return p < end && *p != '\n';
}

// A plain value ends at a blank or the line end (a buffered one). With at
// most 15 digits it is far shorter than the longest value read.
bool plain_value_ends(const char* p, const char* end) {
  return p < end && (is_blank(*p) || *p == '\n');
}

// Gathers the decimal digits from pos on into n (which wraps after 19 of
// them; callers refuse that many); returns how many there were.
std::ptrdiff_t plain_digits(const char*& pos, const char* end, std::uint64_t& n) {
  const char* p = pos;
  std::uint64_t value = n;
  for (; p < end; ++p) {
    const unsigned d = static_cast<unsigned char>(*p) - unsigned{'0'};
    if (d > 9) break;
    value = value * 10 + d;
  }
  n = value;
  const std::ptrdiff_t count = p - pos;
  pos = p;
  return count;
}

}  // namespace

bool FreeReader::plain_value(const char*& p, const char* end, std::int32_t& v) {
  if (!skip_plain_blanks(p, end)) return false;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  std::uint64_t n = 0;
  const std::ptrdiff_t count = plain_digits(p, end, n);
  if (count == 0 || count > 9 || !plain_value_ends(p, end)) return false;
  const auto magnitude = static_cast<std::int32_t>(n);
  v = negative ? -magnitude : magnitude;
  return true;
}

bool FreeReader::plain_value(const char*& p, const char* end, double& v) {
  if (!skip_plain_blanks(p, end)) return false;
  RealParts parts;
  parts.negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  std::ptrdiff_t count = plain_digits(p, end, parts.digits);
  if (p < end && *p == '.') {
    ++p;
    const std::ptrdiff_t frac = plain_digits(p, end, parts.digits);
    count += frac;
    parts.scale = -frac;
  }
  // Leading zeros add nothing to the digits: with at most 15 digits in all
  // there are at most 15 significant ones, and exact_real gives what the
  // value-by-value reader gives. More digits, an exponent or any other
  // character: not plain.
  if (count == 0 || count > 15 || !plain_value_ends(p, end)) return false;
  parts.sig_digits = static_cast<int>(count);
  return exact_real(parts, v);
}

bool FreeReader::end_plain_line(const char* start, const char* p, const char* end) {
  const auto* nl =
      static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
  if (nl == nullptr) return false;
  in_.skip(static_cast<std::size_t>(nl + 1 - start));
  token_line_ = line_++;
  mid_line_ = false;
  comma_seen_ = false;
  value_seen_ = true;
  return true;
}

void FreeReader::start_read() {
  comma_seen_ = false;
  value_seen_ = false;
  if (!mid_line_) return;
  for (int c = in_.peek(); c >= 0; c = in_.peek()) {
    in_.advance();
    if (c == '\n') {
      ++line_;
      break;
    }
  }
  mid_line_ = false;
}

ReadStatus FreeReader::fail(std::string why) {
  error_ = std::move(why);
  return ReadStatus::bad_value;
}

ReadStatus FreeReader::next_token() {
  token_len_ = 0;
  for (;;) {
    int c = in_.peek();
    if (c < 0) return ReadStatus::end_of_file;
    if (c == '\n') {
      in_.advance();
      ++line_;
      mid_line_ = false;
      continue;
    }
    if (is_blank(c)) {
      in_.advance();
      continue;
    }
    mid_line_ = true;
    if (c == ',') {
      in_.advance();
      token_line_ = line_;
      if (comma_seen_) return fail("empty value between two commas");
      if (!value_seen_) return fail("empty value before a comma");
      comma_seen_ = true;
      continue;
    }
    break;
  }
  token_line_ = line_;
  bool too_long = false;
  for (int c = in_.peek(); c >= 0 && c != '\n' && c != ',' && !is_blank(c); c = in_.peek()) {
    if (token_len_ < static_cast<int>(sizeof token_))
      token_[token_len_++] = static_cast<char>(c);
    else
      too_long = true;
    in_.advance();
  }
  comma_seen_ = false;
  value_seen_ = true;
  std::string_view t(token_, static_cast<std::size_t>(token_len_));
  if (too_long) return fail("value too long: '" + std::string(t.substr(0, 40)) + "...'");
  if (t.find('/') != std::string_view::npos)
    return fail("'/' is not allowed: '" + std::string(t) + "'");
  if (t.find('*') != std::string_view::npos)
    return fail("repeat counts are not allowed: '" + std::string(t) + "'");
  return ReadStatus::ok;
}

template <class Real>
ReadStatus FreeReader::read_real(Real& v) {
  ReadStatus s = next_token();
  if (s != ReadStatus::ok) return s;
  std::string_view t(token_, static_cast<std::size_t>(token_len_));
  char norm[sizeof token_ + 2];
  int len = 0;
  long magnitude = 0;
  RealParts parts;
  if (!normalise_real(t, norm, len, magnitude, parts))
    return fail("cannot read a real from '" + std::string(t) + "'");
  if constexpr (std::is_same_v<Real, double>) {
    if (exact_real(parts, v)) return ReadStatus::ok;
  }
  Real value = 0;
  auto r = std::from_chars(norm, norm + len, value);
  if (r.ec == std::errc::result_out_of_range) {
    if (magnitude > 0) return fail("real value out of range: '" + std::string(t) + "'");
    value = norm[0] == '-' ? -Real{0} : Real{0};  // below the smallest value: zero
  } else if (r.ec != std::errc() || r.ptr != norm + len) {
    return fail("cannot read a real from '" + std::string(t) + "'");
  }
  v = value;
  return ReadStatus::ok;
}

ReadStatus FreeReader::real(double& v) {
  return read_real(v);
}
ReadStatus FreeReader::real(float& v) {
  return read_real(v);
}

ReadStatus FreeReader::integer(std::int32_t& v) {
  ReadStatus s = next_token();
  if (s != ReadStatus::ok) return s;
  std::string_view t(token_, static_cast<std::size_t>(token_len_));
  std::string_view digits = t;
  if (!digits.empty() && digits[0] == '+') digits.remove_prefix(1);
  std::int32_t value = 0;
  auto r = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (r.ec == std::errc::result_out_of_range)
    return fail("integer value out of range: '" + std::string(t) + "'");
  bool plus = digits.size() != t.size();
  if (r.ec != std::errc() || r.ptr != digits.data() + digits.size() || digits.empty() ||
      (plus && digits[0] == '-'))
    return fail("cannot read an integer from '" + std::string(t) + "'");
  v = value;
  return ReadStatus::ok;
}

ReadStatus FreeReader::logical(bool& v) {
  ReadStatus s = next_token();
  if (s != ReadStatus::ok) return s;
  std::string_view t(token_, static_cast<std::size_t>(token_len_));
  std::size_t k = (!t.empty() && t[0] == '.') ? 1 : 0;
  char c = k < t.size() ? t[k] : '\0';
  if (c == 't' || c == 'T') {
    v = true;
  } else if (c == 'f' || c == 'F') {
    v = false;
  } else {
    return fail("cannot read a switch (T or F) from '" + std::string(t) + "'");
  }
  return ReadStatus::ok;
}

ReadStatus FreeReader::line_field(char* field, int width) {
  start_read();
  if (in_.peek() < 0) return ReadStatus::end_of_file;
  token_line_ = line_;
  int n = 0;
  std::int64_t length = 0;
  for (int c = in_.peek(); c >= 0 && c != '\n'; c = in_.peek()) {
    if (n < width) field[n++] = static_cast<char>(c);
    ++length;
    in_.advance();
  }
  if (in_.peek() == '\n') {
    in_.advance();
    ++line_;
  }
  // A carriage return that ended the line is no part of the name.
  if (length > 0 && length <= width && field[length - 1] == '\r') --n;
  for (int k = n; k < width; ++k)
    field[k] = ' ';
  mid_line_ = false;
  return ReadStatus::ok;
}

}  // namespace bf
