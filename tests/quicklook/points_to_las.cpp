// Test fixture maker: a beamfall binary point file as a LAS 1.4 file of point format 6
// (X longitude, Y latitude in 1e-7 degrees, Z height in mm, GPS time the decimal hours
// in seconds), so that the quick look's --las path can be compared with its own reading of
// the same points. Header fields at the offsets of the ASPRS LAS 1.4 R15 public header block.
//
// usage: points_to_las POINTS.bin OUT.las
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "runfiles/run_files.hpp"
#include "runfiles/text.hpp"

namespace {

template <typename T>
void put(std::string& b, std::size_t at, T v) {
  std::memcpy(b.data() + at, &v, sizeof v);
}

std::string header(std::uint64_t points) {
  std::string b(375, '\0');
  std::memcpy(b.data(), "LASF", 4);
  b[24] = 1;
  b[25] = 4;
  put<std::uint16_t>(b, 94, 375);
  put<std::uint32_t>(b, 96, 375);
  b[104] = 6;
  put<std::uint16_t>(b, 105, 30);
  put<std::uint64_t>(b, 247, points);
  const double scale[3] = {1e-7, 1e-7, 1e-3};
  for (int k = 0; k < 3; ++k)
    put<double>(b, 131 + 8 * k, scale[k]);
  return b;
}

std::int32_t scaled(double v, double unit) {
  return static_cast<std::int32_t>(v / unit + (v < 0 ? -0.5 : 0.5));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: points_to_las POINTS.bin OUT.las\n");
    return 2;
  }
  try {
    std::int64_t bad = 0;
    const std::vector<runfiles::PointRecord> points =
        runfiles::read_points(argv[1], true, false, bad);
    std::string out = header(points.size());
    for (const runfiles::PointRecord& p : points) {
      std::string r(30, '\0');
      put<std::int32_t>(r, 0, scaled(p.lon, 1e-7));
      put<std::int32_t>(r, 4, scaled(p.lat, 1e-7));
      put<std::int32_t>(r, 8, scaled(p.h, 1e-3));
      put<std::uint16_t>(r, 12, static_cast<std::uint16_t>(p.ampl & 0xff));
      put<double>(r, 22, p.thr * 3600.0);
      out += r;
    }
    runfiles::write_file(argv[2], out);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "points_to_las: %s\n", e.what());
    return 1;
  }
}
