// Holds the quick-look DEM of a simulated flight against the simulator's true surface.
//
// usage: dem_truth SIM_DIR DEM.tif EPSG
//
// Prints "key=value" lines and exits 0; the calling script applies the bounds:
//   level_rms, level_max, level_cells: mean-height cells whose centre and corners lie off every
//     ridge, against the true surface at the cell centre less the deck's geoid;
//   counted, points: the count band's sum and the points in the point file;
//   west, north, width, height: the extent the points demand, every point projected by PROJ
//     on its own and the cell edges on multiples of the cell size (read from the DEM).
// Links the simulator's library and GDAL/PROJ only, never the quick-look's own code.
#include <gdal_priv.h>
#include <proj.h>

#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "deck_report.hpp"
#include "geoid_grid.hpp"
#include "runfiles/run_files.hpp"
#include "surface.hpp"
#include "truth.hpp"

namespace {

constexpr double kDeg = 3.14159265358979323846 / 180.0;

struct Transform {
  PJ_CONTEXT* ctx = proj_context_create();
  PJ* pj = nullptr;
  explicit Transform(int epsg) {
    PJ* raw =
        proj_create_crs_to_crs(ctx, "EPSG:4326", ("EPSG:" + std::to_string(epsg)).c_str(), nullptr);
    pj = proj_normalize_for_visualization(ctx, raw);
    proj_destroy(raw);
  }
  ~Transform() {
    proj_destroy(pj);
    proj_context_destroy(ctx);
  }
  PJ_COORD apply(double a, double b, PJ_DIRECTION dir) const {
    return proj_trans(pj, dir, proj_coord(a, b, 0, 0));
  }
};

// The DEM read in strips of rows, so that a DEM of a long flight fits in memory.
struct Dem {
  GDALDatasetUniquePtr ds;
  int width = 0, height = 0;
  double t[6] = {};
};

Dem open_dem(const std::string& path) {
  GDALAllRegister();
  Dem d;
  d.ds.reset(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  if (!d.ds) throw std::runtime_error("cannot open " + path);
  d.width = d.ds->GetRasterXSize();
  d.height = d.ds->GetRasterYSize();
  d.ds->GetGeoTransform(d.t);
  return d;
}

struct Level {
  double sum2 = 0.0, max = 0.0, counted = 0.0;
  long cells = 0;
};

// One cell with points: against the truth when it lies off every ridge.
void compare_cell(const Dem& d, const Transform& tr, const bsim::Surface& surface,
                  const bsim::GeoidGrid* deck_grid, int r, int c, float mean, Level& lv) {
  const double cell = d.t[1];
  const double x = d.t[0] + (c + 0.5) * cell, y = d.t[3] - (r + 0.5) * cell;
  for (auto [ox, oy] : {std::pair{0.0, 0.0}, {-0.5, -0.5}, {0.5, -0.5}, {-0.5, 0.5}, {0.5, 0.5}}) {
    const PJ_COORD g = tr.apply(x + ox * cell, y + oy * cell, PJ_INV);
    if (surface.on_feature(g.xy.y * kDeg, g.xy.x * kDeg)) return;
  }
  const PJ_COORD g = tr.apply(x, y, PJ_INV);
  double truth = surface.at(g.xy.y * kDeg, g.xy.x * kDeg).h;
  if (deck_grid != nullptr) truth -= bsim::geoid_height(*deck_grid, g.xy.y, g.xy.x);
  const double e = mean - truth;
  lv.sum2 += e * e;
  lv.max = std::max(lv.max, std::fabs(e));
  ++lv.cells;
}

Level compare(const Dem& d, const Transform& tr, const bsim::Surface& surface,
              const bsim::GeoidGrid* deck_grid) {
  Level lv;
  constexpr int kStrip = 256;
  std::vector<float> mean, count;
  for (int r0 = 0; r0 < d.height; r0 += kStrip) {
    const int rows = std::min(kStrip, d.height - r0);
    const std::size_t n = static_cast<std::size_t>(d.width) * static_cast<std::size_t>(rows);
    mean.resize(n);
    count.resize(n);
    if (d.ds->GetRasterBand(1)->RasterIO(GF_Read, 0, r0, d.width, rows, mean.data(), d.width, rows,
                                         GDT_Float32, 0, 0) != CE_None ||
        d.ds->GetRasterBand(2)->RasterIO(GF_Read, 0, r0, d.width, rows, count.data(), d.width, rows,
                                         GDT_Float32, 0, 0) != CE_None)
      throw std::runtime_error("cannot read the DEM");
    for (std::size_t at = 0; at < n; ++at) {
      if (count[at] <= 0.0f) continue;
      lv.counted += count[at];
      compare_cell(d, tr, surface, deck_grid, r0 + static_cast<int>(at / d.width),
                   static_cast<int>(at % d.width), mean[at], lv);
    }
  }
  return lv;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: dem_truth SIM_DIR DEM.tif EPSG\n");
    return 2;
  }
  try {
    const std::string dir = argv[1];
    const bsim::Truth truth = bsim::read_truth(dir + "/truth.txt");
    const bsim::Deck deck = bsim::read_deck(dir + "/" + truth.deck);
    std::optional<bsim::GeoidGrid> surface_grid, deck_grid;
    if (truth.geoid != "0") surface_grid = bsim::read_geoid_grid(dir + "/" + truth.geoid);
    if (deck.geoid != "0") deck_grid = bsim::read_geoid_grid(dir + "/" + deck.geoid);
    const bsim::Surface surface(truth.surface, surface_grid ? &*surface_grid : nullptr);
    const Transform tr(std::stoi(argv[3]));
    const Dem dem = open_dem(argv[2]);
    const Level lv = compare(dem, tr, surface, deck_grid ? &*deck_grid : nullptr);

    double xlo = INFINITY, xhi = -INFINITY, ylo = INFINITY, yhi = -INFINITY;
    long points = 0;
    const std::int64_t bad = runfiles::for_each_point(
        dir + "/" + deck.points, deck.binout, deck.naver > 1, [&](const runfiles::PointRecord& p) {
          const PJ_COORD q = tr.apply(p.lon, p.lat, PJ_FWD);
          xlo = std::min(xlo, q.xy.x);
          xhi = std::max(xhi, q.xy.x);
          ylo = std::min(ylo, q.xy.y);
          yhi = std::max(yhi, q.xy.y);
          ++points;
        });
    const double cell = dem.t[1];
    const double counted = lv.counted;
    const double west = std::floor(xlo / cell) * cell, north = (std::floor(yhi / cell) + 1) * cell;
    std::printf("level_rms=%.6f\nlevel_max=%.6f\nlevel_cells=%ld\n",
                lv.cells ? std::sqrt(lv.sum2 / static_cast<double>(lv.cells)) : NAN, lv.max,
                lv.cells);
    std::printf("points=%ld\ncounted=%.0f\nbad_lines=%lld\n", points, counted,
                static_cast<long long>(bad));
    const double width = std::floor(xhi / cell) - std::floor(xlo / cell) + 1;
    const double height = std::floor(yhi / cell) - std::floor(ylo / cell) + 1;
    std::printf("west=%.3f\nnorth=%.3f\nwidth=%.0f\nheight=%.0f\ncell=%.6f\n", west, north, width,
                height, cell);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "dem_truth: %s\n", e.what());
    return 1;
  }
}
