#include "output/points.hpp"

#include <cstring>
#include <limits>

#include "textio/bytes.hpp"
#include "textio/record.hpp"
#include "textio/rounding.hpp"

namespace bf {

std::int32_t scaled_int(double v, double scale) {
  const double y = v * scale;
  // Exactly the values that round into the 32-bit range pass; NaN fails.
  if (!(y > -2147483648.5 && y < 2147483647.5)) return std::numeric_limits<std::int32_t>::min();
  return round_half_away_int32(y);
}

void encode_point_record(const OutPoint& p, unsigned char* rec) {
  put_le_i32(rec, scaled_int(p.thr, 1e7));
  put_le_i32(rec + 4, scaled_int(p.lat, 1e7));
  put_le_i32(rec + 8, scaled_int(p.lon, 1e7));
  put_le_i32(rec + 12, scaled_int(p.h, 1000));
  rec[16] = static_cast<unsigned char>(p.ampl);
  rec[17] = static_cast<unsigned char>(p.i);
}

char* format_point_line(char* out, const OutPoint& p, bool with_gcount) {
  // The whole line is blanked at once; the fields then write only their
  // characters that are not blanks.
  constexpr int kLine = 47;
  constexpr int kGcount = 3;
  if (with_gcount) {
    std::memset(out, ' ', kLine + kGcount);
  } else {
    std::memset(out, ' ', kLine);
  }
  put_f_on_blanks<9, 6>(out, p.thr);
  put_f_on_blanks<10, 6>(out + 9, p.lat);
  put_f_on_blanks<12, 6>(out + 19, p.lon);
  put_f_on_blanks<8, 2>(out + 31, p.h);
  put_i_on_blanks<3>(out + 40, p.ampl);
  put_i_on_blanks<4>(out + 43, p.i);
  out += kLine;
  if (with_gcount) out = put_i_on_blanks<kGcount>(out, p.gcount);
  *out++ = '\n';
  return out;
}

}  // namespace bf
