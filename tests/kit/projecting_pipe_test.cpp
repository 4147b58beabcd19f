// The kit's projecting pipe against one projector over the same points: the consumer gets every
// batch in the order pushed, each point projected bit for bit as a single projector does it,
// whether the batches fill one group or many (several groups projected while others fill and
// are consumed), with one thread or several, and with a last group left part full.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "geo/projector.hpp"

namespace geo {
namespace {

struct Batch {
  std::vector<double> x, y, h;
};

// Points along a track over Greenland; each batch a different length, so a batch swapped with
// another or handed on twice shows.
std::vector<Batch> track(int batches, int points) {
  std::vector<Batch> out(static_cast<std::size_t>(batches));
  double n = 0.0;
  for (int b = 0; b < batches; ++b) {
    const int len = points + b % 5;
    for (int k = 0; k < len; ++k, n += 1.0) {
      out[static_cast<std::size_t>(b)].x.push_back(-45.0 + 1e-4 * n + 0.01 * std::sin(n));
      out[static_cast<std::size_t>(b)].y.push_back(70.0 + 5e-5 * n + 0.01 * std::cos(n));
      out[static_cast<std::size_t>(b)].h.push_back(1000.0 + n);
    }
  }
  return out;
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

struct Case {
  const char* name;
  const char* crs;
  unsigned threads;
  int batches;  // a group holds 8 batches a thread
  int points;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class ProjectingPipeTest : public ::testing::TestWithParam<Case> {};

TEST_P(ProjectingPipeTest, HandsOnWhatOneProjectorGivesInOrder) {
  const Case c = GetParam();
  const std::vector<Batch> input = track(c.batches, c.points);

  std::vector<Batch> expected = input;
  const Projector single(c.crs);
  for (Batch& b : expected)
    single.forward(b.x, b.y);

  std::vector<Batch> got;
  {
    ProjectingPipe pipe(
        c.crs, c.threads,
        [&](std::vector<double>& x, std::vector<double>& y, std::vector<double>& h) {
          got.push_back({x, y, h});
        });
    for (const Batch& b : input) {
      std::vector<double> lon = b.x, lat = b.y, h = b.h;
      pipe.push(lon, lat, h);
    }
    pipe.flush();
  }

  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t k = 0; k < got.size(); ++k) {
    SCOPED_TRACE("batch " + std::to_string(k));
    EXPECT_TRUE(same_bits(got[k].x, expected[k].x));
    EXPECT_TRUE(same_bits(got[k].y, expected[k].y));
    EXPECT_TRUE(same_bits(got[k].h, input[k].h));
    EXPECT_NE(got[k].x[0], input[k].x[0]);  // projected, not passed through
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProjectingPipeTest,
    ::testing::Values(Case{"LessThanAGroup", "EPSG:3413", 2, 5, 50},
                      Case{"ExactlyTwoGroups", "EPSG:3413", 2, 32, 50},
                      Case{"ManyGroupsTwoThreads", "EPSG:3413", 2, 16 * 9 + 3, 400},
                      Case{"ManyGroupsFourThreads", "EPSG:3413", 4, 32 * 7 + 11, 300},
                      Case{"ManyGroupsOneThread", "EPSG:32624", 1, 8 * 12 + 1, 400},
                      Case{"ManyGroupsUtm", "EPSG:32624", 3, 24 * 6 + 5, 300}),
    [](const ::testing::TestParamInfo<Case>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace geo
