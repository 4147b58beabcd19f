// Rounding half away from zero to an integer: the one rounding of every
// scaled integer the outputs hold (point records, LAS coordinates and angles).
#pragma once

#include <cmath>
#include <cstdint>

namespace bf {

// y rounded half away from zero, for y in (-2147483648.5, 2147483647.5).
// Adding the largest double below one half, then truncating, is exact for
// every |y| < 2^52: a sum within half an ulp of the next integer rounds up
// to it, and no other sum reaches it.
inline std::int32_t round_half_away_int32(double y) {
  return static_cast<std::int32_t>(y + std::copysign(0.49999999999999994, y));
}

}  // namespace bf
