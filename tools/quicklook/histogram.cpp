#include "histogram.hpp"

#include <algorithm>
#include <cmath>

namespace quicklook {

void HeightHistogram::add(double h) {
  // Heights beyond 1e9 m are not surface heights: kept out so that the bin index fits.
  if (!std::isfinite(h) || std::fabs(h) > 1e9) return;
  std::int64_t k = index(h);
  if (bins_.empty()) {
    first_ = k;
    bins_.assign(1, 0);
  }
  while (k < first_ || k >= first_ + static_cast<std::int64_t>(bins_.size())) {
    const std::int64_t lo = std::min(k, first_);
    const std::int64_t hi = std::max(k + 1, first_ + static_cast<std::int64_t>(bins_.size()));
    if (static_cast<std::size_t>(hi - lo) > kMaxBins) {
      coarsen();
      k = index(h);
      continue;
    }
    grow(lo, hi);
  }
  ++bins_[static_cast<std::size_t>(k - first_)];
  ++count_;
}

// To at least [lo, hi), with as much again to spare on the side that grew (within kMaxBins),
// so that heights creeping upwards cost a copy per doubling, not per bin.
void HeightHistogram::grow(std::int64_t lo, std::int64_t hi) {
  const std::int64_t old_lo = first_, old_hi = first_ + static_cast<std::int64_t>(bins_.size());
  const std::int64_t room = static_cast<std::int64_t>(kMaxBins) - (hi - lo);
  const std::int64_t spare = std::min(hi - lo, room);
  if (lo < old_lo) lo -= spare;
  if (hi > old_hi) hi += spare;
  std::vector<std::int64_t> grown(static_cast<std::size_t>(hi - lo), 0);
  std::copy(bins_.begin(), bins_.end(), grown.begin() + (old_lo - lo));
  bins_.swap(grown);
  first_ = lo;
}

// Bins are centred on multiples of their width: heights printed to a centimetre or a
// millimetre then never sit on a bin edge, where rounding would split them unevenly.
std::int64_t HeightHistogram::index(double h) const {
  return static_cast<std::int64_t>(std::floor(h / width_ + 0.5));
}

void HeightHistogram::coarsen() {
  // Bin k of width w becomes bin floor(k / 2) of width 2w.
  const auto half = [](std::int64_t k) { return k >= 0 ? k / 2 : -((-k + 1) / 2); };
  const std::int64_t lo = half(first_);
  const std::int64_t hi = half(first_ + static_cast<std::int64_t>(bins_.size()) - 1);
  std::vector<std::int64_t> merged(static_cast<std::size_t>(hi - lo + 1), 0);
  for (std::size_t j = 0; j < bins_.size(); ++j)
    merged[static_cast<std::size_t>(half(first_ + static_cast<std::int64_t>(j)) - lo)] += bins_[j];
  bins_.swap(merged);
  first_ = lo;
  width_ *= 2.0;
}

double HeightHistogram::quantile(double fraction) const {
  const double target = fraction * static_cast<double>(count_);
  std::int64_t below = 0;
  for (std::size_t j = 0; j < bins_.size(); ++j) {
    below += bins_[j];
    if (below > 0 && static_cast<double>(below) >= target)
      return (static_cast<double>(first_ + static_cast<std::int64_t>(j)) + 0.5) * width_;
  }
  return (static_cast<double>(first_ + static_cast<std::int64_t>(bins_.size())) - 0.5) * width_;
}

std::vector<HeightHistogram::Bin> HeightHistogram::rebinned(double lo, double hi, int n) const {
  // Whole source bins go to the output bin holding their centre; a whole number of them per
  // output bin, so that the bars do not alias the data's resolution.
  lo = (std::floor(lo / width_ + 0.5) - 0.5) * width_;
  const double step = std::max(1.0, std::ceil((hi - lo) / n / width_)) * width_;
  const int bins = std::max(1, static_cast<int>(std::ceil((hi - lo) / step)));
  std::vector<Bin> out(static_cast<std::size_t>(bins));
  for (int b = 0; b < bins; ++b)
    out[static_cast<std::size_t>(b)] = {lo + b * step, step, 0};
  for (std::size_t j = 0; j < bins_.size(); ++j) {
    const double centre = static_cast<double>(first_ + static_cast<std::int64_t>(j)) * width_;
    const double b = std::floor((centre - lo) / step);
    if (b >= 0 && b < bins) out[static_cast<std::size_t>(b)].count += bins_[j];
  }
  return out;
}

}  // namespace quicklook
