#include "plots.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "error.hpp"
#include "gnuplot.hpp"
#include "text.hpp"

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
                              plot);
}

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
                              ".5]\nset ylabel " + gnuplot_quote(ylabel) +
                              "\nset grid\nset key off\n"
                              "plot 'values.dat' using 1:2 with linespoints pt 7 ps 1.2");
}

namespace {

// The overlap's cells as an image over their bounding box, blocks of f x f cells averaged so
// that it has at most kMaxPixels pixels; NaN (transparent) where no cell is. Returns f.
std::int32_t overlap_image(const PairOverlap& o, const TiledGrid& ga, const TiledGrid& gb,
                           std::string& data, double& span) {
  const OverlapBlocks blocks = overlap_blocks(ga, gb, o, kMaxPixels);
  const std::int64_t f = blocks.f, bx = blocks.bx, by = blocks.by;
  const std::int32_t ilo = o.ilo, jlo = o.jlo;
  const std::vector<double>& sum = blocks.sum;
  const std::vector<std::int64_t>& count = blocks.count;
  span = 0.0;
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
  double span = 0.0;
  const std::int32_t f = overlap_image(o, ga, gb, data, span);
  write_text(dir.path() + "/overlap.dat", data);
  if (span == 0.0) span = 0.01;
  const std::string note =
      f > 1 ? " (" + std::to_string(f) + " x " + std::to_string(f) + " cells averaged)" : "";
  return run_gnuplot(dir, "cd " + gnuplot_quote(dir.path()) + "\nset title " +
                              gnuplot_quote(title + note) +
                              "\nset size ratio -1\nset xlabel 'east (m)'\nset ylabel 'north "
                              "(m)'\nset xtics rotate by -45\nset cblabel 'height difference "
                              "(m)'\nset palette defined (-1 'blue', 0 'white', 1 'red')\n"
                              "set cbrange [" +
                              num(-span) + ":" + num(span) +
                              "]\nset key off\nplot 'overlap.dat' using 1:2:3 with image");
}

}  // namespace campaign
