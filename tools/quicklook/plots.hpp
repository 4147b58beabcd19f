// The page's plots, drawn by gnuplot into SVG. Each plot leaves NAME.dat (its thinned data),
// NAME.gp (the script, without a terminal: re-render it with any) and NAME.svg in the plot
// folder, so that a user can redraw or restyle it.
#pragma once

#include <string>
#include <vector>

#include "histogram.hpp"

namespace quicklook {

// Lines of numbers, one row per line, written as gnuplot data.
using Rows = std::vector<std::vector<double>>;

class Plotter {
 public:
  explicit Plotter(std::string dir);  // the folder must exist

  struct Picture {
    std::string file;  // NAME.svg in the plot folder
    std::string svg;   // its text
  };

  // Hillshade (PNG, path relative to the plot folder) of `columns` x `rows` pixels and its
  // extent in projected metres, the track over it (x, y rows).
  struct Image {
    std::string png;
    int columns = 0, rows = 0;
    double west = 0.0, east = 0.0, south = 0.0, north = 0.0;
  };
  Picture map(const Image& image, const Rows& track, const std::string& crs);
  // Thinned (xdist, h) rows, the fitted line h = bias + slope xdist, and the label text.
  Picture cross_profiles(const Rows& points, double bias, double slope, const std::string& label);
  // (seconds, surface height, aircraft height) rows.
  Picture along_track(const Rows& rows, const std::string& height_kind);
  Picture histogram(const std::vector<HeightHistogram::Bin>& bins, const std::string& height_kind);

 private:
  Picture draw(const std::string& name, const std::string& script, int width, int height);
  void write_rows(const std::string& name, const Rows& rows);

  std::string dir_;
};

}  // namespace quicklook
