// The one median of the tools.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace kit {

// The middle value of `v` (of an even count, the upper of the two middle ones); NaN when
// `v` is empty.
inline double median(std::vector<double> v) {
  if (v.empty()) return NAN;
  const auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
  std::nth_element(v.begin(), mid, v.end());
  return *mid;
}

}  // namespace kit
