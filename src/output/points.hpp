// The point file's two forms: binary records and text lines.
#pragma once

#include <cstdint>

#include "output/outpoint.hpp"

namespace bf {

// Scaled value rounded half away from zero as a signed 32-bit integer; NaN
// and values outside the 32-bit range give INT32_MIN.
std::int32_t scaled_int(double v, double scale);

// The 18-byte binary point record.
void encode_point_record(const OutPoint& p, unsigned char* rec);
// The text point line (47 characters, 50 with the group count), line end included.
char* format_point_line(char* out, const OutPoint& p, bool with_gcount);

}  // namespace bf
