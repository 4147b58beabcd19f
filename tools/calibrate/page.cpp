// calibration.html: one self-contained page (inline style and SVG figures).
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string>

#include "html.hpp"
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

// The patches on a map (east right, north up), coloured by misfit RMS.
std::string patch_map(const Results& r, const std::vector<double>& rms, double vmax,
                      const std::string& title) {
  const double size = 420, pad = 10;
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
  const double span = std::max({xmax - xmin, ymax - ymin, 1.0});
  const double scale = (size - 2 * pad) / span;
  std::string h = "<figure><svg width='" + num(size, 0) + "' height='" + num(size, 0) +
                  "' viewBox='0 0 " + num(size, 0) + " " + num(size, 0) +
                  "' role='img'><rect width='100%' height='100%' fill='#f4f4f4'/>";
  for (std::size_t k = 0; k < xy.size(); ++k) {
    const double cx = pad + (xy[k].first - xmin) * scale,
                 cy = size - pad - (xy[k].second - ymin) * scale;
    const bool control = !r.patches[k].control.empty();
    h += "<circle cx='" + num(cx, 1) + "' cy='" + num(cy, 1) + "' r='" + (control ? "5" : "2.5") +
         "' fill='" + ramp(rms[k] / vmax) + "'" + (control ? " stroke='red'" : "") + "/>";
  }
  h += "</svg><figcaption>" + esc(title) + " (" + num(span, 0) +
       " m across; red rings: control points)</figcaption></figure>";
  return h;
}

std::string histogram(const std::vector<double>& d, double range, const std::string& title) {
  constexpr int kBins = 41;
  std::array<int, kBins> count{};
  for (double v : d) {
    const double x = std::floor((v + range) / (2 * range) * kBins);
    if (!(x >= 0 && x < kBins)) continue;  // also skips NaN
    ++count[static_cast<int>(x)];
  }
  const int top = std::max(1, *std::max_element(count.begin(), count.end()));
  const double w = 420, hgt = 160, bw = w / kBins;
  std::string h = "<figure><svg width='420' height='180' viewBox='0 0 420 180' role='img'>";
  for (int b = 0; b < kBins; ++b) {
    const double bh = hgt * count[b] / top;
    h += "<rect x='" + num(b * bw, 1) + "' y='" + num(hgt - bh, 1) + "' width='" + num(bw - 1, 1) +
         "' height='" + num(bh, 1) + "' fill='#3b528b'/>";
  }
  h += "<text x='0' y='176' font-size='11'>" + num(-range, 3) +
       " m</text><text x='200' y='176' "
       "font-size='11'>0</text><text x='370' y='176' font-size='11'>" +
       num(range, 3) + " m</text></svg><figcaption>" + esc(title) + "</figcaption></figure>";
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
  const double vmax = std::max(1e-6, percentile(r.before.patch_rms, 0.95));
  std::string h =
      "<!DOCTYPE html>\n<html lang='en'><head><meta charset='utf-8'><title>Boresight calibration"
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
  h += "<h2>Patches</h2><p>Colour: misfit RMS of the patch, 0 (dark) to " + num(vmax, 4) +
       " m (yellow) and beyond.</p>" + patch_map(r, r.before.patch_rms, vmax, "before") +
       patch_map(r, r.after.patch_rms, vmax, "after") + "\n";
  // Each on its own scale: after the calibration the distances are a hundred times smaller.
  h += "<h2>Distances</h2>" + histogram(r.before.distances, spread(r.before.distances), "before") +
       histogram(r.after.distances, spread(r.after.distances), "after") + "\n</body></html>\n";
  return h;
}

}  // namespace bfcal
