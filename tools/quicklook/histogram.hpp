// Histogram of heights in constant memory: centimetre bins to start with, merged in pairs
// whenever the span of the data would need more than kMaxBins of them.
#pragma once

#include <cstdint>
#include <vector>

namespace quicklook {

class HeightHistogram {
 public:
  void add(double h);  // metres; a non-finite height is not counted
  std::int64_t count() const { return count_; }
  // The height below which `fraction` of the counted heights lie, to a bin width.
  double quantile(double fraction) const;

  struct Bin {
    double from = 0.0;  // metres
    double width = 0.0;
    std::int64_t count = 0;
  };
  // About `n` equal bins over [lo, hi]; heights outside are left out.
  std::vector<Bin> rebinned(double lo, double hi, int n) const;

 private:
  static constexpr std::size_t kMaxBins = std::size_t{1} << 16;
  std::int64_t index(double h) const;
  void grow(std::int64_t lo, std::int64_t hi);
  void coarsen();

  double width_ = 0.01;     // metres a bin
  std::int64_t first_ = 0;  // index of bins_[0]: its lower edge is first_ * width_
  std::vector<std::int64_t> bins_;
  std::int64_t count_ = 0;
};

}  // namespace quicklook
