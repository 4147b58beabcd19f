// The checker's own report reader: the run summary's fields, fixed columns and asterisks.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cmath>
#include <filesystem>
#include <string>

#include "deck_report.hpp"
#include "runfiles/text.hpp"

namespace {

std::string temp_file(const std::string& name, const std::string& bytes) {
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("beamfall-check-" + std::to_string(::getpid()) + "-" + name))
                               .string();
  runfiles::write_file(path, bytes);
  return path;
}

TEST(Report, RunSummaryFields) {
  const std::string report =
      "\n Total number of scans read:  1800 \n Total number of points output:  374400 \n"
      " min and max laser range measured:    344.29   405.11\n"
      " min and max flight elevation:    379.15*********\n"
      " aircraft positions within area:   78.5008  78.5449 -14.9976-150.8280\n"
      " number of REJECTED data due to: \n amplitude lower than  1 12  meas.\n"
      " scan out of range 1 208 34  meas.\n measurements less than  2  meters 56  meas.\n\n"
      " Regression of surface relative to ellipsoid/geoid:\n no of points:  374400 \n"
      " bias:   0.97 m, slope (roll0): -0.03 degrees\n";
  const std::string path = temp_file("report", report);
  const bsim::Report r = bsim::read_report(path);
  std::filesystem::remove(path);
  EXPECT_EQ(r.scans, 1800);
  EXPECT_EQ(r.npout, 374400);
  EXPECT_EQ(r.ncal, 374400);
  EXPECT_DOUBLE_EQ(r.range_min, 344.29);
  EXPECT_DOUBLE_EQ(r.range_max, 405.11);
  EXPECT_DOUBLE_EQ(r.elev_min, 379.15);
  EXPECT_TRUE(std::isnan(r.elev_max));  // asterisks
  EXPECT_DOUBLE_EQ(r.lat_max, 78.5449);
  EXPECT_DOUBLE_EQ(r.lon_min, -14.9976);
  EXPECT_DOUBLE_EQ(r.lon_max, -150.828);  // fixed columns: no blank needed between fields
  EXPECT_EQ(r.rej_ampl, 12);
  EXPECT_EQ(r.rej_scan, 34);
  EXPECT_EQ(r.rej_range, 56);
  EXPECT_DOUBLE_EQ(r.bias, 0.97);
  EXPECT_DOUBLE_EQ(r.roll, -0.03);
}

}  // namespace
