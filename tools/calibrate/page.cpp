// calibration.html: one self-contained page (inline style and SVG figures).
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string>

#include "kit/axis.hpp"
#include "kit/html.hpp"
#include "report.hpp"

namespace bfcal {
namespace {

std::string esc(const std::string& s) {
  return kit::html_escape(s);
}

std::string num(double v, int decimals) {
  if (!std::isfinite(v)) return "&ndash;";
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  return std::string(buf, end);
}

// A colour for t in 0..1 on a dark-blue to yellow ramp.
std::string ramp(double t) {
  static const std::array<std::array<int, 3>, 5> stops{
      {{68, 1, 84}, {59, 82, 139}, {33, 145, 140}, {94, 201, 98}, {253, 231, 37}}};
  t = std::clamp(std::isfinite(t) ? t : 1.0, 0.0, 1.0) * 4;
  const int i = std::min(3, static_cast<int>(t));
  const double f = t - i;
  char buf[16];
  std::snprintf(buf, sizeof buf, "#%02x%02x%02x",
                static_cast<int>(stops[i][0] + f * (stops[i + 1][0] - stops[i][0])),
                static_cast<int>(stops[i][1] + f * (stops[i + 1][1] - stops[i][1])),
                static_cast<int>(stops[i][2] + f * (stops[i + 1][2] - stops[i][2])));
  return buf;
}

double percentile(std::vector<double> v, double q) {
  std::erase_if(v, [](double x) { return !std::isfinite(x); });
  if (v.empty()) return 0;
  const auto k = v.begin() + static_cast<std::ptrdiff_t>(q * static_cast<double>(v.size() - 1));
  std::nth_element(v.begin(), k, v.end());
  return *k;
}

std::string parameter_table(const Results& r) {
  std::vector<std::vector<std::string>> rows;
  for (int k = 0; k < kParams; ++k) {
    const ParamResult& p = r.solution.params[k];
    const int d = k == kRange ? 4 : 6;
    if (p.observable)
      rows.push_back({json_name(k), num(p.value, d), num(p.sigma, d), "observable"});
    else
      rows.push_back({json_name(k), "&ndash;", "&ndash;",
                      "not observable: " + esc(p.solved ? p.reason : "not solved for")});
  }
  return kit::html_table({"parameter", "value", "standard error", ""}, rows);
}

std::string correlation_table(const Results& r) {
  std::vector<std::string> header{""};
  std::vector<std::vector<std::string>> rows;
  for (int i = 0; i < kParams; ++i) {
    if (!r.solution.params[i].observable) continue;
    header.push_back(json_name(i));
    rows.push_back({json_name(i)});
    for (int j = 0; j < kParams; ++j)
      if (r.solution.params[j].observable)
        rows.back().push_back(num(r.solution.correlation[i][j], 3));
  }
  return kit::html_table(header, rows);
}

std::string pair_table(const Results& r) {
  std::vector<std::vector<std::string>> rows;
  for (const PairMisfit& b : r.before.pairs) {
    const auto a = std::find_if(r.after.pairs.begin(), r.after.pairs.end(),
                                [&](const PairMisfit& p) { return p.a == b.a && p.b == b.b; });
    rows.push_back({esc(r.lines[b.a].name) + " &ndash; " + esc(r.lines[b.b].name),
                    std::to_string(b.n), num(b.rms, 4),
                    a != r.after.pairs.end() ? num(a->rms, 4) : "&ndash;"});
  }
  return kit::html_table({"lines", "distances", "misfit RMS before (m)", "after (m)"}, rows);
}

std::string control_table(const Results& r) {
  std::vector<std::vector<std::string>> rows;
  for (const ControlResidual& c : r.control_after)
    rows.push_back({std::to_string(c.point.row), num(c.point.lat, 7), num(c.point.lon, 7),
                    num(c.point.h, 3), num(c.point.sigma, 3),
                    std::isfinite(c.residual) ? num(c.residual, 4) : "&ndash;",
                    c.used ? "yes" : "no", esc(c.reason)});
  return kit::html_table({"row", "latitude", "longitude", "height (m)", "sigma (m)",
                          "height minus the lines' surface (m)", "used", "reason"},
                         rows);
}

// ---- the figures: inline SVG with axes, ticks and labels ---------------------------------

// A figure's drawing area in pixels, and the data ranges it shows.
struct Frame {
  double left, top, width, height;  // pixels
  double x0, x1, y0, y1;            // data at the left, right, bottom and top edges
  double px(double x) const { return left + (x - x0) / (x1 - x0) * width; }
  double py(double y) const { return top + height - (y - y0) / (y1 - y0) * height; }
};

std::string svg_text(double x, double y, const std::string& anchor, const std::string& text,
                     const std::string& extra = "") {
  return "<text x='" + num(x, 1) + "' y='" + num(y, 1) + "' text-anchor='" + anchor + "'" + extra +
         ">" + esc(text) + "</text>";
}

std::string svg_line(double x1, double y1, double x2, double y2) {
  return "<line x1='" + num(x1, 1) + "' y1='" + num(y1, 1) + "' x2='" + num(x2, 1) + "' y2='" +
         num(y2, 1) + "' stroke='#444'/>";
}

// The frame's border, round ticks on its left and bottom edges, and the two axis labels.
std::string axes(const Frame& f, const std::string& xlabel, const std::string& ylabel,
                 double ystep) {
  std::string h = "<rect x='" + num(f.left, 1) + "' y='" + num(f.top, 1) + "' width='" +
                  num(f.width, 1) + "' height='" + num(f.height, 1) +
                  "' fill='none' stroke='#444'/>";
  const double bottom = f.top + f.height;
  const double xstep = kit::tick_step(f.x1 - f.x0, 4);
  for (double x : kit::ticks_within(f.x0, f.x1, xstep))
    h += svg_line(f.px(x), bottom, f.px(x), bottom + 4) +
         svg_text(f.px(x), bottom + 16, "middle", kit::tick_label(x, kit::tick_decimals(xstep)));
  for (double y : kit::ticks_within(f.y0, f.y1, ystep))
    h += svg_line(f.left - 4, f.py(y), f.left, f.py(y)) +
         svg_text(f.left - 6, f.py(y) + 4, "end", kit::tick_label(y, kit::tick_decimals(ystep)));
  h += svg_text(f.left + f.width / 2, bottom + 34, "middle", xlabel);
  const double ly = f.top + f.height / 2;
  return h + svg_text(14, ly, "middle", ylabel, " transform='rotate(-90 14 " + num(ly, 1) + ")'");
}

std::string svg_open(double width, double height) {
  return "<svg width='" + num(width, 0) + "' height='" + num(height, 0) + "' viewBox='0 0 " +
         num(width, 0) + " " + num(height, 0) +
         "' role='img' font-family='sans-serif' font-size='11'>";
}

// A vertical colour bar from 0 (bottom) to vmax (top) right of the map, with round ticks.
std::string colour_bar(const Frame& map, double vmax, const std::string& id) {
  const double x = map.left + map.width + 16, w = 12;
  std::string h = "<defs><linearGradient id='" + id + "' x1='0' y1='1' x2='0' y2='0'>";
  for (int k = 0; k <= 8; ++k)
    h += "<stop offset='" + num(k / 8.0, 3) + "' stop-color='" + ramp(k / 8.0) + "'/>";
  h += "</linearGradient></defs><rect x='" + num(x, 1) + "' y='" + num(map.top, 1) + "' width='" +
       num(w, 0) + "' height='" + num(map.height, 1) + "' fill='url(#" + id + ")' stroke='#444'/>";
  const Frame bar{x, map.top, w, map.height, 0, 1, 0, vmax};
  const double step = kit::tick_step(vmax, 4);
  for (double v : kit::ticks_within(0, vmax, step))
    h += svg_line(x + w, bar.py(v), x + w + 4, bar.py(v)) +
         svg_text(x + w + 6, bar.py(v) + 4, "start", kit::tick_label(v, kit::tick_decimals(step)));
  const double ly = map.top + map.height / 2, lx = x + w + 52;
  return h + svg_text(lx, ly, "middle", "misfit RMS (m)",
                      " transform='rotate(-90 " + num(lx, 1) + " " + num(ly, 1) + ")'");
}

// The calibration's warnings, first on the page: what the values cannot be trusted for.
std::string warnings_block(const Results& r) {
  if (r.warnings.empty()) return "";
  std::string h =
      "<div class='warnings' style='border:2px solid #c60;background:#fff4e0;"
      "padding:.3em 1em;margin:1em 0'><h2>Warnings</h2><ul>";
  for (const std::string& w : r.warnings)
    h += "<li>" + esc(w) + "</li>";
  return h + "</ul></div>\n";
}

// The patches on a map (east and north in metres from their mean place), coloured by misfit
// RMS on the panel's own scale: 0 to the 95th percentile of its patches, yellow beyond. On a
// scale shared with "before", the misfits left after the calibration were all one dark colour.
std::string patch_map(const Results& r, const std::vector<double>& rms, const std::string& title) {
  double lat = 0, lon = 0;
  for (const Patch& p : r.patches) {
    lat += p.frame.lat0;
    lon += p.frame.lon0;
  }
  const double n = std::max<double>(1, static_cast<double>(r.patches.size()));
  const LocalFrame ref = local_frame(lat / n, lon / n, 0);
  double xmin = 1e300, xmax = -1e300, ymin = 1e300, ymax = -1e300;
  std::vector<std::pair<double, double>> xy;
  for (const Patch& p : r.patches) {
    const double x = (p.frame.lon0 - ref.lon0) * ref.m_lon,
                 y = (p.frame.lat0 - ref.lat0) * ref.m_lat;
    xy.emplace_back(x, y);
    xmin = std::min(xmin, x), xmax = std::max(xmax, x), ymin = std::min(ymin, y),
    ymax = std::max(ymax, y);
  }
  // A square frame a little larger than the patches, east and north to the same scale.
  const double half = 0.55 * std::max({xmax - xmin, ymax - ymin, 1.0});
  const double cx = (xmin + xmax) / 2, cy = (ymin + ymax) / 2;
  const Frame f{62, 12, 320, 320, cx - half, cx + half, cy - half, cy + half};
  const double vmax = std::max(1e-6, percentile(rms, 0.95));
  std::string h = "<figure>" + svg_open(470, 380) +
                  "<rect width='100%' height='100%' fill='#fff'/><rect x='62' y='12' "
                  "width='320' height='320' fill='#f4f4f4'/>";
  for (std::size_t k = 0; k < xy.size(); ++k) {
    const bool control = !r.patches[k].control.empty();
    const std::string fill = std::isfinite(rms[k]) ? ramp(rms[k] / vmax) : "#bbb";
    h += "<circle cx='" + num(f.px(xy[k].first), 1) + "' cy='" + num(f.py(xy[k].second), 1) +
         "' r='" + (control ? "5" : "2.5") + "' fill='" + fill + "'" +
         (control ? " stroke='red'" : "") + "/>";
  }
  h += axes(f, "east (m)", "north (m)", kit::tick_step(f.y1 - f.y0, 4)) +
       colour_bar(f, vmax, "ramp-" + title) + "</svg><figcaption>" + esc(title) + ": 0 to " +
       num(vmax, 4) + " m, yellow beyond</figcaption></figure>";
  return h;
}

// The distances of every point to the other line's plane, from -range to +range metres.
std::string histogram(const std::vector<double>& d, double range, const std::string& title) {
  constexpr int kBins = 41;
  std::array<int, kBins> count{};
  for (double v : d) {
    const double x = std::floor((v + range) / (2 * range) * kBins);
    if (!(x >= 0 && x < kBins)) continue;  // also skips NaN
    ++count[static_cast<int>(x)];
  }
  const int most = std::max(1, *std::max_element(count.begin(), count.end()));
  const double ystep = std::max(1.0, kit::tick_step(most, 4));  // whole counts
  const Frame f{66, 10, 380, 170, -range, range, 0, std::ceil(most / ystep) * ystep};
  std::string h = "<figure>" + svg_open(460, 230);
  const double bw = f.width / kBins;
  for (int b = 0; b < kBins; ++b) {
    const double top = f.py(count[b]);
    h += "<rect x='" + num(f.left + b * bw, 1) + "' y='" + num(top, 1) + "' width='" +
         num(bw - 1, 1) + "' height='" + num(f.top + f.height - top, 1) + "' fill='#3b528b'/>";
  }
  h += axes(f, "distance to the other line's plane (m)", "distances", ystep) +
       "</svg><figcaption>" + esc(title) + "</figcaption></figure>";
  return h;
}

}  // namespace

// The 99th percentile of the distances' sizes: a histogram's half width.
static double spread(const std::vector<double>& d) {
  std::vector<double> a;
  for (double v : d)
    a.push_back(std::fabs(v));
  return std::max(1e-4, percentile(a, 0.99));
}

std::string calibration_html(const Results& r) {
  std::string h =
      "<!DOCTYPE html>\n<html lang='en'><head><meta charset='utf-8'><meta name='viewport' "
      "content='width=device-width, initial-scale=1'><style>figure svg{max-width:100%;"
      "height:auto}@media (max-width:600px){body{margin:1em!important}table{display:block;"
      "overflow-x:auto}}</style><title>Boresight calibration"
      "</title><style>body{font-family:sans-serif;margin:1.5em;max-width:70em}"
      "table{border-collapse:collapse;margin:.5em 0}td,th{border:1px solid #ccc;padding:.2em .6em;"
      "text-align:right}figure{display:inline-block;margin:.5em}code{background:#eee;padding:.2em}"
      "</style></head><body>\n<h1>Boresight calibration</h1>\n";
  h += warnings_block(r) + "<p>";
  h += std::to_string(r.lines.size()) + " lines, " + std::to_string(r.tie_patches) +
       " tie patches of " + num(r.patch_report.patch_size, 2) + " m (planar within " +
       num(r.patch_report.planarity * 1000, 1) + " mm; " + std::to_string(r.patch_report.planar) +
       " of " + std::to_string(r.patch_report.candidates) + " candidates planar), " +
       std::to_string(r.control_points) + " control points. Noise about the planes " +
       num(r.solution.noise * 1000, 2) + " mm; condition of the correlation matrix " +
       num(r.solution.condition, 1) + ".</p>\n";
  h += "<h2>Parameters</h2>" + parameter_table(r) + "\n<p>Apply with <code>" +
       esc(apply_command(r)) + "</code></p>\n<h2>Correlations</h2>" + correlation_table(r) + "\n";
  h += "<h2>Misfit by line pair</h2><p>Each line's points against the plane fitted to the other "
       "line's points in the same patch; RMS " +
       num(r.before.rms, 4) + " m before, " + num(r.after.rms, 4) + " m after.</p>" +
       pair_table(r) + "\n";
  if (!r.control_after.empty())
    h += "<h2>Control points</h2><p>Each surveyed height against the plane fitted to the lines' "
         "points around it, with the estimated values. One far off while the others agree is "
         "likely surveyed or typed wrong.</p>" +
         control_table(r) + "\n";
  h += "<h2>Patches</h2><p>Colour: misfit RMS of the patch, each map on its own scale (its "
       "colour bar): after the calibration the misfits are many times smaller. Grey: a patch "
       "without a pair of lines; red rings: control points.</p>" +
       patch_map(r, r.before.patch_rms, "before") + patch_map(r, r.after.patch_rms, "after") + "\n";
  // Each on its own scale: after the calibration the distances are a hundred times smaller.
  h += "<h2>Distances</h2>" + histogram(r.before.distances, spread(r.before.distances), "before") +
       histogram(r.after.distances, spread(r.after.distances), "after") + "\n</body></html>\n";
  return h;
}

}  // namespace bfcal
