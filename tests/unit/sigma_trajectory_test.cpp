// The sigma trajectory file: its lines read back by its reader, and every line the reader
// must refuse, with the file and line named.
#include "input/sigma_trajectory.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "captured_output.hpp"
#include "textio/infile.hpp"

namespace bf {
namespace {

using test::stop_message;

std::vector<SigmaEpoch> load(const std::string& text) {
  TextInput in(text);
  FreeReader reader(in);
  return load_sigma_trajectory(reader, "sigma.txt");
}

std::string line_of(const SigmaEpoch& e) {
  char buf[kSigmaLineMax];
  return std::string(buf, put_sigma_line(buf, e));
}

TEST(SigmaTrajectory, LinesReadBackAsWritten) {
  const SigmaEpoch epochs[] = {
      {15.335278142499769, 0.0213456789, 0.0198765432, 0.0412345678, 0.00412345678901,
       0.0041234567891, 0.0123456789012},
      {15.5, 0, 0, 0, 0, 0, 0},
      {24.000277777777779, 99999.99999, 0.1, 1e-5, 9999.9999999999, 1e-10, 360},
  };
  std::string text;
  for (const SigmaEpoch& e : epochs)
    text += line_of(e);
  const std::vector<SigmaEpoch> read = load(text);
  ASSERT_EQ(read.size(), 3u);
  for (std::size_t k = 0; k < 3; ++k) {
    SCOPED_TRACE(k);
    const SigmaEpoch& e = epochs[k];
    EXPECT_NEAR(read[k].time, e.time, 5e-13 + 1e-15);   // F16.12
    EXPECT_NEAR(read[k].north, e.north, 5e-6 + 1e-12);  // F12.5
    EXPECT_NEAR(read[k].east, e.east, 5e-6 + 1e-12);
    EXPECT_NEAR(read[k].down, e.down, 5e-6 + 1e-12);
    EXPECT_NEAR(read[k].roll, e.roll, 5e-11 + 1e-14);  // F15.10
    EXPECT_NEAR(read[k].pitch, e.pitch, 5e-11 + 1e-14);
    EXPECT_NEAR(read[k].heading, e.heading, 5e-11 + 1e-14);
  }
  EXPECT_EQ(line_of(epochs[1]),
            " 15.500000000000      0.00000      0.00000      0.00000    0.0000000000"
            "    0.0000000000    0.0000000000\n");
  EXPECT_EQ(line_of(epochs[2]).size(), kSigmaLineMax);
}

TEST(SigmaTrajectory, ReadsTheFreeFormatSpellings) {
  const std::vector<SigmaEpoch> read =
      load("\n10.5\t.02,0.02 +3D-2 1e-3 0 2.\n\n10.6 0 0 0 0 0 0 extra values ignored\n");
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0].time, 10.5);
  EXPECT_EQ(read[0].north, 0.02);
  EXPECT_EQ(read[0].east, 0.02);
  EXPECT_EQ(read[0].down, 0.03);
  EXPECT_EQ(read[0].roll, 0.001);
  EXPECT_EQ(read[0].pitch, 0);
  EXPECT_EQ(read[0].heading, 2);
  EXPECT_EQ(read[1].time, 10.6);
}

TEST(SigmaTrajectory, RefusesBadLinesNamingFileAndLine) {
  struct Case {
    const char* what;
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"empty file", "", "*** input error: sigma.txt: no epochs"},
      {"blank lines only", "\n  \n", "*** input error: sigma.txt: no epochs"},
      {"short line", "10.5 1 1 1 1 1 1\n10.6 1 1 1 1 1\n10.7 1 1 1 1 1 1\n",
       "*** input error: sigma.txt, line 2: 7 values needed, 6 found"},
      {"short last line", "10.5 1 1 1 1 1 1\n10.6 1 1",
       "*** input error: sigma.txt, line 2: 7 values needed, 3 found"},
      {"a word", "10.5 1 1 1 1 1 1\n10.6 1 one 1 1 1 1\n",
       "*** input error: sigma.txt, line 2: cannot read a real from 'one'"},
      {"a header line", "time north east down roll pitch heading\n10.5 1 1 1 1 1 1\n",
       "*** input error: sigma.txt, line 1: cannot read a real from 'time'"},
      {"NaN", "10.5 1 1 nan 1 1 1\n",
       "*** input error: sigma.txt, line 1: cannot read a real from 'nan'"},
      {"beyond a double", "10.5 1 1 1 1e999 1 1\n",
       "*** input error: sigma.txt, line 1: real value out of range: '1e999'"},
      {"negative sigma", "10.5 1 1 1 1 1 1\n\n10.6 1 1 1 1 -0.001 1\n",
       "*** input error: sigma.txt, line 3: sigma_pitch -0.001 is negative"},
      {"negative position sigma", "10.5 -1 1 1 1 1 1\n",
       "*** input error: sigma.txt, line 1: sigma_north -1 is negative"},
      {"time repeated", "10.5 1 1 1 1 1 1\n10.5 1 1 1 1 1 1\n",
       "*** input error: sigma.txt, line 2: time 10.5 is not after 10.5: times must increase"},
      {"time backwards", "10.5 1 1 1 1 1 1\n10.6 1 1 1 1 1 1\n10.55 1 1 1 1 1 1\n",
       "*** input error: sigma.txt, line 3: time 10.55 is not after 10.6: times must increase"},
      {"asterisks of a full column", "10.5 ************ 1 1 1 1 1\n",
       "*** input error: sigma.txt, line 1: repeat counts are not allowed: '************'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(stop_message([&] { load(c.text); }), c.message);
  }
}

}  // namespace
}  // namespace bf
