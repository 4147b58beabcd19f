#include "geoid_grid.hpp"

#include <cmath>
#include <limits>

#include "runfiles/text.hpp"

namespace bsim {

using namespace runfiles;  // the shared readers and text helpers

GeoidGrid read_geoid_grid(const std::string& path) {
  const std::string text = read_file(path);
  std::vector<std::string_view> tok;
  for (std::string_view line : split_lines(text)) {
    for (std::string_view f : split_fields(line))
      tok.push_back(f);
  }
  GeoidGrid g;
  double hdr[6];
  if (tok.size() < 6) throw ToolError(path + ": geoid grid header needs six values");
  for (int k = 0; k < 6; ++k) {
    if (!parse_double(tok[static_cast<std::size_t>(k)], hdr[k])) {
      throw ToolError(path + ": unreadable geoid grid header value");
    }
  }
  g.glat1 = hdr[0];
  g.glat2 = hdr[1];
  g.glon1 = hdr[2];
  g.glon2 = hdr[3];
  g.gdlat = hdr[4];
  g.gdlon = hdr[5];
  if (!(g.gdlat > 0.0) || !(g.gdlon > 0.0)) throw ToolError(path + ": grid steps must be > 0");
  g.nrow = static_cast<int>((g.glat2 - g.glat1) / g.gdlat + 1.5);
  g.ncol = static_cast<int>((g.glon2 - g.glon1) / g.gdlon + 1.5);
  if (g.nrow < 2 || g.ncol < 2) throw ToolError(path + ": grid needs two rows and two columns");
  const std::size_t n = static_cast<std::size_t>(g.nrow) * static_cast<std::size_t>(g.ncol);
  if (tok.size() < 6 + n) throw ToolError(path + ": geoid grid ends early");
  g.values.resize(n);
  g.tokens.resize(n);
  for (int k = 0; k < g.nrow; ++k) {
    // The file's k-th row is the table's row nrow - 1 - k (the table starts in the south).
    const std::size_t row = static_cast<std::size_t>(g.nrow - 1 - k);
    for (int c = 0; c < g.ncol; ++c) {
      const std::size_t src = 6 + static_cast<std::size_t>(k * g.ncol + c);
      const std::size_t dst = row * static_cast<std::size_t>(g.ncol) + static_cast<std::size_t>(c);
      if (!parse_double(tok[src], g.values[dst])) {
        throw ToolError(path + ": unreadable geoid value '" + std::string(tok[src]) + "'");
      }
      g.tokens[dst] = std::string(tok[src]);
    }
  }
  return g;
}

void write_geoid_crop(const GeoidGrid& g, double lat_lo, double lat_hi, double lon_lo,
                      double lon_hi, int margin, const std::string& path) {
  auto clampi = [](int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); };
  const int r0 =
      clampi(static_cast<int>(std::floor((lat_lo - g.glat1) / g.gdlat)) - margin, 0, g.nrow - 2);
  const int r1 = clampi(static_cast<int>(std::ceil((lat_hi - g.glat1) / g.gdlat)) + margin, r0 + 1,
                        g.nrow - 1);
  const int c0 =
      clampi(static_cast<int>(std::floor((lon_lo - g.glon1) / g.gdlon)) - margin, 0, g.ncol - 2);
  const int c1 = clampi(static_cast<int>(std::ceil((lon_hi - g.glon1) / g.gdlon)) + margin, c0 + 1,
                        g.ncol - 1);
  if (lat_lo < g.glat1 || lat_hi > g.glat2 || lon_lo < g.glon1 || lon_hi > g.glon2) {
    throw ToolError("the flight leaves the geoid grid's area");
  }
  std::string out;
  out += exact(g.glat1 + r0 * g.gdlat) + " " + exact(g.glat1 + r1 * g.gdlat) + " " +
         exact(g.glon1 + c0 * g.gdlon) + " " + exact(g.glon1 + c1 * g.gdlon) + " " +
         exact(g.gdlat) + " " + exact(g.gdlon) + "\n";
  for (int r = r1; r >= r0; --r) {
    int on_line = 0;
    for (int c = c0; c <= c1; ++c) {
      out += g.tokens[static_cast<std::size_t>(r * g.ncol + c)];
      out += (++on_line % 10 == 0 || c == c1) ? '\n' : ' ';
    }
  }
  write_file(path, out);
}

double geoid_height(const GeoidGrid& g, double lat_deg, double lon_deg) {
  const double x = (lat_deg - g.glat1) / g.gdlat;
  const double y = (lon_deg - g.glon1) / g.gdlon;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  if (!(x >= 0.0 && x <= g.nrow - 1 && y >= 0.0 && y <= g.ncol - 1)) return nan;
  int i = static_cast<int>(std::floor(x));
  int c = static_cast<int>(std::floor(y));
  if (i > g.nrow - 2) i = g.nrow - 2;
  if (c > g.ncol - 2) c = g.ncol - 2;
  const double fx = x - i;
  const double fy = y - c;
  const std::size_t k = static_cast<std::size_t>(i * g.ncol + c);
  const std::size_t nc = static_cast<std::size_t>(g.ncol);
  const double v[4] = {g.values[k], g.values[k + nc], g.values[k + 1], g.values[k + nc + 1]};
  for (double value : v) {
    if (value >= 9999.0 && value < 10000.0) return nan;
  }
  return v[0] * (1.0 - fx) * (1.0 - fy) + v[1] * fx * (1.0 - fy) + v[2] * (1.0 - fx) * fy +
         v[3] * fx * fy;
}

}  // namespace bsim
