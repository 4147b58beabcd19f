// The DEM a run's points make when every one of them is held in memory at once: each point
// projected by PROJ on its own, summed into its cell in file order, and the result compared
// cell for cell, bit for bit, with the quick look's dem.tif.
//
// usage: dem_reference SIM_DIR DEM.tif EPSG
//
// Prints "key=value" lines (cells: cells holding points; mismatched: cells whose mean or count
// differs from dem.tif, or dem.tif cells with a value where no point fell) and exits 0; the
// calling script applies the bounds. The cell size must be a power of two metres: cell edges
// then lie on exact multiples of it, so this program's floor(x / cell) names the same cell as
// any other exact computation, whatever the frame's origin.
// Links GDAL, PROJ and the shared readers only, never the quick look's or the kit's code.
#include <gdal_priv.h>
#include <proj.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "deck_report.hpp"
#include "runfiles/run_files.hpp"

namespace {

struct Cell {
  double sum = 0.0;
  std::uint32_t count = 0;
};
using Cells = std::map<std::pair<std::int64_t, std::int64_t>, Cell>;  // (row from north, column)

Cells grid_every_point(const std::string& points, const bsim::Deck& deck, int epsg,
                       const double t[6]) {
  PJ_CONTEXT* ctx = proj_context_create();
  PJ* raw =
      proj_create_crs_to_crs(ctx, "EPSG:4326", ("EPSG:" + std::to_string(epsg)).c_str(), nullptr);
  PJ* pj = proj_normalize_for_visualization(ctx, raw);
  proj_destroy(raw);
  const double cell = t[1];
  const double col0 = std::floor(t[0] / cell), row0 = std::floor(t[3] / cell);
  Cells cells;
  runfiles::for_each_point(
      points, deck.binout, deck.naver > 1, [&](const runfiles::PointRecord& p) {
        const PJ_COORD q = proj_trans(pj, PJ_FWD, proj_coord(p.lon, p.lat, 0, 0));
        const double col = std::floor(q.xy.x / cell) - col0;
        const double row = row0 - 1.0 - std::floor(q.xy.y / cell);
        Cell& c = cells[{static_cast<std::int64_t>(row), static_cast<std::int64_t>(col)}];
        c.sum += p.h;
        ++c.count;
      });
  proj_destroy(pj);
  proj_context_destroy(ctx);
  return cells;
}

bool same_float(float a, float b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: dem_reference SIM_DIR DEM.tif EPSG\n");
    return 2;
  }
  const std::string dir = argv[1];
  try {
    const bsim::Deck deck = bsim::read_deck(dir + "/deck.txt");
    GDALAllRegister();
    GDALDatasetUniquePtr dem(GDALDataset::Open(argv[2], GDAL_OF_RASTER | GDAL_OF_READONLY));
    if (!dem) throw std::runtime_error(std::string("cannot open ") + argv[2]);
    double t[6];
    dem->GetGeoTransform(t);
    const int w = dem->GetRasterXSize(), h = dem->GetRasterYSize();
    std::vector<float> mean(static_cast<std::size_t>(w) * static_cast<std::size_t>(h)),
        count(mean.size());
    if (dem->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, w, h, mean.data(), w, h, GDT_Float32, 0,
                                        0) != CE_None ||
        dem->GetRasterBand(2)->RasterIO(GF_Read, 0, 0, w, h, count.data(), w, h, GDT_Float32, 0,
                                        0) != CE_None)
      throw std::runtime_error("cannot read the DEM");
    const Cells cells = grid_every_point(dir + "/" + deck.points, deck, std::stoi(argv[3]), t);
    long mismatched = 0, filled = 0;
    for (std::size_t k = 0; k < mean.size(); ++k)
      if (!same_float(count[k], -9999.0f)) ++filled;
    for (const auto& [at, c] : cells) {
      const auto [row, col] = at;
      if (row < 0 || row >= h || col < 0 || col >= w) {
        ++mismatched;
        continue;
      }
      const std::size_t k = static_cast<std::size_t>(row) * static_cast<std::size_t>(w) +
                            static_cast<std::size_t>(col);
      if (!same_float(mean[k], static_cast<float>(c.sum / c.count)) ||
          !same_float(count[k], static_cast<float>(c.count)))
        ++mismatched;
    }
    mismatched += filled - static_cast<long>(cells.size());  // values where no point fell
    std::printf("cells=%zu\nfilled=%ld\nmismatched=%ld\n", cells.size(), filled, mismatched);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "dem_reference: %s\n", e.what());
    return 1;
  }
}
