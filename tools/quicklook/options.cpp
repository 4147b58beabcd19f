#include "options.hpp"

#include <cmath>
#include <string_view>
#include <vector>

#include "text.hpp"

namespace quicklook {

const char* usage_text() {
  return "usage: beamfall-quicklook DECK REPORT [--out DIR] [--cell METRES] [--las FILE]\n"
         "\n"
         "Quick-look products of a beamfall run, made in the folder where the run ran (after\n"
         "beamfall < DECK > REPORT):\n"
         "  dem.tif        mean height and point count per cell, GeoTIFF (UTM, or polar\n"
         "                 stereographic EPSG:3413 / EPSG:3031 beyond 60 degrees)\n"
         "  hillshade.png  the DEM as a colour-relief hillshade\n"
         "  track.gpkg     the centre track as a line, and its points, in a GeoPackage\n"
         "  index.html     a self-contained page: run summary, map, cross profiles, heights\n"
         "                 along track, height histogram\n"
         "  plots/         the page's gnuplot scripts, data and SVG plots\n"
         "\n"
         "  --out DIR      product folder (default: quicklook/ beside the deck)\n"
         "  --cell METRES  DEM cell size (default: about twice the mean point spacing)\n"
         "  --las FILE     read the points from this LAS 1.4 file (X longitude, Y latitude,\n"
         "                 Z height) instead of the deck's point file\n"
         "  --help         this text\n";
}

namespace {

double parse_cell(std::string_view text) {
  double v = 0.0;
  if (!runfiles::parse_double(text, v) || !std::isfinite(v) || v <= 0.0)
    throw UsageError("--cell needs a positive number of metres, not '" + std::string(text) + "'");
  return v;
}

}  // namespace

Options parse_options(int argc, char** argv) {
  Options o;
  std::vector<std::string> positional;
  for (int k = 1; k < argc; ++k) {
    const std::string_view a = argv[k];
    const auto value = [&]() -> std::string {
      if (k + 1 >= argc) throw UsageError(std::string(a) + " needs a value");
      return argv[++k];
    };
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--out") {
      o.out = value();
    } else if (a == "--cell") {
      o.cell = parse_cell(value());
    } else if (a == "--las") {
      o.las = value();
    } else if (a.size() > 1 && a[0] == '-') {
      throw UsageError("unknown option " + std::string(a));
    } else {
      positional.emplace_back(a);
    }
  }
  if (o.help) return o;
  if (positional.size() != 2) throw UsageError("needs DECK and REPORT");
  o.deck = positional[0];
  o.report = positional[1];
  return o;
}

}  // namespace quicklook
