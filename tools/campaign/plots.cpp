#include "plots.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <tuple>

#include "kit/axis.hpp"
#include "kit/error.hpp"
#include "kit/gnuplot.hpp"
#include "runfiles/text.hpp"

namespace campaign {

namespace fs = std::filesystem;

PlotDir::PlotDir() {
  std::string tmpl = (fs::temp_directory_path() / "beamfall-campaign.XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw kit::ToolError("cannot create a temporary folder");
  path_ = tmpl;
}

PlotDir::~PlotDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

namespace {

using kit::gnuplot_quote;

void write_text(const std::string& path, const std::string& text) {
  runfiles::write_file(path, text);
}

// Runs gnuplot on the script; returns the SVG it wrote, without its XML prologue.
std::string run_gnuplot(const PlotDir& dir, const std::string& body) {
  write_text(dir.path() + "/plot.gp", "set encoding utf8\n" + body + "\nunset output\n");
  kit::run_gnuplot(dir.path(), "plot.gp", "svg size 720,480 dynamic font 'sans,11' noenhanced",
                   "plot.svg");
  const std::string s = runfiles::read_file(dir.path() + "/plot.svg");
  const std::size_t at = s.find("<svg");
  if (at == std::string::npos) throw kit::ToolError("gnuplot wrote no SVG");
  return s.substr(at);
}

constexpr std::int64_t kMaxPixels = 250000;
constexpr std::size_t kMaxTrack = 1000;

std::string num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", v);
  return buf;
}

}  // namespace

namespace {

// The ranges and ticks of the track map. Each side is at least a third of the other: lines
// flown over one track, on gnuplot's own range, made a strip a few metres wide whose tick
// labels were written over each other.
std::string map_ranges(const std::vector<Track>& tracks) {
  double x0 = INFINITY, x1 = -INFINITY, y0 = INFINITY, y1 = -INFINITY;
  for (const Track& t : tracks) {
    for (std::size_t p = 0; p < t.x.size(); ++p) {
      x0 = std::min(x0, t.x[p]), x1 = std::max(x1, t.x[p]);
      y0 = std::min(y0, t.y[p]), y1 = std::max(y1, t.y[p]);
    }
  }
  if (!(x0 <= x1 && y0 <= y1)) return "";
  const double least = std::max({x1 - x0, y1 - y0, 300.0}) / 3.0;
  std::string s;
  for (const auto& [axis, lo, hi] : {std::tuple{"x", x0, x1}, std::tuple{"y", y0, y1}}) {
    const double mid = (lo + hi) / 2, half = std::max(hi - lo, least) / 2;
    const double step = kit::tick_step(2 * half, 5);
    s += std::string("set ") + axis + "range [" + num(std::floor((mid - half) / step) * step) +
         ":" + num(std::ceil((mid + half) / step) * step) + "]\nset " + axis + "tics " + num(step) +
         "\nset format " + axis + " '%." + std::to_string(kit::tick_decimals(step)) + "f'\n";
  }
  return s;
}

}  // namespace

std::string track_map_svg(const PlotDir& dir, const std::vector<Track>& tracks) {
  std::string data, plot;
  for (std::size_t k = 0; k < tracks.size(); ++k) {
    // A line's shape needs no more than kMaxTrack points on the page.
    const std::size_t n = tracks[k].x.size(), step = n / kMaxTrack + 1;
    for (std::size_t p = 0; p < n; p += step)
      data += num(tracks[k].x[p]) + " " + num(tracks[k].y[p]) + "\n";
    if (n > 0 && (n - 1) % step != 0) {  // the track's end
      data += num(tracks[k].x[n - 1]) + " " + num(tracks[k].y[n - 1]) + "\n";
    }
    data += "\n\n";
    if (tracks[k].x.empty()) continue;
    plot += std::string(plot.empty() ? "plot " : ", ") + "'tracks.dat' index " + std::to_string(k) +
            " using 1:2 with lines lw 2 title " + gnuplot_quote(tracks[k].name);
  }
  if (plot.empty()) return "<p>No centre tracks.</p>";
  write_text(dir.path() + "/tracks.dat", data);
  return run_gnuplot(dir, "cd " + gnuplot_quote(dir.path()) +
                              "\nset size ratio -1\nset xlabel 'east (m)'\nset ylabel "
                              "'north (m)'\nset key outside right\nset grid\n" +
                              map_ranges(tracks) + plot);
}

namespace {

// The value axis of a per-line plot, with round ticks a step beyond the values and labels of
// fixed decimals. gnuplot's own, for lines whose values were all alike, widened the range by
// a hair and labelled it 0.00100, 0.00100, 0.00101, ... with its points on the frame.
std::string value_axis(const std::vector<double>& values) {
  double lo = INFINITY, hi = -INFINITY;
  for (double v : values) {
    if (!std::isfinite(v)) continue;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  // The values are written with three decimals: a range of a few of those at least.
  const double step = kit::tick_step(std::max(hi - lo, 0.004), 4);
  const double from = (std::floor(lo / step) - 1.0) * step,
               to = (std::ceil(hi / step) + 1.0) * step;
  return "set yrange [" + num(from) + ":" + num(to) + "]\nset ytics " + num(step) +
         "\nset format y '%." + std::to_string(kit::tick_decimals(step)) + "f'\n";
}

}  // namespace

std::string per_line_svg(const PlotDir& dir, const std::vector<std::string>& names,
                         const std::vector<double>& values, const std::string& ylabel) {
  std::string data, tics;
  for (std::size_t k = 0; k < names.size(); ++k) {
    tics += std::string(tics.empty() ? "" : ", ") + gnuplot_quote(names[k]) + " " +
            std::to_string(k + 1);
    if (std::isfinite(values[k])) data += std::to_string(k + 1) + " " + num(values[k]) + "\n";
  }
  if (data.empty()) return "<p>No values.</p>";
  write_text(dir.path() + "/values.dat", data);
  return run_gnuplot(dir, "cd " + gnuplot_quote(dir.path()) + "\nset xtics (" + tics +
                              ") rotate by -30\nset xrange [0.5:" + std::to_string(names.size()) +
                              ".5]\nset ylabel " + gnuplot_quote(ylabel) + "\n" +
                              value_axis(values) +
                              "set grid\nset key off\n"
                              "plot 'values.dat' using 1:2 with linespoints pt 7 ps 1.2");
}

namespace {

// The overlap's cells as an image over their bounding box, blocks of f x f cells averaged so
// that it has at most kMaxPixels pixels; NaN (transparent) where no cell is. Returns f.
std::int32_t overlap_image(const PairOverlap& o, const TiledGrid& ga, const TiledGrid& gb,
                           std::string& data, double& span, double& width) {
  const OverlapBlocks blocks = overlap_blocks(ga, gb, o, kMaxPixels);
  const std::int64_t f = blocks.f, bx = blocks.bx, by = blocks.by;
  const std::int32_t ilo = o.ilo, jlo = o.jlo;
  const std::vector<double>& sum = blocks.sum;
  const std::vector<std::int64_t>& count = blocks.count;
  span = 0.0;
  width = static_cast<double>(bx * f) * o.cell;
  for (std::int64_t r = 0; r < by; ++r) {
    for (std::int64_t col = 0; col < bx; ++col) {
      const auto b = static_cast<std::size_t>(r * bx + col);
      const double x = (static_cast<double>(ilo + col * f) + 0.5 * static_cast<double>(f)) * o.cell;
      const double y = (static_cast<double>(jlo + r * f) + 0.5 * static_cast<double>(f)) * o.cell;
      const double v = count[b] ? sum[b] / static_cast<double>(count[b]) : 0.0;
      data += num(x) + " " + num(y) + " " + (count[b] ? num(v) : std::string("NaN")) + "\n";
      if (count[b]) span = std::max(span, std::fabs(v));
    }
    data += "\n";
  }
  return static_cast<std::int32_t>(f);
}

}  // namespace

std::string overlap_svg(const PlotDir& dir, const PairOverlap& o, const TiledGrid& ga,
                        const TiledGrid& gb, const std::string& title) {
  if (o.cells == 0) return "";
  std::string data;
  double span = 0.0, width = 0.0;
  const std::int32_t f = overlap_image(o, ga, gb, data, span, width);
  write_text(dir.path() + "/overlap.dat", data);
  if (span == 0.0) span = 0.01;
  // A few ticks across: gnuplot's own crowded the narrow strip of an overlap.
  const double xstep = kit::tick_step(width, 3);
  const std::string note =
      f > 1 ? " (" + std::to_string(f) + " x " + std::to_string(f) + " cells averaged)" : "";
  return run_gnuplot(dir, "cd " + gnuplot_quote(dir.path()) + "\nset title " +
                              gnuplot_quote(title + note) +
                              "\nset size ratio -1\nset xlabel 'east (m)'\nset ylabel 'north "
                              "(m)'\nset xtics " +
                              num(xstep) + " rotate by -45\nset format x '%." +
                              std::to_string(kit::tick_decimals(xstep)) +
                              "f'\nset cblabel 'height difference "
                              "(m)'\nset palette defined (-1 'blue', 0 'white', 1 'red')\n"
                              "set cbrange [" +
                              num(-span) + ":" + num(span) +
                              "]\nset key off\nplot 'overlap.dat' using 1:2:3 with image");
}

}  // namespace campaign
