// The cached geoid lookup must give exactly bilin's value for every point,
// inside cells, on nodes, near missing nodes and outside the grid.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "input/geoid.hpp"

namespace bf {
namespace {

TEST(GeoidLookup, EqualsBilinAlongATrackAndAtRandomPoints) {
  GeoidGrid g;
  g.glat1 = 70;
  g.glon1 = -45;
  g.gdlat = 0.25;
  g.gdlon = 0.5;
  g.nrow = 6;
  g.ncol = 7;
  std::mt19937_64 gen(3);
  std::uniform_real_distribution<double> height(-30, 60);
  for (int k = 0; k < g.nrow * g.ncol; ++k)
    g.values[k] = static_cast<float>(height(gen));
  g.values[9] = 9999.5f;  // a missing node inside the grid

  GeoidLookup lookup(g);
  auto same = [&](double lat, double lon) {
    const double want = bilin((lat - g.glat1) / g.gdlat + 1, (lon - g.glon1) / g.gdlon + 1, g);
    const double got = lookup.at(lat, lon);
    ASSERT_EQ(std::memcmp(&got, &want, sizeof got), 0) << lat << " " << lon;
  };
  // A slow track across the grid and beyond its edges: most points reuse the cell.
  for (int k = 0; k < 100000; ++k)
    same(69.8 + k * 1.8e-5, -45.3 + k * 4.5e-5);
  // Nodes, points just beside them, and random points anywhere.
  for (int r = 0; r < g.nrow; ++r) {
    for (int c = 0; c < g.ncol; ++c) {
      same(g.glat1 + r * g.gdlat, g.glon1 + c * g.gdlon);
      same(g.glat1 + r * g.gdlat + 1e-9, g.glon1 + c * g.gdlon + 1e-9);
      same(g.glat1 + r * g.gdlat - 1e-9, g.glon1 + c * g.gdlon - 1e-9);
    }
  }
  std::uniform_real_distribution<double> lat(69, 72.5), lon(-46, -41);
  for (int k = 0; k < 100000; ++k)
    same(lat(gen), lon(gen));
  same(NAN, -44);
  same(71, NAN);
}

}  // namespace
}  // namespace bf
