// --roll0: a run with the option gives every output byte of a run whose deck
// has that value written as roll0 on parameter line 6 (deck line 11); a value
// that is not one number is a usage error that touches nothing.
#include <gtest/gtest.h>

#include "run_util.hpp"

namespace bftest {
namespace {

// The deck with `value` as the second value of deck line 11 (pitch0 roll0 heading0).
std::string with_roll0(const std::string& deck, const std::string& value) {
  std::vector<std::string> lines = lines_of(deck);
  std::istringstream fields(lines.at(10));
  std::string pitch0, roll0, heading0;
  fields >> pitch0 >> roll0 >> heading0;
  lines.at(10) = pitch0 + " " + value + " " + heading0;
  return join_lines(lines);
}

struct Roll0Case {
  const char* value;    // as given to --roll0
  const char* in_deck;  // the same value as written in the deck
};

class Roll0 : public ::testing::TestWithParam<Roll0Case> {};

// A flight with a 0.4 degree roll misalignment and cross profiles on, so the
// roll changes every point, the centre track and the regression.
TEST_P(Roll0, SameOutputsAsTheValueWrittenInTheDeck) {
  TempDir tmp("roll0");
  const fs::path by_option = tmp.path() / "option", by_deck = tmp.path() / "deck";
  simulate(by_option, "--duration 2 --nmeas 60 --boresight 0.4,0,0 --text-points");
  fs::copy(by_option, by_deck);
  const std::string deck = slurp(by_option / "deck.txt");

  const Result option = run_beamfall(by_option, deck, {"--roll0", GetParam().value});
  const Result written = run_beamfall(by_deck, with_roll0(deck, GetParam().in_deck));
  ASSERT_EQ(written.status, 0) << written.out;
  EXPECT_EQ(option.status, 0);
  EXPECT_EQ(option.out, written.out);
  EXPECT_EQ(option.err, written.err);
  EXPECT_EQ(files_in(by_option), files_in(by_deck));

  // The value is used, not ignored: the run without it differs.
  const Result plain = run_beamfall(by_option, deck);
  EXPECT_NE(plain.out, option.out);
}

INSTANTIATE_TEST_SUITE_P(Table, Roll0,
                         ::testing::Values(Roll0Case{"0.4", "0.4"}, Roll0Case{"-1.25", "-1.25"},
                                           Roll0Case{"1.5D0", "1.5"}, Roll0Case{"+.75", ".75"},
                                           Roll0Case{"2e-1", "0.2"}, Roll0Case{"3", "3.0"}),
                         [](const auto& param_info) {
                           std::string n = param_info.param.value;
                           for (char& c : n)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return n;
                         });

TEST(Roll0, InlineFormTakesTheSameValue) {
  TempDir tmp("roll0-inline");
  simulate(tmp.path(), "--duration 1 --nmeas 30 --text-points");
  const std::string deck = slurp(tmp.path() / "deck.txt");
  const Result separate = run_beamfall(tmp.path(), deck, {"--roll0", "-0.3"});
  const Result inline_form = run_beamfall(tmp.path(), deck, {"--roll0=-0.3"});
  ASSERT_EQ(separate.status, 0);
  EXPECT_EQ(inline_form.status, 0);
  EXPECT_EQ(inline_form.out, separate.out);
  EXPECT_NE(separate.out.find("  0.00 -0.30  0.00"), std::string::npos) << separate.out;
}

// Not one number: exit 2, the reason on standard error, no report and no file
// written.
TEST(Roll0, MalformedValueIsAUsageError) {
  TempDir tmp("roll0-bad");
  simulate(tmp.path(), "--duration 1 --nmeas 30 --text-points");
  const std::string deck = slurp(tmp.path() / "deck.txt");
  const auto before = files_in(tmp.path());
  for (const char* bad : {"", "abc", "0.5x", "1,2", "1 2", "nan", "inf", "1e999", "--", "0.5/"}) {
    SCOPED_TRACE(std::string("--roll0 '") + bad + "'");
    const Result r = run_beamfall(tmp.path(), deck, {"--roll0", bad});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    const std::vector<std::string> err = lines_of(r.err);
    ASSERT_FALSE(err.empty());
    EXPECT_EQ(err[0],
              std::string("beamfall: --roll0 wants a number of degrees, not '") + bad + "'");
    EXPECT_EQ(files_in(tmp.path()), before);
  }
  const Result missing = run_beamfall(tmp.path(), deck, {"--roll0"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(lines_of(missing.err).at(0), "beamfall: option --roll0 needs a value");
}

}  // namespace
}  // namespace bftest
