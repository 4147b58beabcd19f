// The field writers Iw, Fw.d, Aw and nX, the record format interpreter and
// free-format lines: tables of cases beyond those in record_test.cpp, and a
// differential test of Fw.d against the C library's printf.
//
// Expected Fw.d texts were derived with Python's decimal module: the exact
// value Decimal(v) quantized to d places with ROUND_HALF_UP, then the sign,
// leading-0 and width rules applied by hand.
#include <gtest/gtest.h>
#include <locale.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "textio/record.hpp"

namespace bf {
namespace {

std::string f(int w, int d, double v) {
  char buf[512];
  return std::string(buf, put_f(buf, w, d, v));
}

struct FCase {
  int w, d;
  double v;
  const char* text;
};

void check_rows(const std::vector<FCase>& rows) {
  for (const FCase& c : rows) {
    EXPECT_EQ(f(c.w, c.d, c.v), c.text) << "F" << c.w << "." << c.d << " of " << c.v;
  }
}

TEST(FieldFRows, ExactTiesGoAwayFromZero) {
  check_rows({
      {8, 2, -0.375, "   -0.38"},
      {6, 1, 0.25, "   0.3"},
      {6, 1, -0.25, "  -0.3"},
      {5, 2, 0.125, " 0.13"},
      {4, 2, 0.125, "0.13"},
      {6, 3, 0.0625, " 0.063"},
      {6, 3, -0.0625, "-0.063"},
      {7, 1, 9.75, "    9.8"},
      {6, 2, 9.875, "  9.88"},
      {6, 0, 0.5, "    1."},
      {6, 0, -0.5, "   -1."},
      {6, 0, 1.5, "    2."},
      {6, 0, -2.5, "   -3."},
      // The carry adds a digit, which may then no longer fit.
      {6, 0, 9.5, "   10."},
      {6, 0, 99.5, "  100."},
      {5, 0, 999.5, "1000."},
      {4, 0, 999.5, "****"},
      {6, 0, -999.5, "-1000."},
      {5, 0, -999.5, "*****"},
      // d above 9, and ties beyond 2^33 after scaling: the exact path only.
      {14, 10, 0.00048828125, "  0.0004882813"},
      {14, 10, -0.00048828125, " -0.0004882813"},
      {14, 0, 8589934592.5, "   8589934593."},
      {14, 0, -8589934592.5, "  -8589934593."},
      {20, 1, 1000000000000000.25, "  1000000000000000.3"},
      {20, 2, 1000000000000000.125, " 1000000000000000.13"},
  });
}

TEST(FieldFRows, NearTiesRoundTheBinaryValue) {
  check_rows({
      {5, 2, 2.675, " 2.67"},         // 2.67499999999999982236...
      {5, 2, 0.145, " 0.14"},         // 0.14499999999999999000...
      {5, 2, 1.115, " 1.11"},         // 1.11499999999999999111...
      {5, 2, 0.285, " 0.28"},         // 0.28499999999999997557...
      {5, 2, 8.345, " 8.35"},         // 8.34500000000000063948...
      {4, 1, 0.05, " 0.1"},           // 0.05000000000000000277...
      {4, 1, 0.15, " 0.1"},           // 0.14999999999999999444...
      {4, 1, 0.35, " 0.3"},           // 0.34999999999999997779...
      {4, 1, 0.45, " 0.5"},           // 0.45000000000000001110...
      {8, 3, 1234.5675, "1234.568"},  // 1234.56750000000010913...
      {6, 2, 9.995, "  9.99"},        // 9.99499999999999921840...
      {6, 2, 0.995, "  0.99"},        // 0.99499999999999999555...
      {8, 3, 0.0005, "   0.001"},     // 0.00050000000000000001...
      {8, 3, -0.0005, "  -0.001"},
      {5, 2, -0.005, "-0.01"},  // -0.00500000000000000010...: rounds away from zero
  });
}

TEST(FieldFRows, LargeMagnitudes) {
  check_rows({
      {12, 6, 12345.678901, "12345.678901"},  // 1.2e10 after scaling
      {11, 6, 8589.934592, "8589.934592"},    // just below 2^33 after scaling
      {12, 6, -12345.678901, "************"},
      {22, 6, 123456789.123456789, "      123456789.123457"},  // 123456789.12345679104...
      {24, 2, 9007199254740994.0, "     9007199254740994.00"},
      {10, 2, 1e300, "**********"},
      {8, 2, -1e300, "********"},
  });
  // 1e300 is 1000000000000000052504760255204420248704468581108159154915854115511802457988908195
  // 786371375080447864043704443832883878176942523235360430575644792184786706982848387200926
  // 575803737830233794788090059368953234970799945081119038967640880074652742780142494579258
  // 788820056842838115669472196386865459400540160 exactly (301 digits).
  const std::string digits =
      "1000000000000000052504760255204420248704468581108159154915854115511802457988908195"
      "786371375080447864043704443832883878176942523235360430575644792184786706982848387200926"
      "575803737830233794788090059368953234970799945081119038967640880074652742780142494579258"
      "788820056842838115669472196386865459400540160";
  ASSERT_EQ(digits.size(), 301u);
  EXPECT_EQ(f(310, 2, 1e300), std::string(6, ' ') + digits + ".00");
  EXPECT_EQ(f(310, 2, -1e300), std::string(5, ' ') + "-" + digits + ".00");
  EXPECT_EQ(f(304, 2, 1e300), digits + ".00");
  EXPECT_EQ(f(303, 2, 1e300), std::string(303, '*'));
}

TEST(FieldFRows, TinyValuesAndZeroHaveNoMinusSign) {
  check_rows({
      {8, 3, 1e-300, "   0.000"},
      {8, 3, -1e-300, "   0.000"},
      {5, 2, 5e-324, " 0.00"},
      {5, 2, -5e-324, " 0.00"},
      {12, 6, 2.2250738585072014e-308, "    0.000000"},
      {12, 6, -2.2250738585072014e-308, "    0.000000"},
      {5, 2, -0.004, " 0.00"},
      {5, 2, -0.0049999, " 0.00"},
      {6, 0, -0.0, "    0."},
      {6, 0, -0.3, "    0."},
      {14, 10, -1e-11, "  0.0000000000"},
      {30, 25, 1e-20, "   0.0000000000000000000100000"},  // 9.99999999999999945e-21
  });
}

TEST(FieldFRows, LeadingZeroOnlyWhenThereIsRoom) {
  check_rows({
      {4, 2, 0.999, "1.00"},  // rounds to 1: no leading-0 question
      {4, 2, 0.994, "0.99"},
      {3, 2, 0.994, ".99"},
      {4, 2, -0.994, "-.99"},
      {5, 2, -0.994, "-0.99"},
      {3, 2, -0.004, ".00"},  // rounds to zero: no minus, and no room for the 0
      {2, 2, 0.5, "**"},
      {2, 0, 0.3, "0."},
      {2, 0, -0.3, "0."},
      {2, 0, -0.7, "**"},
      {3, 0, -0.7, "-1."},
  });
}

TEST(FieldFRows, AsterisksWhenTooWide) {
  check_rows({
      {6, 2, -99.995, "******"},  // -99.99500000000000454...: rounds to -100.00
      {6, 2, -99.994, "-99.99"},
      {6, 2, 1000.0, "******"},
      {6, 2, -100.0, "******"},
      {5, 2, -9.995, "-9.99"},  // -9.99499999999999921840...
      {5, 2, -9.996, "*****"},
      {4, 1, 99.94, "99.9"},
      {4, 1, 99.95, "****"},  // 99.95000000000000284...
      {1, 0, 5.0, "*"},
      {2, 0, 5.0, "5."},
  });
}

TEST(FieldFRows, NonFiniteAtTheWidthBoundaries) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  check_rows({
      {3, 1, inf, "Inf"},
      {10, 1, inf, "  Infinity"},
      {4, 1, -inf, "-Inf"},
      {10, 3, -inf, " -Infinity"},
      {3, 0, nan, "NaN"},
      {9, 2, nan, "      NaN"},
      {5, 2, std::copysign(nan, -1.0), "  NaN"},
      {1, 0, nan, "*"},
  });
}

// The reference for the differential test: glibc's printf rounds the exact
// binary value but sends ties to even. A tie is recognised from the value
// printed with d+30 decimals: digit d+1 is 5 and all after it are 0. A double
// near a tie without being one differs from it by at least 2^(q+d) units of
// 10^-d, where 2^q is its last bit; for the magnitudes where ties can occur
// (from 0.5e-d up) and d <= 7 that is above 10^-22 units, far more than the
// last printed digit can hide. A tie is then printed as the next double above
// it, which rounds up; the sign, leading-0 and width rules are applied here.
std::string reference_f(int w, int d, double v) {
  const double a = std::fabs(v);
  bool tie = false;
  if (a < 0x1p53) {  // from 2^53 up every double is an integer
    char wide[128];
    std::snprintf(wide, sizeof wide, "%.*f", d + 30, a);
    const char* point = std::strchr(wide, '.');
    tie = point[d + 1] == '5';
    for (const char* p = point + d + 2; *p != '\0'; ++p)
      tie = tie && *p == '0';
  }

  char body[512];
  std::snprintf(body, sizeof body, "%.*f", d, tie ? std::nextafter(a, 2 * a) : a);
  std::string b = body;
  if (d == 0) b += '.';
  const bool zero = b.find_first_of("123456789") == std::string::npos;
  std::string t = (std::signbit(v) && !zero ? "-" : "") + b;
  if (static_cast<int>(t.size()) > w && b.compare(0, 2, "0.") == 0) t.erase(t.size() - b.size(), 1);
  if (static_cast<int>(t.size()) > w) return std::string(static_cast<std::size_t>(w), '*');
  return std::string(static_cast<std::size_t>(w) - t.size(), ' ') + t;
}

// printf follows LC_NUMERIC: pin the C locale for this thread.
class CLocale {
 public:
  CLocale() : c_(newlocale(LC_ALL_MASK, "C", nullptr)), old_(uselocale(c_)) {}
  ~CLocale() {
    uselocale(old_);
    freelocale(c_);
  }

 private:
  locale_t c_;
  locale_t old_;
};

// Random values that reach every branch of Fw.d: spread over the field and
// beyond it, near decimal ties, on exact binary ties, at the asterisk limits,
// around zero, and arbitrary mantissas over a wide range of exponents.
double random_value(std::mt19937_64& rng, int w, int d) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const double scale = std::pow(10.0, d);
  const double top = std::pow(10.0, w - d);
  const double sign = rng() & 1 ? -1.0 : 1.0;
  auto nudge = [&](double x) {
    const int steps = static_cast<int>(rng() % 5) - 2;
    for (int k = 0; k < steps; ++k)
      x = std::nextafter(x, 1e308);
    for (int k = 0; k > steps; --k)
      x = std::nextafter(x, -1e308);
    return x;
  };
  switch (rng() % 7) {
    case 0:
      return sign * unit(rng) * top;
    case 1:
      return sign * std::pow(10.0, -d - 3 + unit(rng) * (w + 5));
    case 2: {  // the double nearest a decimal tie, and its neighbours
      const double k = std::floor(unit(rng) * top * scale / 10);
      return sign * nudge((k + 0.5) / scale);
    }
    case 3: {  // an exact tie: odd multiple of 2^-(d+1)
      const auto j = 2 * (rng() % static_cast<std::uint64_t>(top * scale)) + 1;
      return sign * std::ldexp(static_cast<double>(j), -(d + 1));
    }
    case 4: {  // where the field overflows
      const double limit = sign > 0 ? top / 10 : top / 100;
      return sign * nudge(limit - 0.5 / scale);
    }
    case 5:
      return sign * unit(rng) * 0.6 / scale;
    default: {  // any mantissa, with a binary exponent from -80 to 80
      const auto mantissa = static_cast<double>(rng() >> 11);
      return sign * std::ldexp(mantissa, static_cast<int>(rng() % 161) - 80 - 53);
    }
  }
}

// 2.1 million values in the optimised build; a third of that in the debug and
// sanitizer builds, which run the same code many times slower.
#ifdef NDEBUG
constexpr int kValuesPerFormat = 300000;
#else
constexpr int kValuesPerFormat = 100000;
#endif

TEST(FieldFDifferential, MatchesPrintfWithTiesAwayFromZero) {
  CLocale c_locale;
  struct Format {
    int w, d;
  };
  const Format formats[] = {{9, 6}, {10, 6}, {12, 6}, {8, 2}, {11, 7}, {7, 2}, {6, 2}};
  std::mt19937_64 rng(20240611);
  int ties = 0, asterisks = 0;
  for (const Format& fm : formats) {
    int failures = 0;
    for (int n = 0; n < kValuesPerFormat && failures < 10; ++n) {
      const double v = random_value(rng, fm.w, fm.d);
      const std::string want = reference_f(fm.w, fm.d, v);
      const std::string got = f(fm.w, fm.d, v);
      if (got != want) {
        ++failures;
        ADD_FAILURE() << "F" << fm.w << "." << fm.d << " of " << std::hexfloat << v << ": got '"
                      << got << "', want '" << want << "'";
      }
      if (want[0] == '*') ++asterisks;
      if (std::fmod(std::ldexp(std::fabs(v), fm.d + 1), 2.0) == 1.0) ++ties;
    }
  }
  // The generator must have reached the cases it is there for.
  EXPECT_GT(ties, 10000);
  EXPECT_GT(asterisks, 10000);
}

// The compile-time formats, each placed on a line blanked whole as the point,
// centre and cross-profile lines are written, against the same printf
// reference: their own digit writer and the fallbacks near ties and at the
// width limits. Characters on either side of the field must stay blank.
template <int W, int D>
void expect_on_blanks_match_printf(std::mt19937_64& rng) {
  int failures = 0;
  for (int n = 0; n < kValuesPerFormat / 2 && failures < 10; ++n) {
    const double v = random_value(rng, W, D);
    char line[W + 2];
    std::memset(line, ' ', sizeof line);
    put_f_on_blanks<W, D>(line + 1, v);
    const std::string got(line, sizeof line);
    std::string want(1, ' ');
    want.append(reference_f(W, D, v)).push_back(' ');
    if (got != want) {
      ++failures;
      ADD_FAILURE() << "F" << W << "." << D << " of " << std::hexfloat << v << ": got '" << got
                    << "', want '" << want << "'";
    }
  }
}

TEST(FieldFDifferential, FixedWidthsOnBlankedLinesMatchPrintf) {
  CLocale c_locale;
  std::mt19937_64 rng(16);
  expect_on_blanks_match_printf<9, 6>(rng);
  expect_on_blanks_match_printf<10, 6>(rng);
  expect_on_blanks_match_printf<12, 6>(rng);
  expect_on_blanks_match_printf<8, 2>(rng);
  expect_on_blanks_match_printf<11, 7>(rng);
  expect_on_blanks_match_printf<10, 2>(rng);
  expect_on_blanks_match_printf<7, 6>(rng);  // no room for a sign beside the leading 0
  expect_on_blanks_match_printf<3, 2>(rng);  // only room for ".dd"
  expect_on_blanks_match_printf<12, 0>(rng);
}

// The fraction digits of the fixed-width fields: every x below 10^D for the
// fixed-point path (D up to 6), a spread of values for the division path.
template <int D>
void expect_fraction_digits(std::uint32_t step) {
  constexpr auto kEnd = static_cast<std::uint32_t>(detail::kIPow10[D]);
  char want[D], got[D];
  for (std::uint32_t x = 0; x < kEnd; x += step) {
    std::uint32_t rest = x;
    for (int k = D - 1; k >= 0; --k, rest /= 10)
      want[k] = static_cast<char>('0' + rest % 10);
    detail::put_fraction_digits<D>(got + D, x);
    ASSERT_EQ(std::string(got, D), std::string(want, D)) << "D = " << D << ", x = " << x;
  }
}

TEST(FieldF, FractionDigits) {
  expect_fraction_digits<1>(1);
  expect_fraction_digits<2>(1);
  expect_fraction_digits<3>(1);
  expect_fraction_digits<4>(1);
  expect_fraction_digits<5>(1);
  expect_fraction_digits<6>(1);
  expect_fraction_digits<7>(7);
  expect_fraction_digits<8>(97);
  expect_fraction_digits<9>(997);
}

// Iw at a width fixed at compile time gives put_i's text, over every value
// near the width limits and the sign.
template <int W>
void expect_i_on_blanks_matches(std::int64_t lo, std::int64_t hi) {
  for (std::int64_t v = lo; v <= hi; ++v) {
    char line[W + 2], general[W + 2];
    std::memset(line, ' ', sizeof line);
    std::memset(general, ' ', sizeof general);
    put_i_on_blanks<W>(line + 1, v);
    put_i(general + 1, W, v);
    ASSERT_EQ(std::string(line, sizeof line), std::string(general, sizeof general))
        << "I" << W << " of " << v;
  }
}

TEST(FieldI, FixedWidthsOnBlankedLines) {
  expect_i_on_blanks_matches<1>(-20, 20);
  expect_i_on_blanks_matches<3>(-1200, 1200);
  expect_i_on_blanks_matches<4>(-12000, 12000);
  expect_i_on_blanks_matches<3>(std::numeric_limits<std::int64_t>::min(),
                                std::numeric_limits<std::int64_t>::min() + 2);
  expect_i_on_blanks_matches<3>(std::numeric_limits<std::int64_t>::max() - 2,
                                std::numeric_limits<std::int64_t>::max() - 1);
}

TEST(FieldI, Rows) {
  struct Case {
    int w;
    std::int64_t v;
    const char* text;
  };
  const Case cases[] = {
      {1, 0, "0"},
      {3, 0, "  0"},
      {2, -1, "-1"},
      {1, -1, "*"},
      {4, 12345, "****"},
      {5, 12345, "12345"},
      {6, -12345, "-12345"},
      {5, -12345, "*****"},
      {10, 2147483647, "2147483647"},
      {11, -2147483648LL, "-2147483648"},
      {20, std::numeric_limits<std::int64_t>::min(), "-9223372036854775808"},
      {22, std::numeric_limits<std::int64_t>::max(), "   9223372036854775807"},
  };
  for (const Case& c : cases) {
    char buf[32];
    EXPECT_EQ(std::string(buf, put_i(buf, c.w, c.v)), c.text) << "I" << c.w << " of " << c.v;
  }
}

TEST(FieldA, RightAlignedOrCut) {
  struct Case {
    int w;
    const char* text;
    const char* out;
  };
  const Case cases[] = {
      {6, "abc", "   abc"},  // shorter: blanks in front
      {3, "abc", "abc"},     //
      {2, "abc", "ab"},      // longer: its first w characters
      {4, "", "    "},       //
      {5, "a b ", " a b "},  // its own blanks are kept
      {3, " xy", " xy"},     //
      {0, "abc", ""},        //
  };
  for (const Case& c : cases) {
    char buf[32];
    EXPECT_EQ(std::string(buf, put_a(buf, c.w, c.text)), c.out) << "A" << c.w << " of " << c.text;
  }
  char buf[8];
  EXPECT_EQ(std::string(buf, put_x(buf, 3)), "   ");
  EXPECT_EQ(put_x(buf, 0), buf);
}

struct RecordCase {
  const char* format;
  std::vector<Item> items;
  const char* out;
};

TEST(FormatRecordRows, Descriptors) {
  const RecordCase cases[] = {
      {"3I4", {1, -22, 333}, "   1 -22 333\n"},
      {"2F6.2,1X,I3", {1.5, -0.125, 7}, "  1.50 -0.13   7\n"},
      {"A, A6, A2", {"ab", "cd", "efg"}, "ab    cdef\n"},
      {"'   a' I2", {5}, "   a 5\n"},  // a literal's leading blanks are its own
      {"'x',3X,'y'", {}, "x   y\n"},
      {"I3/I3", {1, 2}, "  1\n  2\n"},
      {"I3,/,/,I3", {1, 2}, "  1\n\n  2\n"},
      {"'only text'", {}, "only text\n"},
      {"F9.6,F10.6,F12.6,F8.2,1X,I3,I4",
       {13.5, 52.123456789, -7.000000499, 1234.567, 99, 17},
       "13.500000 52.123457   -7.000000 1234.57  99  17\n"},
  };
  for (const RecordCase& c : cases) {
    char buf[256];
    const std::size_t n = format_record(buf, sizeof buf, c.format, c.items);
    EXPECT_EQ(std::string(buf, n), c.out) << c.format;
  }
}

TEST(FormatRecordRows, ItemsRunOut) {
  const RecordCase cases[] = {
      // The line ends at the first descriptor that needs a value ...
      {"3I3", {1, 2}, "  1  2\n"},
      {"I3,I3,'never'", {1}, "  1\n"},
      {"'abc' I3 'def'", {}, "abc\n"},
      // ... literal text and blanks before it are still written,
      {"I3,' tail',I3", {1}, "  1 tail\n"},
      {"I2,2X,I2", {1}, " 1  \n"},  // nX needs no value
      // ... also after a line end,
      {"I3,/,' next:',I3", {1}, "  1\n next:\n"},
      // ... and a descriptor satisfied by the last item lets the format go on.
      {"I3,' end'", {1}, "  1 end\n"},
  };
  for (const RecordCase& c : cases) {
    char buf[256];
    const std::size_t n = format_record(buf, sizeof buf, c.format, c.items);
    EXPECT_EQ(std::string(buf, n), c.out) << c.format;
  }
}

TEST(FormatRecordRows, TooLongForTheBufferIsAProgrammingError) {
  char buf[8];
  const std::vector<Item> none, one = {1.0};
  EXPECT_THROW(format_record(buf, sizeof buf, "'12345678'", none), std::logic_error);
  EXPECT_THROW(format_record(buf, sizeof buf, "F9.2", one), std::logic_error);
  EXPECT_EQ(format_record(buf, sizeof buf, "'1234567'", none), 8u);  // the line end fits
}

TEST(FreeFormatRows, Spacing) {
  struct Case {
    std::vector<Item> items;
    const char* out;
  };
  const Case cases[] = {
      {{5}, " 5 "},
      {{"x"}, " x"},
      {{5, "x"}, " 5 x"},
      {{1, 2}, " 1 2 "},
      {{1, "a", 2}, " 1 a 2 "},
      {{"*** thinned output, every:", 3, " scan"}, " *** thinned output, every: 3  scan"},
      {{"a  ", -7}, " a   -7 "},
      {{std::int64_t{-9223372036854775807LL - 1}}, " -9223372036854775808 "},
      {{"ends with blanks   "}, " ends with blanks   "},
  };
  for (const Case& c : cases) {
    char buf[128];
    const std::size_t n = free_format(buf, sizeof buf, c.items);
    EXPECT_EQ(std::string(buf, n), c.out);
  }
  char buf[4];
  const std::vector<Item> text = {"abcd"}, real = {1.5};
  EXPECT_THROW(free_format(buf, sizeof buf, text), std::logic_error);
  EXPECT_THROW(free_format(buf, sizeof buf, real), std::logic_error);
}

}  // namespace
}  // namespace bf
