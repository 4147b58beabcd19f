#include "output/centre.hpp"

#include <cstring>

namespace bf {

void centre_test(const OutPoint& p, std::int64_t scanno, std::int64_t nscans, CentreState& st,
                 OutFile& centre, OutFile& console) {
  if (!is_centre_point(p, st)) return;
  if (nscans == 1 || p.thr - st.tlast > static_cast<double>(0.0083333f)) {
    char* out = console.reserve(52);
    *out++ = ' ';
    out = put_i(out, 6, scanno);
    out = put_f(out, 11, 7, p.thr);
    out = put_f(out, 10, 6, p.lat);
    out = put_f(out, 11, 6, p.lon);
    out = put_f(out, 8, 2, p.h);
    *out++ = ' ';
    out = put_i(out, 3, p.ampl);
    *out++ = '\n';
    console.commit(out);
    st.tlast = p.thr;
  }
  char* out = centre.reserve(63);
  std::memset(out, ' ', 62);
  put_f_on_blanks<11, 7>(out + 1, p.thr);
  put_f_on_blanks<10, 6>(out + 12, p.lat);
  put_f_on_blanks<12, 6>(out + 22, p.lon);
  put_f_on_blanks<8, 2>(out + 34, p.h);
  put_i_on_blanks<3>(out + 43, p.ampl);
  put_f_on_blanks<8, 2>(out + 46, p.h_a);
  put_f_on_blanks<8, 2>(out + 54, p.range);
  out[62] = '\n';
  centre.commit(out + 63);
}

}  // namespace bf
