// The input deck: five 36-character name lines with the "0" rule, nine
// free-format parameter lines, the input errors, and the derived times.
#include "run/deck.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "textio/error.hpp"

namespace bf {
namespace {

const char* const kNames = "scan.2dd\ntraj.txt\n0\npts.txt\ncen.txt\n";
const char* const kParams =
    "10 30 15.5\n"
    "10.4 11.75\n"
    "50.5 51.5 6.25 7.5\n"
    "3 2 T F T T F\n"
    "0.1 -0.2 1.5\n"
    "0.25 -0.5 1.75\n"
    "20\n"
    "5 95\n"
    "100.5\n";

RunPar read(const std::string& text) {
  TextInput in(text);
  return read_deck(in);
}

// The message of the input error that reading `text` stops with.
std::string error_of(const std::string& text) {
  try {
    read(text);
  } catch (const Stop& s) {
    return s.what();
  }
  return "(no error)";
}

TEST(Deck, ReadsEveryValue) {
  const RunPar p = read(std::string(kNames) + kParams);
  EXPECT_EQ(p.scanname, "scan.2dd" + std::string(28, ' '));
  EXPECT_EQ(file_name(p.gpsname), "traj.txt");
  EXPECT_TRUE(is_no_file(p.geoidname));
  EXPECT_EQ(file_name(p.ptname), "pts.txt");
  EXPECT_EQ(file_name(p.cenname), "cen.txt");
  EXPECT_EQ(p.hh, 10.0);
  EXPECT_EQ(p.mm, 30);
  EXPECT_EQ(p.ss, 15.5);
  EXPECT_EQ(p.tstart, 10.4);
  EXPECT_EQ(p.tend, 11.75);
  EXPECT_EQ(p.latmin, 50.5);
  EXPECT_EQ(p.latmax, 51.5);
  EXPECT_EQ(p.lonmin, 6.25);
  EXPECT_EQ(p.lonmax, 7.5);
  EXPECT_EQ(p.naver, 3);
  EXPECT_EQ(p.nthin, 2);
  EXPECT_TRUE(p.bin2dd);
  EXPECT_FALSE(p.binout);
  EXPECT_TRUE(p.gpsatt);
  EXPECT_TRUE(p.calib);
  EXPECT_FALSE(p.useatt);
  EXPECT_EQ(p.dx, 0.1);
  EXPECT_EQ(p.dy, -0.2);
  EXPECT_EQ(p.dz, 1.5);
  EXPECT_EQ(p.pitch0, 0.25);
  EXPECT_EQ(p.roll0, -0.5);
  EXPECT_EQ(p.heading0, 1.75);
  EXPECT_EQ(p.amin, 20);
  EXPECT_EQ(p.ilo, 5);
  EXPECT_EQ(p.ihi, 95);
  EXPECT_EQ(p.rmin, 100.5);
  // Nothing is derived while reading.
  EXPECT_EQ(p.t0, 0.0);
  EXPECT_FALSE(p.wrtpts);
  EXPECT_FALSE(p.usegeoid);
}

TEST(DeckNameLines, TheZeroRule) {
  struct Case {
    std::string line;
    bool no_file;
    const char* name;  // the name used to open the file
  };
  const Case cases[] = {
      {"0", true, ""},
      {"0   ", true, ""},
      {"0" + std::string(35, ' '), true, ""},
      {"0" + std::string(35, ' ') + "x.dat", true, ""},  // beyond column 36: ignored
      {"0\r", true, ""},
      {" 0", false, " 0"},
      {"00", false, "00"},
      {"0.dat", false, "0.dat"},
      {"0 x", false, "0 x"},
      {"\t0", false, "\t0"},
      {"", false, ""},
  };
  for (const Case& c : cases) {
    const RunPar p = read("a\nb\n" + c.line + "\nd\ne\n" + kParams);
    EXPECT_EQ(p.geoidname.size(), 36u) << "'" << c.line << "'";
    EXPECT_EQ(is_no_file(p.geoidname), c.no_file) << "'" << c.line << "'";
    if (!c.no_file) {
      EXPECT_EQ(file_name(p.geoidname), c.name) << "'" << c.line << "'";
    }
    EXPECT_EQ(file_name(p.ptname), "d");  // the following line is still the next name
  }
}

TEST(DeckNameLines, OnlyTheFirst36CharactersNameTheFile) {
  const std::string name36 = "dir/abcdefghijklmnopqrstuvwxyz012345";
  ASSERT_EQ(name36.size(), 36u);
  const std::string deck = name36 + "6789.2dd\n" + name36 + "\r\n" + "t.txt\r\n" +
                           name36.substr(0, 35) + "\r\n0\r\n" + kParams;
  const RunPar p = read(deck);
  EXPECT_EQ(p.scanname, name36);
  EXPECT_EQ(p.gpsname, name36);  // 36 characters then CR LF: the CR is no part of it
  EXPECT_EQ(file_name(p.geoidname), "t.txt");
  EXPECT_EQ(p.ptname, name36.substr(0, 35) + " ");
  EXPECT_TRUE(is_no_file(p.cenname));
  EXPECT_EQ(p.rmin, 100.5);
}

TEST(DeckNameLines, BlanksInsideAndBeforeTheNameStay) {
  const RunPar p = read(std::string("  my scan.txt   \na\nb\nc\nd\n") + kParams);
  EXPECT_EQ(file_name(p.scanname), "  my scan.txt");
}

TEST(DeckParameterLines, WindowsLineEnds) {
  std::string deck;
  for (char c : std::string(kNames) + kParams) {
    if (c == '\n') deck += '\r';
    deck += c;
  }
  const RunPar p = read(deck);
  EXPECT_TRUE(is_no_file(p.geoidname));
  EXPECT_EQ(file_name(p.cenname), "cen.txt");
  EXPECT_EQ(p.ihi, 95);
  EXPECT_EQ(p.rmin, 100.5);
}

TEST(DeckParameterLines, SplitOverLinesAndExtraValues) {
  const RunPar p = read(std::string(kNames) +
                        "10\n30\n\n15.5 99 junk\n"  // line 1 over four lines, extras ignored
                        "10.4,11.75,12\n"           //
                        "50.5 51.5\t6.25\n7.5\n"    //
                        "3 2 T F\n.TRUE. .true. f\n"
                        "0.1 -0.2 1.5D0\n"
                        ".25 -.5 +1.75\n"
                        "20 21 22\n"
                        "5 95\n"
                        "100.5");  // no line end after the last line
  EXPECT_EQ(p.hh, 10.0);
  EXPECT_EQ(p.mm, 30);
  EXPECT_EQ(p.ss, 15.5);
  EXPECT_EQ(p.tstart, 10.4);
  EXPECT_EQ(p.tend, 11.75);
  EXPECT_EQ(p.lonmax, 7.5);
  EXPECT_TRUE(p.gpsatt);
  EXPECT_TRUE(p.calib);
  EXPECT_FALSE(p.useatt);
  EXPECT_EQ(p.dz, 1.5);
  EXPECT_EQ(p.pitch0, 0.25);
  EXPECT_EQ(p.roll0, -0.5);
  EXPECT_EQ(p.heading0, 1.75);
  EXPECT_EQ(p.amin, 20);
  EXPECT_EQ(p.ilo, 5);
  EXPECT_EQ(p.ihi, 95);
  EXPECT_EQ(p.rmin, 100.5);
}

TEST(DeckParameterLines, AShortLineShiftsTheLaterLines) {
  // Line 8 holds one value: its read takes ihi from the next line, and line 9
  // finds the deck at its end.
  std::string params = kParams;
  params.replace(params.find("5 95\n100.5"), 11, "5\n100");
  EXPECT_EQ(error_of(std::string(kNames) + params),
            "*** input error: deck parameter line 9: the deck ends before a real");
  // Line 6 holds two values: heading0 comes from line 7, amin from line 8, and
  // line 8's read meets line 9's real.
  params = kParams;
  params.replace(params.find("0.25 -0.5 1.75"), 14, "0.25 -0.5");
  EXPECT_EQ(error_of(std::string(kNames) + params),
            "*** input error: deck parameter line 8: cannot read an integer from '100.5'");
}

TEST(DeckErrors, Messages) {
  auto with_line = [](int n, const char* text) {
    std::string params = kParams;
    std::size_t pos = 0;
    for (int k = 1; k < n; ++k)
      pos = params.find('\n', pos) + 1;
    params.replace(pos, params.find('\n', pos) - pos, text);
    return std::string(kNames) + params;
  };
  struct Case {
    std::string deck;
    const char* message;
  };
  const Case cases[] = {
      {"", "*** input error: the deck ends before name line 1"},
      {"a\nb\n", "*** input error: the deck ends before name line 3"},
      {"a\nb\nc\nd\n", "*** input error: the deck ends before name line 5"},
      {kNames, "*** input error: deck parameter line 1: the deck ends before a real"},
      {std::string(kNames) + "10 30\n",
       "*** input error: deck parameter line 1: the deck ends before a real"},
      {std::string(kNames) + "10 30 15.5\n10.4 11.75\n50.5 51.5 6.25 7.5\n3 2 T F T",
       "*** input error: deck parameter line 4: the deck ends before a switch"},
      {std::string(kNames) + "10 30 15.5\n10.4 11.75\n50.5 51.5 6.25 7.5\n3\n",
       "*** input error: deck parameter line 4: the deck ends before an integer"},
      {with_line(7, "x"),
       "*** input error: deck parameter line 7: cannot read an integer from 'x'"},
      {with_line(1, "10 30.5 0"),
       "*** input error: deck parameter line 1: cannot read an integer from '30.5'"},
      {with_line(1, "10 99999999999 0"),
       "*** input error: deck parameter line 1: integer value out of range: '99999999999'"},
      {with_line(2, "1e999 2"),
       "*** input error: deck parameter line 2: real value out of range: '1e999'"},
      {with_line(3, "50 51 x 7"),
       "*** input error: deck parameter line 3: cannot read a real from 'x'"},
      {with_line(4, "3 2 T F 1 T F"),
       "*** input error: deck parameter line 4: cannot read a switch (T or F) from '1'"},
      {with_line(5, "0.1,,1.5"),
       "*** input error: deck parameter line 5: empty value between two commas"},
      {with_line(6, "NaN 0 0"),
       "*** input error: deck parameter line 6: cannot read a real from 'NaN'"},
      {with_line(8, "5 3*95"),
       "*** input error: deck parameter line 8: repeat counts are not allowed: '3*95'"},
      {with_line(9, "/"), "*** input error: deck parameter line 9: '/' is not allowed: '/'"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(error_of(c.deck), c.message) << c.deck;
  }
}

TEST(DeriveTimes, T0WithTheExactConstantsInOrder) {
  // Expected values from Python floats (IEEE doubles):
  //   0.016666666666666666 * mm + hh + 0.0002777777777777778 * ss.
  // For both rows hh + mm/60 + ss/3600 and (hh*3600 + mm*60 + ss)/3600 give a
  // different last bit (7.383472222222222 and 13.52138888888889).
  struct Case {
    double hh;
    std::int32_t mm;
    double ss;
    double t0;
  };
  const Case cases[] = {
      {7.0, 23, 0.5, 7.383472222222221},
      {13.0, 31, 17.0, 13.521388888888888},
      {0.0, 0, 0.0, 0.0},
      {-1.0, -30, 3600.0, -0.5},
  };
  for (const Case& c : cases) {
    RunPar p;
    p.hh = c.hh;
    p.mm = c.mm;
    p.ss = c.ss;
    p.tstart = 100;
    derive_times(p);
    EXPECT_EQ(p.t0, c.t0) << c.hh << " " << c.mm << " " << c.ss;
    EXPECT_EQ(p.tstart, 100.0);
  }
}

TEST(DeriveTimes, TstartRaisedToT0) {
  struct Case {
    double tstart, want;
  };
  // t0 = 7.383472222222221 for 7 23 0.5.
  const Case cases[] = {
      {0.0, 7.383472222222221},
      {-5.0, 7.383472222222221},
      {7.38347222222222, 7.383472222222221},  // just below t0
      {7.383472222222221, 7.383472222222221},
      {7.383472222222222, 7.383472222222222},  // just above: stays
      {8.0, 8.0},
  };
  for (const Case& c : cases) {
    RunPar p;
    p.hh = 7.0;
    p.mm = 23;
    p.ss = 0.5;
    p.tstart = c.tstart;
    p.tend = 9.0;
    derive_times(p);
    EXPECT_EQ(p.tstart, c.want) << c.tstart;
    EXPECT_EQ(p.tend, 9.0);
  }
}

}  // namespace
}  // namespace bf
