// The geoid grid reader and bilin. The first 16 bytes are a row and a column
// coordinate (two doubles, any bit pattern); the rest is the grid file.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>

#include "fuzz_util.hpp"
#include "input/geoid.hpp"
#include "textio/error.hpp"

namespace {

void probe(const bf::GeoidGrid& g, double x, double y) {
  const double v = bf::bilin(x, y, g);
  (void)v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 16) return 0;
  static const auto grid = std::make_unique<bf::GeoidGrid>();
  double x = 0, y = 0;
  std::memcpy(&x, data, 8);
  std::memcpy(&y, data + 8, 8);
  std::string_view text(reinterpret_cast<const char*>(data + 16), size - 16);
  bf::TextInput in(text);
  bf::FreeReader reader(in);
  bf::OutFile console;
  fuzz::attach_console(console);
  try {
    bf::load_geoid(reader, "geoid grid file 'fuzz'", *grid, console);
  } catch (const bf::Stop&) {
    return 0;  // an input error or a grid refused: expected outcomes
  }
  const bf::GeoidGrid& g = *grid;
  if (g.nrow < 2 || g.ncol < 2 || std::int64_t{g.nrow} * g.ncol > bf::GeoidGrid::ngmax)
    fuzz::finding("a grid was loaded with dimensions bilin can't use");
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  probe(g, x, y);
  const double nrow = g.nrow, ncol = g.ncol;
  const double coords[] = {-inf,       -1e300, -1,   0,        1,     1.00005, 1.5, 2,
                           nrow - 0.5, nrow,   ncol, nrow + 1, 1e300, inf,     nan};
  for (double a : coords) {
    probe(g, a, y);
    probe(g, x, a);
    probe(g, a, a);
  }
  // The cell-keeping lookup must give exactly bilin's results along a track
  // of points that stay in a cell, cross cells and jump back.
  const double lat = (x - 1) * g.gdlat + g.glat1, lon = (y - 1) * g.gdlon + g.glon1;
  bf::GeoidLookup lookup(g);
  for (int k = 0; k < 24; ++k) {
    const double step = (k < 12 ? k : 12 - k) * 0.37;
    const double plat = lat + step * g.gdlat * (k % 3 == 0 ? 0.01 : 1);
    const double plon = lon + step * g.gdlon * 0.61;
    const double want =
        bf::bilin((plat - g.glat1) / g.gdlat + 1, (plon - g.glon1) / g.gdlon + 1, g);
    const double got = lookup.at(plat, plon);
    if (!(std::isnan(want) && std::isnan(got)) && std::memcmp(&want, &got, sizeof want) != 0)
      fuzz::finding("GeoidLookup::at differs from bilin");
  }
  console.flush();
  return 0;
}
