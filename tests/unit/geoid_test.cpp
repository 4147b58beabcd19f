// The geoid grid: loading (rows stored south first, capacity, dimension
// checks, input errors), bilin with its clamping, near-node shortcut and
// missing-node rule, and ifrac.
#include "input/geoid.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "captured_output.hpp"
#include "textio/error.hpp"
#include "textio/freeread.hpp"
#include "textio/infile.hpp"

namespace bf {
namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

TEST(Ifrac, IsTheFloorAsA32BitInteger) {
  const std::pair<double, std::int32_t> cases[] = {
      {-0.5, -1},
      {-2.0, -2},
      {2.7, 2},
      {0.0, 0},
      {-0.0, 0},
      {1.0, 1},
      {-1e-300, -1},
      {0.9999999999999999, 0},
      {2147483646.9, 2147483646},
      {2147483647.0, kMax},
      {2147483647.9, kMax},
      {-2147483647.5, kMin},
      {-2147483648.0, kMin},
      // Beyond the 32-bit range the result saturates; NaN gives the minimum.
      {2147483648.0, kMax},
      {1e300, kMax},
      {-2147483648.5, kMin},
      {-1e300, kMin},
      {std::numeric_limits<double>::infinity(), kMax},
      {-std::numeric_limits<double>::infinity(), kMin},
      {std::numeric_limits<double>::quiet_NaN(), kMin},
  };
  for (const auto& [x, floor] : cases) {
    EXPECT_EQ(ifrac(x), floor) << x;
  }
}

// A 4 x 4 grid whose node (row i, column c) holds 10 i + c, so bilinear
// interpolation inside it gives 10 x + y; `missing` nodes hold 9999.5.
GeoidGrid grid4(const std::vector<std::pair<int, int>>& missing) {
  GeoidGrid g;
  g.nrow = 4;
  g.ncol = 4;
  for (int i = 1; i <= 4; ++i) {
    for (int c = 1; c <= 4; ++c)
      g.values[(i - 1) * 4 + c - 1] = static_cast<float>(10 * i + c);
  }
  for (auto [i, c] : missing)
    g.values[(i - 1) * 4 + c - 1] = 9999.5f;
  return g;
}

constexpr double kT = 9.999999747378752e-05;  // 0.0001 in single precision

struct BilinCase {
  const char* what;
  double x, y;
  std::vector<std::pair<int, int>> missing;
  double expected;
};

TEST(Bilin, ClampsInterpolatesAndMarksMissingNodes) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const BilinCase cases[] = {
      {"south-west node", 1, 1, {}, 11},
      {"inner node beside a missing one", 2, 2, {{3, 3}}, 22},
      {"the missing node itself", 3, 3, {{3, 3}}, 9999},
      {"at the threshold north and east of a node", 2 + kT, 2 + kT, {{3, 3}}, 22},
      {"just beyond the threshold north", std::nextafter(2 + kT, 3.0), 2, {{3, 3}}, 9999},
      {"just beyond the threshold east", 2, std::nextafter(2 + kT, 3.0), {{3, 3}}, 9999},
      {"cell centre", 1.5, 1.5, {}, 16.5},
      {"inside a cell", 1.25, 1.5, {}, 14},
      {"cell with a missing corner", 2.5, 2.5, {{3, 3}}, 9999},
      {"south of the grid: along row 1", 0.3, 1.5, {}, 11.5},
      {"south of the grid: a row-2 corner missing", 0.3, 1.5, {{2, 1}}, 9999},
      {"south of the grid on a column: sw only", 0.3, 2, {{2, 2}, {2, 3}}, 12},
      {"north of the grid: fraction 1", 5, 1.5, {}, 41.5},
      {"north of the grid: weightless corner missing", 5, 1.5, {{3, 1}}, 9999},
      {"on the northern row", 4, 2, {}, 42},
      {"on the northern row, a corner below missing", 4, 2, {{3, 3}}, 9999},
      {"east of the grid: fraction 1", 2.5, 6, {}, 29},
      {"east of the grid: weightless corner missing", 2.5, 6, {{2, 3}}, 9999},
      {"west of the grid", 2.5, -3, {}, 26},
      {"far north-east", 100, 100, {}, 44},
      {"far south-west", -5, -5, {}, 11},
      {"NaN row coordinate: row 1", nan, 1, {}, 11},
  };
  for (const BilinCase& c : cases) {
    const GeoidGrid g = grid4(c.missing);
    EXPECT_EQ(bilin(c.x, c.y, g), c.expected) << c.what;
  }
}

TEST(Bilin, IntegerPart9999MarksAMissingNode) {
  const std::pair<float, double> cases[] = {
      {9999.5f, 9999.0},   {9999.0f, 9999.0},
      {9999.99f, 9999.0},  {9998.9f, 9998.900390625},  // 9998.9 in single precision
      {-9999.0f, -9999.0}, {10000.0f, 10000.0},
  };
  for (const auto& [node, expected] : cases) {
    GeoidGrid g = grid4({});
    g.values[0] = node;
    EXPECT_EQ(bilin(1, 1, g), expected) << node;
  }
}

using test::stop_message;

struct Loaded {
  std::string console;
  std::string stop;  // "" when the load completed
};

Loaded load(const std::string& text, GeoidGrid& g) {
  TextInput in(text);
  FreeReader reader(in);
  test::CapturedOutput console;
  Loaded r;
  r.stop = stop_message([&] { load_geoid(reader, "geoid.txt", g, console.file); });
  r.console = console.text();
  return r;
}

TEST(GeoidLoad, FileRowsNorthFirstAreStoredSouthFirst) {
  // Row k of the file (k = 1 northernmost) holds 100 k + c in column c.
  std::string text = "55 58 10 12 0.5 0.5\n";
  for (int k = 1; k <= 7; ++k) {
    for (int c = 1; c <= 5; ++c)
      text += std::to_string(100 * k + c) + " ";
    text += "\n";
  }
  GeoidGrid g;
  const Loaded r = load(text, g);
  ASSERT_EQ(r.stop, "");
  EXPECT_EQ(r.console, " - geoid file read OK - 7 5 \n");
  ASSERT_EQ(g.nrow, 7);
  ASSERT_EQ(g.ncol, 5);
  EXPECT_EQ(g.glat1, 55);
  EXPECT_EQ(g.glon1, 10);
  EXPECT_EQ(g.gdlat, 0.5);
  EXPECT_EQ(g.gdlon, 0.5);
  for (int i = 1; i <= 7; ++i) {
    for (int c = 1; c <= 5; ++c)
      EXPECT_EQ(g.values[(i - 1) * 5 + c - 1], 100 * (8 - i) + c) << i << " " << c;
  }
  // Latitude glat2 and longitude glon1 give the file's first value.
  EXPECT_EQ(bilin((58.0 - 55) / 0.5 + 1, (10.0 - 10) / 0.5 + 1, g), 101);
  // Latitude glat1 and longitude glon2: the last row's last value.
  EXPECT_EQ(bilin(1, (12.0 - 10) / 0.5 + 1, g), 705);
}

TEST(GeoidLoad, RowsStartOnANewLineAndMaySpanLines) {
  GeoidGrid g;
  const Loaded r = load("0 1 0 2 1 1 header remarks\n1 2\n3 99 98\n4,5,6\n", g);
  ASSERT_EQ(r.stop, "");
  EXPECT_EQ(r.console, " - geoid file read OK - 2 3 \n");
  const float expected[] = {4, 5, 6, 1, 2, 3};
  for (int k = 0; k < 6; ++k)
    EXPECT_EQ(g.values[k], expected[k]) << k;
}

std::string grid_text(const std::string& header, int nrow, int ncol) {
  std::string text = header + "\n";
  std::string row;
  for (int c = 0; c < ncol; ++c)
    row += "1.5 ";
  row += "\n";
  text.reserve(text.size() + row.size() * static_cast<std::size_t>(nrow));
  for (int k = 0; k < nrow; ++k)
    text += row;
  return text;
}

TEST(GeoidLoad, CapacityIs500000Nodes) {
  {
    GeoidGrid g;
    const Loaded r = load(grid_text("0 999 0 499 1 1", 1000, 500), g);
    EXPECT_EQ(r.stop, "");
    EXPECT_EQ(r.console, " - geoid file read OK - 1000 500 \n");
    EXPECT_EQ(g.values[499999], 1.5f);
  }
  {
    // 3 x 166667 = 500001 nodes: the stop comes before any row is read (the
    // file has none, which would otherwise be an input error).
    GeoidGrid g;
    const Loaded r = load("0 2 0 166666 1 1\n", g);
    EXPECT_EQ(r.stop, "*** geoid grid too large, sorry");
    EXPECT_EQ(r.console, "");
  }
}

TEST(GeoidLoad, FewerThanTwoRowsOrColumnsStopsBeforeTheRows) {
  const char* headers[] = {
      "55 55 10 12 0.5 0.5",   // one row (1.5 truncated)
      "55 58 10 10 0.5 0.5",   // one column
      "55 55 10 12 0 0.5",     // 0 / 0: no row count at all
      "55 58 10 12 -0.5 0.5",  // negative step: -4.5 rows
      "58 55 10 12 0.5 0.5",   // north before south
      "55 58 12 10 0.5 0.5",   // east before west
      "55 55 0 999999 0.5 1",  // one row of a million: the dimension test comes first
  };
  for (const char* header : headers) {
    SCOPED_TRACE(header);
    GeoidGrid g;
    const Loaded r = load(std::string(header) + "\n", g);
    EXPECT_EQ(r.stop.rfind("***", 0), 0u) << r.stop;
    EXPECT_EQ(r.stop.find("input error"), std::string::npos) << r.stop;
    EXPECT_NE(r.stop, "*** geoid grid too large, sorry");
    EXPECT_EQ(r.console, "");
  }
}

TEST(GeoidLoad, ZeroStepOverAPositiveSpanIsTooLarge) {
  // Infinitely many rows: more than the table holds.
  GeoidGrid g;
  EXPECT_EQ(load("55 58 10 12 0 0.5\n", g).stop, "*** geoid grid too large, sorry");
}

TEST(GeoidLoad, EarlyEndOrUnreadableValueIsAnInputError) {
  const char* texts[] = {
      "55 58 10\n",                                   // header cut short
      "55 58 10 12 0.5 0.5\n1 2 3 4 5\n1 2 3 4 5\n",  // 2 of 7 rows
      "55 58 10 12 0.5 0.5\n1 2 x 4 5\n",             // a letter in a row
      "0 1 0 2 1 1\n1 2 3\n4 5\n",                    // last row one value short
      "55 58 10 twelve 0.5 0.5\n",                    // a letter in the header
      "55 55.4 10 12 0.5 0.5\n",  // 0.4 / 0.5 + 1.5 = 2.3: two rows, and none follows
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    GeoidGrid g;
    const Loaded r = load(text, g);
    EXPECT_NE(r.stop.find("input error"), std::string::npos) << r.stop;
    EXPECT_NE(r.stop.find("geoid.txt"), std::string::npos) << r.stop;
    EXPECT_EQ(r.console, "");
  }
}

}  // namespace
}  // namespace bf
