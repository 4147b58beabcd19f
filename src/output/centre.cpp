#include "output/centre.hpp"

namespace bf {

void centre_test(const OutPoint& p, std::int64_t scanno, std::int64_t nscans, CentreState& st,
                 OutFile& centre, OutFile& console) {
  if (!(st.prevang >= 0 && p.scanang < 0)) return;
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
  *out++ = ' ';
  out = put_f_fixed<11, 7>(out, p.thr);
  out = put_f_fixed<10, 6>(out, p.lat);
  out = put_f_fixed<12, 6>(out, p.lon);
  out = put_f_fixed<8, 2>(out, p.h);
  *out++ = ' ';
  out = put_i(out, 3, p.ampl);
  out = put_f_fixed<8, 2>(out, p.h_a);
  out = put_f_fixed<8, 2>(out, p.range);
  *out++ = '\n';
  centre.commit(out);
}

}  // namespace bf
