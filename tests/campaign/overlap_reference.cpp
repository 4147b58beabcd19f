#include "overlap_reference.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

namespace campaign {

namespace {

bool by_row_then_column(const GridCell& a, const GridCell& b) {
  return a.j != b.j ? a.j < b.j : a.i < b.i;
}

void set_box(LineGrid& g) {
  if (g.empty()) return;
  g.jlo = g.cells.front().j;
  g.jhi = g.cells.back().j;
  g.ilo = g.ihi = g.cells.front().i;
  for (const GridCell& c : g.cells) {
    g.ilo = std::min(g.ilo, c.i);
    g.ihi = std::max(g.ihi, c.i);
  }
}

}  // namespace

LineGrid grid_points(const std::vector<double>& x, const std::vector<double>& y,
                     const std::vector<double>& h, double cell) {
  const kit::GridFrame f = common_frame(cell);
  const auto lo = static_cast<double>(f.ix_min), hi = static_cast<double>(f.ix_min + f.nx);
  std::map<std::pair<std::int64_t, std::int64_t>, std::pair<double, std::uint32_t>> sums;
  const std::size_t n = std::min({x.size(), y.size(), h.size()});
  for (std::size_t k = 0; k < n; ++k) {
    const double i = std::floor(x[k] / cell), j = std::floor(y[k] / cell);
    if (!(i >= lo && i < hi && j >= lo && j < hi && std::isfinite(h[k]))) continue;
    auto& [sum, count] = sums[{static_cast<std::int64_t>(j), static_cast<std::int64_t>(i)}];
    sum += h[k];
    ++count;
  }
  LineGrid g;
  for (const auto& [at, s] : sums) {
    g.cells.push_back({static_cast<std::int32_t>(at.first), static_cast<std::int32_t>(at.second),
                       static_cast<float>(s.first / static_cast<double>(s.second))});
  }
  set_box(g);
  return g;
}

Overlap compare_lines(const LineGrid& ga, const LineGrid& gb, double cell) {
  Overlap o;
  o.cell = cell;
  if (!ga.box_meets(gb)) return o;
  double sum = 0.0, sum2 = 0.0;
  std::size_t ka = 0, kb = 0;
  while (ka < ga.cells.size() && kb < gb.cells.size()) {
    const GridCell& a = ga.cells[ka];
    const GridCell& b = gb.cells[kb];
    if (by_row_then_column(a, b)) {
      ++ka;
    } else if (by_row_then_column(b, a)) {
      ++kb;
    } else {
      const double dh = static_cast<double>(a.mean) - static_cast<double>(b.mean);
      o.cells.push_back({a.j, a.i, dh});
      sum += dh;
      sum2 += dh * dh;
      ++ka;
      ++kb;
    }
  }
  if (!o.cells.empty()) {
    const auto n = static_cast<double>(o.cells.size());
    o.mean = sum / n;
    o.rms = std::sqrt(sum2 / n);
  }
  return o;
}

}  // namespace campaign
