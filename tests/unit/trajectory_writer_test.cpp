// The trajectory file's writer: its lines read back by the core's own reader to within
// 1e-9 degree and 0.1 mm, its columns, and the file put in place only on commit().
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "input/trajectory.hpp"
#include "input/trajectory_writers.hpp"
#include "textio/freeread.hpp"
#include "textio/infile.hpp"

namespace bf {
namespace {

std::string line_of(const TrajectorySample& s) {
  char buf[kTrajectoryLineMax];
  return std::string(buf, put_trajectory_line(buf, s));
}

// The samples read back from `text` by the core's reader (gpsatt T, every time kept).
std::int32_t read_back(const std::string& text, TrajectoryTable& t) {
  TextInput in(text);
  FreeReader reader(in);
  load_trajectory(reader, "written.traj", -1e9, 1e9, true, t);
  return t.ngps;
}

TEST(TrajectoryWriter, LinesReadBackWithin1e9DegreeAnd0_1Millimetre) {
  // Values with more digits than the columns hold, at the ends of their ranges, and pairs
  // that differ by 1e-9 degree or 0.1 mm: each must read back near itself, so the pairs
  // stay apart.
  const TrajectorySample samples[] = {
      {15.335278142499769, 37.76475432093337, -119.02382360363723, 6991.64706648894,
       2.9060914305529466, -0.09001964880905962, 163.9871459297294},
      {15.335278142499769 + 1e-9, 37.76475432093337 + 1e-9, -119.02382360363723 - 1e-9,
       6991.64706648894 + 1e-4, 2.9060914305529466 + 1e-9, -0.09001964880905962 + 1e-9,
       163.9871459297294 + 1e-9},
      {0, -90, -180, -9999.99999, -90, -180, -180},
      {999.999999999999, 90, 180, 99999.99999, 90, 180, 180},
      {24.000000000001, 1e-11, -4e-11, -0.000004, -4.9e-11, 5.1e-11, -179.99999999996},
  };
  std::string text;
  for (const TrajectorySample& s : samples)
    text += line_of(s);
  TrajectoryTable t;
  ASSERT_EQ(read_back(text, t), 5);
  for (int k = 0; k < 5; ++k) {
    SCOPED_TRACE(k);
    const TrajectorySample& s = samples[k];
    EXPECT_NEAR(t.time[k + 1], s.time, 5e-13 + 1e-15);  // F16.12
    EXPECT_NEAR(t.lat[k + 1], s.lat, 5e-11 + 1e-14);    // F.10: a twentieth of 1e-9
    EXPECT_NEAR(t.lon[k + 1], s.lon, 5e-11 + 1e-14);
    EXPECT_NEAR(t.h[k + 1], s.h, 5e-6 + 1e-12);  // F12.5: a twentieth of 0.1 mm
    EXPECT_NEAR(t.pitch[k + 1], s.pitch, 5e-11 + 1e-14);
    EXPECT_NEAR(t.roll[k + 1], s.roll, 5e-11 + 1e-14);
    EXPECT_NEAR(t.heading[k + 1], s.heading, 5e-11 + 1e-14);
  }
  // The pair 1e-9 degree and 0.1 mm apart is still that far apart.
  EXPECT_NEAR(t.lat[2] - t.lat[1], 1e-9, 1e-10);
  EXPECT_NEAR(t.h[2] - t.h[1], 1e-4, 1e-5);
}

TEST(TrajectoryWriter, FixedColumnsAndNoMinusOnZero) {
  EXPECT_EQ(line_of({15.5, 37.25, -119.5, 6991.5, 2.5, -0.25, 163.75}),
            " 15.500000000000  37.2500000000 -119.5000000000   6991.50000    2.5000000000"
            "   -0.2500000000  163.7500000000\n");
  const std::string zero = line_of({0, -1e-12, 0, -1e-7, -0.0, 0, 0});
  EXPECT_EQ(zero.find('-'), std::string::npos) << zero;
  EXPECT_EQ(line_of({999.999999999999, -90, -180, -9999.99999, -90, -180, -180}).size(),
            kTrajectoryLineMax);
}

class TrajectoryWriterFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::path(::testing::TempDir()) /
           ("beamfall-writer-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string path(const char* name) const { return (dir_ / name).string(); }
  static std::string contents(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::size_t files() const {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir_),
                                                  std::filesystem::directory_iterator()));
  }

  std::filesystem::path dir_;
};

TEST_F(TrajectoryWriterFile, CommitPutsTheFileInPlace) {
  const TrajectorySample s{15.5, 37.25, -119.5, 6991.5, 2.5, -0.25, 163.75};
  {
    TrajectoryWriter w(path("out.traj"));
    w.add(s);
    w.add(s);
    w.commit();
  }
  EXPECT_EQ(contents(path("out.traj")), line_of(s) + line_of(s));
  EXPECT_EQ(files(), 1u);
}

TEST_F(TrajectoryWriterFile, WithoutCommitNothingIsLeftAndTheOldFileStays) {
  {
    TrajectoryWriter w(path("new.traj"));
    w.add({15.5, 37.25, -119.5, 6991.5, 2.5, -0.25, 163.75});
  }
  EXPECT_FALSE(std::filesystem::exists(path("new.traj")));
  EXPECT_EQ(files(), 0u);

  std::ofstream(path("old.traj")) << "the user's file\n";
  {
    TrajectoryWriter w(path("old.traj"));
    for (int k = 0; k < 100000; ++k)  // more than the buffer: part of it reaches the disk
      w.add({15.5 + k * 1e-6, 37.25, -119.5, 6991.5, 2.5, -0.25, 163.75});
  }
  EXPECT_EQ(contents(path("old.traj")), "the user's file\n");
  EXPECT_EQ(files(), 1u);
}

}  // namespace
}  // namespace bf
