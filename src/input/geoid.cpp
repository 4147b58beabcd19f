#include "input/geoid.hpp"

#include <cmath>
#include <limits>
#include <string>

#include "textio/error.hpp"

namespace bf {

GeoidGrid::GeoidGrid() : values(std::make_unique_for_overwrite<float[]>(ngmax)) {}

std::int32_t ifrac(double x) {
  // NaN fails this test and goes the slow way.
  if (x > -2147483648.0 && x < 2147483648.0) {
    auto t = static_cast<std::int32_t>(x);  // toward zero; exact
    return t - static_cast<std::int32_t>(static_cast<double>(t) > x);
  }
  if (std::isnan(x) || x < 0) return std::numeric_limits<std::int32_t>::min();
  return std::numeric_limits<std::int32_t>::max();
}

namespace {

// A node value whose integer part is 9999 marks a missing node.
bool missing(float v) {
  return v >= 9999.0f && v < 10000.0f;
}

template <class Real>
void read_value(FreeReader& in, const char* source, Real& v, const char* what) {
  ReadStatus s = in.real(v);
  if (s == ReadStatus::end_of_file)
    input_error(std::string(source) + " ends before " + what + " is complete");
  if (s == ReadStatus::bad_value)
    input_error(std::string(source) + ", line " + std::to_string(in.line()) + ": " + in.error());
}

// Node count along one axis: the span over the step plus 1, rounded to the
// nearest integer (truncation of +1.5). Returns 0 for fewer than 2 nodes
// (NaN included) and caps absurd counts so that products stay exact.
std::int64_t node_count(double first, double last, double step) {
  double n = (last - first) / step + 1.5;
  if (!(n >= 2)) return 0;
  if (n > 1e9) return 1000000000;
  return static_cast<std::int64_t>(n);
}

}  // namespace

void load_geoid(FreeReader& in, const char* source, GeoidGrid& g, OutFile& console) {
  double glat2 = 0, glon2 = 0;
  in.start_read();
  read_value(in, source, g.glat1, "the header");
  read_value(in, source, glat2, "the header");
  read_value(in, source, g.glon1, "the header");
  read_value(in, source, glon2, "the header");
  read_value(in, source, g.gdlat, "the header");
  read_value(in, source, g.gdlon, "the header");
  std::int64_t nrow = node_count(g.glat1, glat2, g.gdlat);
  std::int64_t ncol = node_count(g.glon1, glon2, g.gdlon);
  if (nrow < 2 || ncol < 2)
    stop("*** geoid grid needs at least 2 rows and 2 columns: " + std::string(source));
  if (nrow * ncol > GeoidGrid::ngmax) stop("*** geoid grid too large, sorry");
  g.nrow = static_cast<std::int32_t>(nrow);
  g.ncol = static_cast<std::int32_t>(ncol);
  for (std::int64_t k = 1; k <= nrow; ++k) {
    std::string what = "row " + std::to_string(k);
    float* row = &g.values[(nrow - k) * ncol];
    in.start_read();
    // Node values go straight to single precision: rounded once, and a value
    // beyond its range is an input error.
    for (std::int64_t c = 0; c < ncol; ++c)
      read_value(in, source, row[c], what.c_str());
  }
  console.free_line({"- geoid file read OK -", g.nrow, g.ncol});
}

double bilin(double x, double y, const GeoidGrid& g) {
  std::int32_t i = ifrac(x);
  std::int32_t c = ifrac(y);
  double fx = x - i;
  double fy = y - c;
  if (i < 1) {
    i = 1;
    fx = 0;
  } else if (i >= g.nrow) {
    i = g.nrow - 1;
    fx = 1;
  }
  if (c < 1) {
    c = 1;
    fy = 0;
  } else if (c >= g.ncol) {
    c = g.ncol - 1;
    fy = 1;
  }
  const float* sw_p = &g.values[(static_cast<std::int64_t>(i) - 1) * g.ncol + (c - 1)];
  float sw = sw_p[0];
  float nw = sw_p[g.ncol];
  float se = sw_p[1];
  float ne = sw_p[g.ncol + 1];
  const double t = static_cast<double>(0.0001f);
  if (fx <= t && fy <= t) return missing(sw) ? 9999.0 : sw;
  if (missing(sw) || missing(nw) || missing(se) || missing(ne)) return 9999.0;
  return static_cast<double>(sw) * ((1 - fy) * (1 - fx)) +
         static_cast<double>(nw) * ((1 - fy) * fx) + static_cast<double>(se) * ((1 - fx) * fy) +
         static_cast<double>(ne) * (fx * fy);
}

double GeoidLookup::in_cell(double fx, double fy) const {
  const double t = static_cast<double>(0.0001f);
  if (fx <= t && fy <= t) return sw_missing_ ? 9999.0 : sw_;
  if (any_missing_) return 9999.0;
  return sw_ * ((1 - fy) * (1 - fx)) + nw_ * ((1 - fy) * fx) + se_ * ((1 - fx) * fy) +
         ne_ * (fx * fy);
}

double GeoidLookup::refill(double x, double y) {
  const std::int32_t i = ifrac(x);
  const std::int32_t c = ifrac(y);
  // Only a cell inside the grid is kept: outside it bilin clamps.
  if (i >= 1 && i < g_.nrow && c >= 1 && c < g_.ncol) {
    const float* p = &g_.values[(static_cast<std::int64_t>(i) - 1) * g_.ncol + (c - 1)];
    x0_ = i;
    y0_ = c;
    sw_ = p[0];
    nw_ = p[g_.ncol];
    se_ = p[1];
    ne_ = p[g_.ncol + 1];
    sw_missing_ = missing(p[0]);
    any_missing_ = sw_missing_ || missing(p[g_.ncol]) || missing(p[1]) || missing(p[g_.ncol + 1]);
  }
  return bilin(x, y, g_);
}

}  // namespace bf
