#include "options.hpp"

#include <vector>

#include "kit/command_line.hpp"

namespace quicklook {

const char* usage_text() {
  return "usage: beamfall-quicklook DECK REPORT [--out DIR] [--cell METRES] [--las FILE]\n"
         "       beamfall-quicklook DECK [REPORT] --manifest FILE [options]\n"
         "\n"
         "Quick-look products of a beamfall run, made in the folder where the run ran:\n"
         "  dem.tif          mean height and point count per cell, GeoTIFF (UTM, or polar\n"
         "                   stereographic EPSG:3413 / EPSG:3031 beyond 60 degrees)\n"
         "  hillshade.png    the DEM as a colour-relief hillshade\n"
         "  track.gpkg       the centre track as a line, and its points, in a GeoPackage\n"
         "  index.html       a self-contained page: run summary, map, cross profiles, heights\n"
         "                   along track, height histogram\n"
         "  plots/           the page's gnuplot scripts, data and SVG plots\n"
         "\n"
         "The deck is read as beamfall reads it. The run's figures come from its manifest\n"
         "(beamfall --manifest run.json < DECK > report.txt), given as REPORT (a manifest is\n"
         "known by its content) or with --manifest, the human report then being unused; a\n"
         "report without a manifest is refused. A run that stopped is shown under a banner\n"
         "saying so; one that stopped before writing its files is refused. The products are\n"
         "made in a work folder beside DIR and moved into it when all are made.\n"
         "\n"
         "  --out DIR        product folder (default: quicklook/ beside the deck)\n"
         "  --cell METRES    DEM cell size (default: about twice the mean point spacing); a\n"
         "                   grid of more than 500 million cells under the swath, or 20\n"
         "                   million held at once, is refused\n"
         "  --las FILE       read the points from this LAS 1.4 file (X longitude, Y latitude,\n"
         "                   Z height) instead of the deck's point file\n"
         "  --manifest FILE  the run's manifest, the file of beamfall --manifest FILE\n"
         "  --help           this text\n"
         "  --version        the program's version\n";
}

Options parse_options(int argc, char** argv) {
  Options o;
  const std::vector<std::string> positional = kit::parse_command_line(
      argc, argv,
      {{"--help", "-h", false, kit::flag(o.help)},
       {"--out", "", true, kit::store(o.out)},
       {"--cell", "", true,
        kit::store_as(o.cell,
                      [](const std::string& v) { return kit::positive_metres("--cell", v); })},
       {"--las", "", true, kit::store(o.las)},
       {"--manifest", "", true, kit::store(o.manifest)}});
  if (o.help) return o;
  const std::size_t least = o.manifest.empty() ? 2 : 1;
  if (positional.size() < least || positional.size() > 2)
    throw UsageError("needs DECK and REPORT (the run's manifest, or --manifest FILE)");
  o.deck = positional[0];
  if (positional.size() == 2) o.report = positional[1];
  return o;
}

}  // namespace quicklook
