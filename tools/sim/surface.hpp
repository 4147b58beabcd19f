// The simulated true surface: heights above the WGS84 ellipsoid (or above the geoid when the
// surface floats on it) as an analytic function of geodetic latitude and longitude.
//
// Surface coordinates n, e (metres) are defined from the surface origin (lat0, lon0) as
//   n = (lat - lat0) * M(lat0),  e = (lon - lon0) * N(lat0) * cos(lat0)
// with lat, lon in radians and M, N the WGS84 radii of curvature at lat0. They are only the
// surface's parameterisation: the height is exactly
//   S = height + slope_n * n + slope_e * e + sum of ridges [+ geoid height at (lat, lon)]
//     + sum of hills
// where a ridge is height_r * exp(-(d / width)^2), d the distance in (n, e) to its crest
// segment (cut off beyond five widths), and a hill (or, with a negative height, a hollow)
// height_h * (1 - (d / radius)^2)^2 within its radius of its centre, nothing beyond: between
// the features the ground is exactly level (control points lie there).
//
// The "terrain" kind is fixed to a geographic origin and a seed alone: every flight that names
// the same origin and seed flies over the same ridges and hills, wherever it starts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "geoid_grid.hpp"

namespace bsim {

struct Ridge {
  double n = 0.0;            // crest centre, metres north of the surface origin
  double e = 0.0;            // crest centre, metres east
  double azimuth = 0.0;      // crest direction, degrees clockwise from north
  double half_length = 0.0;  // metres
  double height = 0.0;       // metres
  double width = 0.0;        // metres (the profile falls to 1/e at this distance)
};

struct Hill {
  double n = 0.0;       // centre, metres north of the surface origin
  double e = 0.0;       // metres east
  double height = 0.0;  // metres, negative for a hollow
  double radius = 0.0;  // metres: the hill's edge
};

struct SurfaceDef {
  std::string kind = "level";  // "level", "ice" (ridges and a slope) or "terrain" (see above)
  double lat0 = 0.0;           // surface origin, degrees
  double lon0 = 0.0;
  double height = 0.0;    // metres at the origin, above the ellipsoid (or the geoid, see below)
  double slope_n = 0.0;   // metres per metre northwards
  double slope_e = 0.0;   // metres per metre eastwards
  bool on_geoid = false;  // the geoid height is added: the surface floats on the geoid
  std::vector<Ridge> ridges;
  std::vector<Hill> hills;
};

class Surface {
 public:
  // `geoid` must outlive the surface; it is needed only when def.on_geoid.
  Surface(SurfaceDef def, const GeoidGrid* geoid);

  struct Sample {
    double h = 0.0;      // metres
    double dh_dn = 0.0;  // metres per metre of n, geoid excluded
    double dh_de = 0.0;  // metres per metre of e, geoid excluded
  };
  // lat, lon in radians.
  Sample at(double lat, double lon) const;
  // The same height everywhere: no slope, no ridges, not on the geoid.
  bool constant() const { return constant_; }
  // Within three widths of a ridge crest.
  bool on_feature(double lat, double lon) const;
  // No ridge or hill reaches the point: the surface there is its level part (and slope).
  bool level(double lat, double lon) const;

  const SurfaceDef& def() const { return def_; }
  double n_scale() const { return m0_; }   // metres of n per radian of latitude
  double e_scale() const { return n0c_; }  // metres of e per radian of longitude
  void to_ne(double lat, double lon, double& n, double& e) const;

 private:
  void index_ridges();
  const std::vector<int>* cell(double n, double e) const;

  SurfaceDef def_;
  const GeoidGrid* geoid_;
  bool constant_ = false;
  double lat0_ = 0.0;
  double lon0_ = 0.0;
  double m0_ = 0.0;
  double n0c_ = 0.0;
  // Ridges by square cells of kCell metres over their bounding box.
  static constexpr double kCell = 100.0;
  double cell_n0_ = 0.0;
  double cell_e0_ = 0.0;
  int cells_n_ = 0;
  int cells_e_ = 0;
  std::vector<std::vector<int>> cells_;
};

// Pressure ridges scattered along a ground track given in surface coordinates (metres):
// about one every 80-250 m, crossing the swath at random angles, 0.6-2.5 m high, with flanks
// no steeper than about 0.4 so that no beam of a +-30 degree swath grazes or is shadowed.
// The shared terrain of `seed` over a square of `size` metres centred on the surface origin:
// pressure ridges of 0.5-2 m at random places and angles (about one per 250 m x 250 m, flanks
// no steeper than about 0.4) and round hills and hollows of 2-8 m with radii of 150-450 m
// (about one per 900 m x 900 m, slopes below 0.09).
void generate_terrain(std::uint64_t seed, double size, std::vector<Ridge>& ridges,
                      std::vector<Hill>& hills);

std::vector<Ridge> generate_ridges(const std::vector<double>& track_n,
                                   const std::vector<double>& track_e, std::uint64_t seed);

}  // namespace bsim
