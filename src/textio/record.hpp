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

// 10^d * 2^20 for d = 0 .. 9; every one is exact (5^d * 2^(d+20)).
inline constexpr double kPow10Q20[] = {0x1p20,       10 * 0x1p20,  100 * 0x1p20, 1e3 * 0x1p20,
                                       1e4 * 0x1p20, 1e5 * 0x1p20, 1e6 * 0x1p20, 1e7 * 0x1p20,
                                       1e8 * 0x1p20, 1e9 * 0x1p20};

// The scaled-integer path of Fw.d: n = |v| * 10^d rounded half away from
// zero, when the double product decides it (d <= 9, |v| * 10^d < 2^33).
// z = |v| * 10^d * 2^20 is the exact Z rounded once, below 2^53, where every
// half-way point T of the decimal value is an integer (a multiple of 2^20
// plus 2^19). Rounding is monotone and keeps T, so z lies on the same side of
// T as Z, or on T itself: rounding floor(z) half up to a multiple of 2^20
// rounds Z the same way unless z = T, the one value of floor(z) mod 2^20 that
// sends the field to the exact path. NaN and infinities fail the range test.
inline bool scaled_decimal(double v, int d, bool& minus, std::uint64_t& n) {
  if (d > 9) return false;
  const double z = std::fabs(v) * kPow10Q20[d];
  if (!(z < 0x1p53)) return false;
  const auto u = static_cast<std::uint64_t>(static_cast<std::int64_t>(z));
  if ((u & 0xFFFFF) == 0x80000) return false;
  minus = std::signbit(v);
  n = (u + 0x80000) >> 20;
  return true;
}

// Writes n right-aligned so that its last digit is at end[-1], two digits at
// a time; returns the position of its first digit. 0 is written as "0".
template <class Uint>
inline char* put_digits_backwards(char* end, Uint n) {
  char* p = end;
  while (n >= 100) {
    const Uint q = n / 100;
    p -= 2;
    std::memcpy(p, &kDigitPairs[2 * (n - q * 100)], 2);
    n = q;
  }
  if (n >= 10) {
    p -= 2;
    std::memcpy(p, &kDigitPairs[2 * n], 2);
  } else {
    *--p = static_cast<char>('0' + n);
  }
  return p;
}

// Writes the D digits of x < 10^D (leading zeros included) so that they end
// at end[-1]. Up to six digits come from one fixed-point product: t = x * M
// with M = ceil(2^32 / 10^L) holds x / 10^L in its high half, and each
// multiplication of the low half by 100 brings the next two digits up. M
// exceeds 2^32 / 10^L by less than 0.3, so the error x * 0.3 / 2^32 stays
// below the 10^-L that would carry into a digit for every x < 10^D (checked
// for all of them in the unit tests). Longer fractions go two digits at a
// time by division.
template <int D>
inline void put_fraction_digits(char* end, std::uint32_t x) {
  if constexpr (D >= 3 && D <= 6) {
    constexpr int kLow = D % 2 == 1 ? D - 1 : D - 2;  // digits after the leading 1 or 2
    constexpr std::uint64_t kM = ((std::uint64_t{1} << 32) + kIPow10[kLow] - 1) / kIPow10[kLow];
    std::uint64_t t = x * kM;
    char* p = end - D;
    if constexpr (D % 2 == 1) {
      *p++ = static_cast<char>('0' + (t >> 32));
    } else {
      std::memcpy(p, &kDigitPairs[2 * (t >> 32)], 2);
      p += 2;
    }
    for (int k = 0; k < kLow / 2; ++k) {
      t = (t & 0xFFFFFFFF) * 100;
      std::memcpy(p, &kDigitPairs[2 * (t >> 32)], 2);
      p += 2;
    }
  } else {
    char* p = end;
    for (int k = 0; k < D / 2; ++k) {
      p -= 2;
      std::memcpy(p, &kDigitPairs[2 * (x % 100)], 2);
      x /= 100;
    }
    if constexpr (D % 2 == 1) *--p = static_cast<char>('0' + x);
  }
}

// Writes n * 10^-D (n < 2^34) with at least one integer digit so that it ends
// at end[-1]; returns the position of its first character.
template <int D>
inline char* put_decimal_backwards(char* end, std::uint64_t n) {
  if constexpr (D > 0) {
    put_fraction_digits<D>(end, static_cast<std::uint32_t>(n % kIPow10[D]));
    char* p = end - D;
    *--p = '.';
    return put_digits_backwards(p, static_cast<std::uint32_t>(n / kIPow10[D]));  // < 2^31
  } else {
    end[-1] = '.';
    return put_digits_backwards(end - 1, n);
  }
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

// Fw.d with the width and decimals fixed at compile time, into a field that
// already holds W blanks: only the characters that are not blanks are
// written. A line written whole is filled with blanks once and its fields
// placed on it. The same text as put_f.
template <int W, int D>
inline char* put_f_on_blanks(char* out, double v) {
  static_assert(D >= 0 && D <= 9 && W > D);
  // The largest n that fits with and without a minus sign (0: none does, the
  // leading-0 rule then needs the general writer).
  constexpr std::uint64_t kFitPlus = W >= D + 2 ? detail::kIPow10[W - 1] : 0;
  constexpr std::uint64_t kFitMinus = W >= D + 3 ? detail::kIPow10[W - 2] : 0;
  bool minus = false;
  std::uint64_t n = 0;
  if (detail::scaled_decimal(v, D, minus, n)) {
    const bool sign = minus && n != 0;
    if (n < (sign ? kFitMinus : kFitPlus)) {
      char* first = detail::put_decimal_backwards<D>(out + W, n);
      if (sign) first[-1] = '-';
      return out + W;
    }
  }
  return put_f(out, W, D, v);
}

// Fw.d with the width and decimals fixed at compile time: the same text as
// put_f, for the formats written once per point.
template <int W, int D>
inline char* put_f_fixed(char* out, double v) {
  std::memset(out, ' ', W);
  return put_f_on_blanks<W, D>(out, v);
}

// Iw with the width fixed at compile time, into a field that already holds W
// blanks. The same text as put_i.
template <int W>
inline char* put_i_on_blanks(char* out, std::int64_t v) {
  static_assert(W >= 1 && W <= 18);
  if (v >= 0 && static_cast<std::uint64_t>(v) < detail::kIPow10[W]) {
    detail::put_digits_backwards(out + W, static_cast<std::uint64_t>(v));
    return out + W;
  }
  if (v < 0 && v > -static_cast<std::int64_t>(detail::kIPow10[W - 1])) {
    detail::put_digits_backwards(out + W, static_cast<std::uint64_t>(-v))[-1] = '-';
    return out + W;
  }
  return put_i(out, W, v);
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
