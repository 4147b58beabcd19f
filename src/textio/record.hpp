// Text records: fixed-width fields (Iw, Fw.d, Aw, nX), a small interpreter for
// record formats written in that notation, and free-format output lines.
//
// Every field writer writes exactly w characters at `out` and returns the
// position after them; none allocates.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace bf {

// Iw: integer right-aligned in w columns; w asterisks when it does not fit.
char* put_i(char* out, int w, std::int64_t v);

// Fw.d: the exact binary value rounded to d decimals (ties away from zero),
// right-aligned in w columns. A magnitude below 1 gets its leading 0 only when
// the field has room; a value that rounds to zero has no minus sign;
// non-finite values are written as Infinity/Inf, -Infinity/-Inf or NaN.
char* put_f(char* out, int w, int d, double v);

namespace detail {

inline constexpr double kPow10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
inline constexpr std::uint64_t kIPow10[] = {1ULL,
                                            10ULL,
                                            100ULL,
                                            1000ULL,
                                            10000ULL,
                                            100000ULL,
                                            1000000ULL,
                                            10000000ULL,
                                            100000000ULL,
                                            1000000000ULL,
                                            10000000000ULL,
                                            100000000000ULL,
                                            1000000000000ULL,
                                            10000000000000ULL,
                                            100000000000000ULL,
                                            1000000000000000ULL,
                                            10000000000000000ULL,
                                            100000000000000000ULL,
                                            1000000000000000000ULL,
                                            10000000000000000000ULL};

// "00" "01" ... "99": digits are written two at a time.
inline constexpr auto kDigitPairs = [] {
  std::array<char, 200> t{};
  for (int k = 0; k < 100; ++k) {
    t[2 * k] = static_cast<char>('0' + k / 10);
    t[2 * k + 1] = static_cast<char>('0' + k % 10);
  }
  return t;
}();

// The scaled-integer path of Fw.d: n = |v| * 10^d rounded, when that can be
// decided exactly this way (d <= 9, finite v, n < 2^33 and the scaled value
// not within 2^-19 of a half-integer). y differs from the exact |v|*10^d by at
// most y*2^-53 < 2^-20 below 2^33, so away from a half-integer by more than
// that, rounding y rounds the exact value the same way.
inline bool scaled_decimal(double v, int d, bool& minus, std::uint64_t& n) {
  if (d > 9 || !std::isfinite(v)) return false;
  const double y = std::fabs(v) * kPow10[d];
  if (!(y < 8589934592.0)) return false;
  const auto whole = static_cast<std::uint64_t>(y);  // y >= 0: truncation is floor
  const double frac = y - static_cast<double>(whole);
  if (!(std::fabs(frac - 0.5) > 0x1p-19)) return false;
  minus = std::signbit(v);
  n = whole + (frac > 0.5 ? 1 : 0);
  return true;
}

// Writes n * 10^-d (n < 2^34, d <= 9) as Fw.d, right to left into the field.
inline char* put_scaled(char* out, int w, int d, bool minus, std::uint64_t n) {
  int int_digits = 1;
  while (int_digits < 11 && n >= kIPow10[d + int_digits])
    ++int_digits;
  const bool below_one = n < kIPow10[d];
  const bool sign = minus && n != 0;
  int need = static_cast<int>(sign) + int_digits + 1 + d;
  bool drop_zero = false;
  if (need > w) {
    if (!below_one || need - 1 > w) {
      for (int k = 0; k < w; ++k)
        out[k] = '*';
      return out + w;
    }
    drop_zero = true;
    --need;
  }
  char* p = out + w;
  int k = d;
  for (; k >= 2; k -= 2) {
    const std::uint64_t q = n / 100;
    p -= 2;
    std::memcpy(p, &kDigitPairs[2 * (n - q * 100)], 2);
    n = q;
  }
  if (k == 1) {
    const std::uint64_t q = n / 10;
    *--p = static_cast<char>('0' + (n - q * 10));
    n = q;
  }
  *--p = '.';
  if (!drop_zero) {
    do {
      const std::uint64_t q = n / 10;
      *--p = static_cast<char>('0' + (n - q * 10));
      n = q;
    } while (n != 0);
  }
  if (sign) *--p = '-';
  while (p > out)
    *--p = ' ';
  return out + w;
}

}  // namespace detail

// Fw.d with the width and decimals fixed at compile time: the same text as
// put_f, for the formats written once per point.
template <int W, int D>
inline char* put_f_fixed(char* out, double v) {
  static_assert(D >= 0 && D <= 9 && W > D);
  bool minus = false;
  std::uint64_t n = 0;
  if (detail::scaled_decimal(v, D, minus, n)) return detail::put_scaled(out, W, D, minus, n);
  return put_f(out, W, D, v);
}

// Aw: text in w columns, right-aligned when shorter, its first w characters
// when longer.
char* put_a(char* out, int w, std::string_view text);

// nX: n blanks.
char* put_x(char* out, int n);

// One value for a formatted record or a free-format line.
struct Item {
  enum class Kind { integer, real, text };
  Kind kind;
  std::int64_t i = 0;
  double f = 0;
  std::string_view s;

  Item(int v) : kind(Kind::integer), i(v) {}
  Item(long v) : kind(Kind::integer), i(v) {}
  Item(long long v) : kind(Kind::integer), i(v) {}
  Item(double v) : kind(Kind::real), f(v) {}
  Item(float v) : kind(Kind::real), f(v) {}
  Item(std::string_view v) : kind(Kind::text), s(v) {}
  Item(const std::string& v) : kind(Kind::text), s(v) {}
  Item(const char* v) : kind(Kind::text), s(v) {}
};

// Writes the record described by `format` in the text record notation:
//   'literal'  Iw  Fw.d  Aw  A  nX  /   and a repeat count before I, F, A (2F9.2).
// Descriptors are separated by blanks or commas. '/' and the end of the
// format end a line ("\n" is written). When the items run out, the record
// ends at the first descriptor that would need a value; literal text before
// it is still written. Returns the number of characters written, which is at
// most `cap` (longer output is a programming error and throws logic_error).
std::size_t format_record(char* out, std::size_t cap, std::string_view format,
                          std::span<const Item> items);

// A free-format output line (no line end): one leading blank, text items
// exactly, integers in their shortest form, a number after a text preceded by
// one blank, every number followed by one blank. Real items are a programming
// error. Returns the number of characters written (at most cap).
std::size_t free_format(char* out, std::size_t cap, std::span<const Item> items);

inline std::size_t format_record(char* out, std::size_t cap, std::string_view format,
                                 std::initializer_list<Item> items) {
  return format_record(out, cap, format, std::span<const Item>(items.begin(), items.size()));
}
inline std::size_t free_format(char* out, std::size_t cap, std::initializer_list<Item> items) {
  return free_format(out, cap, std::span<const Item>(items.begin(), items.size()));
}

}  // namespace bf
