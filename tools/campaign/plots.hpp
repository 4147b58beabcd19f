// Figures of the campaign summary, drawn by gnuplot as SVG text to inline in HTML.
#pragma once

#include <string>
#include <vector>

#include "overlap.hpp"

namespace campaign {

// A scratch folder for gnuplot's scripts and data, removed with the object.
class PlotDir {
 public:
  PlotDir();
  ~PlotDir();
  PlotDir(const PlotDir&) = delete;
  PlotDir& operator=(const PlotDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct Track {
  std::string name;
  std::vector<double> x, y;  // metres east and north of the campaign centre
};

// Every line's centre track on one map.
std::string track_map_svg(const PlotDir& dir, const std::vector<Track>& tracks);

// One value per line (bias in metres, roll in degrees), NaN values left out.
std::string per_line_svg(const PlotDir& dir, const std::vector<std::string>& names,
                         const std::vector<double>& values, const std::string& ylabel);

// The height differences of one pair of lines (their grids `ga`, `gb`), coloured, on the map.
std::string overlap_svg(const PlotDir& dir, const PairOverlap& o, const TiledGrid& ga,
                        const TiledGrid& gb, const std::string& title);

}  // namespace campaign
