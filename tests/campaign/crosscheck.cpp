// The cross-line check of a whole campaign that `beamfall-campaign run` has processed, against
// the check held in memory: every pair of lines that succeeded, gridded from the lines' point
// files as the summary reads them, streamed (the summary's way) and in memory (grid_points,
// compare_lines: every point at once, no tiles), must give the same cells, mean and RMS,
// exactly; the run's printed overlaps must be those of the reference, and each of its
// GeoTIFFs must hold the reference's cells, bit for bit, and NaN elsewhere. The same again on
// a finer grid, whose tiles must lie on both sides of both axes.
//
// usage: campaign_crosscheck DIR RUN_OUTPUT FINE_CELL
//   RUN_OUTPUT: what `beamfall-campaign run DIR` printed.
// Exit status 0 when everything agrees, 1 otherwise (each difference is printed).
#include <gdal_priv.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "campaign/folder/lines.hpp"
#include "geo/gdal_io.hpp"
#include "line_info.hpp"
#include "overlap_reference.hpp"

namespace campaign {
namespace {

namespace fs = std::filesystem;

constexpr double kSummaryCell = 5.0;          // the summary's grid, metres
constexpr std::size_t kMinOverlapCells = 10;  // fewer: the summary shows no overlap

int failures = 0;

void fail(const std::string& what) {
  std::printf("FAIL: %s\n", what.c_str());
  ++failures;
}

struct Points {
  std::vector<double> x, y, h;
};

struct Line {
  const LineInfo* info = nullptr;
  Points points;
};

Points all_points(const LineInfo& l, const LocalProjection& proj) {
  Points p;
  point_source(l, proj)(
      0, [&](std::span<const double> x, std::span<const double> y, std::span<const double> h) {
        p.x.insert(p.x.end(), x.begin(), x.end());
        p.y.insert(p.y.end(), y.begin(), y.end());
        p.h.insert(p.h.end(), h.begin(), h.end());
      });
  return p;
}

// "overlap A minus B: N cells, mean M m, RMS R m" lines of the run's output, by "A minus B".
struct Printed {
  std::size_t cells = 0;
  double mean = NAN, rms = NAN;
};

std::map<std::string, Printed> printed_overlaps(const std::string& path) {
  std::map<std::string, Printed> out;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("overlap ", 0) != 0) continue;
    const std::size_t colon = line.rfind(": ");
    Printed p;
    char unit1[4] = {}, unit2[4] = {};
    if (std::sscanf(line.c_str() + colon + 2, "%zu cells, mean %lf %3s RMS %lf %3s", &p.cells,
                    &p.mean, unit1, &p.rms, unit2) != 5)
      fail("unreadable overlap line: " + line);
    out[line.substr(8, colon - 8)] = p;
  }
  return out;
}

// The printed value is the reference's to the 3 decimals shown.
bool shown_as(double printed, double value) {
  return std::fabs(printed - value) <= 0.0005 + 1e-9;
}

void check_tiff(const std::string& path, const Overlap& want) {
  GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  if (!ds) return fail(path + ": cannot be read");
  std::int32_t ilo = want.cells.front().i, ihi = ilo;
  for (const OverlapCell& c : want.cells) {
    ilo = std::min(ilo, c.i);
    ihi = std::max(ihi, c.i);
  }
  const std::int32_t jlo = want.cells.front().j, jhi = want.cells.back().j;
  const int w = ds->GetRasterXSize(), h = ds->GetRasterYSize();
  double gt[6];
  ds->GetGeoTransform(gt);
  if (w != ihi - ilo + 1 || h != jhi - jlo + 1 || gt[0] != ilo * want.cell ||
      gt[3] != (jhi + 1) * want.cell)
    return fail(path + ": not the box of the overlap's cells");
  std::vector<float> band(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
  if (ds->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, w, h, band.data(), w, h, GDT_Float32, 0, 0) !=
      CE_None)
    return fail(path + ": cannot read its band");
  std::vector<float> expected(band.size(), std::numeric_limits<float>::quiet_NaN());
  for (const OverlapCell& c : want.cells)
    expected[static_cast<std::size_t>(jhi - c.j) * static_cast<std::size_t>(w) +
             static_cast<std::size_t>(c.i - ilo)] = static_cast<float>(c.dh);
  std::size_t differing = 0;
  for (std::size_t k = 0; k < band.size(); ++k)
    differing += std::memcmp(&band[k], &expected[k], sizeof(float)) != 0;
  if (differing > 0)
    fail(path + ": " + std::to_string(differing) + " of " + std::to_string(band.size()) +
         " cells differ from the reference");
}

struct TileSpan {
  std::int64_t tx_lo = INT64_MAX, tx_hi = INT64_MIN, ty_lo = INT64_MAX, ty_hi = INT64_MIN;
  void add(const TiledGrid& g) {
    for (const TiledGrid::TileRef& t : g.tiles()) {
      tx_lo = std::min(tx_lo, t.tx);
      tx_hi = std::max(tx_hi, t.tx);
      ty_lo = std::min(ty_lo, t.ty);
      ty_hi = std::max(ty_hi, t.ty);
    }
  }
};

struct Checked {
  std::string dir;
  const LocalProjection* proj = nullptr;
  std::vector<Line> lines;
};

// Every pair streamed (as the summary streams it, from the point files) against the reference
// on a grid of `cell`; with `printed`, the run's printed overlaps and GeoTIFFs too (the
// summary's own grid).
TileSpan check_pairs(const Checked& c, double cell, const std::map<std::string, Printed>* printed) {
  const std::vector<Line>& lines = c.lines;
  std::vector<TiledGrid> streamed;
  std::vector<LineGrid> whole;
  TileSpan span;
  for (const Line& l : lines) {
    whole.push_back(grid_points(l.points.x, l.points.y, l.points.h, cell));
    streamed.push_back(grid_to_file(point_source(*l.info, *c.proj), cell, c.dir + "/.campaign"));
    span.add(streamed.back());
  }
  std::size_t pairs = 0, shown = 0;
  for (std::size_t a = 0; a < lines.size(); ++a) {
    for (std::size_t b = a + 1; b < lines.size(); ++b) {
      const std::string name = lines[a].info->name + " minus " + lines[b].info->name;
      const Overlap want = compare_lines(whole[a], whole[b], cell);
      const PairOverlap got = compare_grids(streamed[a], streamed[b], cell);
      if (!want.cells.empty()) ++pairs;
      std::printf("%g m cells, %s: %zu cells, mean %.9f, RMS %.9f; streamed %zu, %.9f, %.9f\n",
                  cell, name.c_str(), want.cells.size(), want.mean, want.rms, got.cells, got.mean,
                  got.rms);
      if (got.cells != want.cells.size() || got.mean != want.mean || got.rms != want.rms)
        fail(name + " at " + std::to_string(cell) + " m: streamed differs from the reference");
      if (!printed) continue;
      const auto it = printed->find(name);
      const std::string tif =
          "overlaps/line" + std::to_string(a + 1) + "-line" + std::to_string(b + 1) + ".tif";
      if (want.cells.size() < kMinOverlapCells) {
        if (it != printed->end()) fail(name + ": printed, but the reference has too few cells");
        continue;
      }
      ++shown;
      if (it == printed->end()) {
        fail(name + ": not printed");
      } else if (it->second.cells != want.cells.size() || !shown_as(it->second.mean, want.mean) ||
                 !shown_as(it->second.rms, want.rms)) {
        fail(name + ": printed " + std::to_string(it->second.cells) + " cells, mean " +
             std::to_string(it->second.mean) + ", RMS " + std::to_string(it->second.rms));
      }
      check_tiff(c.dir + "/" + tif, want);
    }
  }
  if (printed && printed->size() != shown) fail("the run printed overlaps the reference lacks");
  std::printf(
      "%g m cells: %zu overlapping pairs (%zu printed); tiles x %lld to %lld, y %lld to %lld\n",
      cell, pairs, shown, static_cast<long long>(span.tx_lo), static_cast<long long>(span.tx_hi),
      static_cast<long long>(span.ty_lo), static_cast<long long>(span.ty_hi));
  if (pairs == 0) fail("no two lines overlap");
  return span;
}

int run(const std::string& dir, const std::string& run_output, double fine_cell) {
  geo::start_gdal();
  std::vector<LineInfo> infos;
  for (const std::string& name : list_lines(dir))
    infos.push_back(read_line(dir, name));
  double lat0 = 0.0, lon0 = 0.0;
  if (!campaign_centre(infos, lat0, lon0)) {
    fail("no line succeeded");
    return 1;
  }
  const LocalProjection proj(lat0, lon0);
  Checked c{dir, &proj, {}};
  for (const LineInfo& l : infos) {
    if (!l.succeeded() || l.points_file.empty()) continue;
    c.lines.push_back({&l, all_points(l, proj)});
  }
  const std::map<std::string, Printed> printed = printed_overlaps(run_output);
  check_pairs(c, kSummaryCell, &printed);
  const TileSpan fine = check_pairs(c, fine_cell, nullptr);
  if (!(fine.tx_lo < 0 && fine.tx_hi > 0 && fine.ty_lo < 0 && fine.ty_hi > 0))
    fail("at " + std::to_string(fine_cell) + " m the lines do not reach both sides of both axes");
  std::printf("%s\n", failures == 0 ? "crosscheck: all equal" : "crosscheck: differences");
  return failures == 0 ? 0 : 1;
}

}  // namespace
}  // namespace campaign

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: campaign_crosscheck DIR RUN_OUTPUT FINE_CELL\n");
    return 2;
  }
  try {
    return campaign::run(argv[1], argv[2], std::atof(argv[3]));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "campaign_crosscheck: %s\n", e.what());
    return 1;
  }
}
