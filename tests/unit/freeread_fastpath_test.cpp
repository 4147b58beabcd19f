// Short decimals are converted without std::from_chars; the result must be
// the same correctly rounded double.
#include <gtest/gtest.h>

#include <charconv>
#include <cstdio>
#include <random>
#include <string>

#include "textio/freeread.hpp"

namespace bf {
namespace {

TEST(FreeReaderReals, ShortDecimalsMatchFromChars) {
  std::mt19937_64 gen(11);
  std::string text;
  std::vector<std::string> tokens;
  for (int k = 0; k < 200000; ++k) {
    // 1 to 17 digits with the point anywhere, sometimes an exponent: both the
    // exact path and the fallback run.
    const int ndigits = 1 + static_cast<int>(gen() % 17);
    std::string digits;
    for (int j = 0; j < ndigits; ++j)
      digits += static_cast<char>('0' + gen() % 10);
    const auto point = static_cast<std::size_t>(gen() % (ndigits + 1));
    std::string token;
    if (gen() % 2) token += '-';
    token.append(digits, 0, point);
    token += '.';
    token.append(digits, point);
    if (gen() % 4 == 0) {
      token += 'e';
      token += std::to_string(static_cast<int>(gen() % 50) - 25);
    }
    tokens.push_back(token);
    text += token;
    text += '\n';
  }
  TextInput in(text);
  FreeReader r(in);
  for (const std::string& token : tokens) {
    r.start_read();
    double got = 0, want = 0;
    ASSERT_EQ(r.real(got), ReadStatus::ok) << token;
    std::from_chars(token.data() + (token[0] == '-'), token.data() + token.size(), want);
    if (token[0] == '-') want = -want;
    ASSERT_EQ(got, want) << token;
    ASSERT_EQ(std::signbit(got), std::signbit(want)) << token;
  }
}

}  // namespace
}  // namespace bf
