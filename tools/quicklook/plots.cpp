#include "plots.hpp"

#include <algorithm>
#include <cmath>

#include "kit/axis.hpp"
#include "kit/gnuplot.hpp"
#include "runfiles/text.hpp"

namespace quicklook {

namespace {

std::string num(double v) {
  return runfiles::exact(v);
}

// No key: inside the plot it hid data, below it the axis label. The title names each
// curve by its colour, and a second axis's label takes its curve's colour.
constexpr const char* kStyle =
    "set border lc rgb '#444444'\n"
    "set grid lc rgb '#dddddd'\n"
    "unset key\n";

}  // namespace

Plotter::Plotter(std::string dir) : dir_(std::move(dir)) {}

void Plotter::write_rows(const std::string& name, const Rows& rows) {
  std::string text;
  text.reserve(rows.size() * 40);
  for (const std::vector<double>& row : rows) {
    for (std::size_t k = 0; k < row.size(); ++k) {
      if (k > 0) text += ' ';
      text += runfiles::fixed(row[k], 3);
    }
    text += '\n';
  }
  runfiles::write_file(dir_ + "/" + name, text);
}

Plotter::Picture Plotter::draw(const std::string& name, const std::string& script, int width,
                               int height) {
  runfiles::write_file(dir_ + "/" + name + ".gp", script);
  kit::run_gnuplot(dir_, name + ".gp",
                   "svg size " + std::to_string(width) + "," + std::to_string(height) +
                       " font 'sans,13' background rgb 'white'",
                   name + ".svg");
  return {name + ".svg", runfiles::read_file(dir_ + "/" + name + ".svg")};
}

Plotter::Picture Plotter::map(const Image& im, const Rows& track, const std::string& crs) {
  write_rows("map_track.dat", track);
  const double width_m = im.east - im.west, height_m = im.north - im.south;
  // The plot area keeps the map's shape within about 800 x 1000 pixels; the picture is at
  // least wide enough for its title and key over a narrow strip.
  const double scale = std::min(800.0 / std::max(width_m, 1.0), 1000.0 / std::max(height_m, 1.0));
  const int w = std::max(560, static_cast<int>(width_m * scale) + 160);
  const int h = std::max(300, static_cast<int>(height_m * scale) + 160);
  std::string s = kStyle;
  s += "set title 'Hillshade of dem.tif, centre track in black'\n";
  s += "set xlabel " + kit::gnuplot_quote("easting (m), " + crs) + "\nset ylabel 'northing (m)'\n";
  s += "set size ratio -1\nset format x '%.0f'\nset format y '%.0f'\nunset grid\n";
  s += "set xrange [" + num(im.west) + ":" + num(im.east) + "]\nset yrange [" + num(im.south) +
       ":" + num(im.north) + "]\n";
  s += "set xtics " + num(kit::tick_step(width_m)) + " rotate by -30\nset ytics " +
       num(kit::tick_step(height_m)) + "\n";
  // Pixel centres: the image's edges fall on the extent.
  const double dx = width_m / im.columns, dy = height_m / im.rows;
  s += "plot '" + im.png + "' binary filetype=png dx=" + num(dx) + " dy=" + num(dy) + " origin=(" +
       num(im.west + dx / 2) + "," + num(im.south + dy / 2) + ") with rgbalpha notitle, \\\n";
  s += "     'map_track.dat' using 1:2 with lines lw 1.5 lc rgb 'black' title 'centre track'\n";
  return draw("map", s, w, h);
}

Plotter::Picture Plotter::cross_profiles(const Rows& points, double bias, double slope,
                                         const std::string& label) {
  write_rows("cross_profiles.dat", points);
  std::string s = kStyle;
  s += "set title 'Cross profiles: points of scan.cal (blue) and the fitted line (red)'\n";
  s += "set xlabel 'cross-track distance (m)'\nset ylabel 'height (m)'\n";
  s += "set style textbox opaque noborder\nset label 1 " + kit::gnuplot_quote(label) +
       " at graph 0.02, graph 0.95 front boxed\n";
  s += "fit_h(x) = " + num(bias) + " + " + num(slope) + " * x\n";
  s += "plot 'cross_profiles.dat' using 1:2 with points pt 7 ps 0.15 lc rgb '#4575b4' "
       "title 'points', \\\n     fit_h(x) with lines lw 2 lc rgb '#d73027' title 'fitted line'\n";
  return draw("cross_profiles", s, 900, 450);
}

Plotter::Picture Plotter::along_track(const Rows& rows, const std::string& height_kind) {
  write_rows("along_track.dat", rows);
  std::string s = kStyle;
  s += "set title 'Heights along track (centre file): surface (blue), aircraft (red)'\n";
  s += "set xlabel 'time since the first centre point (s)'\n";
  s += "set ylabel " + kit::gnuplot_quote("surface height (m, " + height_kind + ")") +
       " tc rgb '#4575b4'\n";
  s += "set y2label 'aircraft height (m, ellipsoidal)' tc rgb '#d73027'\nset y2tics\n"
       "set ytics nomirror\n";
  s += "plot 'along_track.dat' using 1:2 with lines lc rgb '#4575b4' title 'surface', \\\n"
       "     'along_track.dat' using 1:3 axes x1y2 with lines lc rgb '#d73027' title 'aircraft'\n";
  return draw("along_track", s, 900, 400);
}

Plotter::Picture Plotter::histogram(const std::vector<HeightHistogram::Bin>& bins,
                                    const std::string& height_kind) {
  Rows rows;
  for (const HeightHistogram::Bin& b : bins)
    rows.push_back({b.from + b.width / 2, static_cast<double>(b.count), b.width});
  write_rows("histogram.dat", rows);
  std::string s = kStyle;
  s += "set title 'Histogram of point heights'\n";
  s += "set xlabel " + kit::gnuplot_quote("height (m, " + height_kind + ")") +
       "\nset ylabel 'points'\n";
  s += "set style fill solid 0.8 border lc rgb '#2c5a8a'\nset yrange [0:*]\nunset key\n";
  s += "plot 'histogram.dat' using 1:2:3 with boxes lc rgb '#4575b4' notitle\n";
  return draw("histogram", s, 900, 400);
}

}  // namespace quicklook
