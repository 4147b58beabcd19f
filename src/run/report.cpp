#include "run/report.hpp"

#include <cmath>

namespace bf {

void print_opening_report(const RunPar& p, OutFile& console) {
  console.write(" BEAMFALL - output laser scanner surface points\n");
  if (!p.wrtpts) console.free_line({"*** only vertical output"});
  if (p.bin2dd) console.free_line({"Riegl binary format (.2dd) assumed"});
  if (p.nthin > 1) console.free_line({"*** thinned output, every:", p.nthin, " scan"});
  console.record("' offset/misalignment parameters used: ' 6F6.2",
                 {p.dx, p.dy, p.dz, p.pitch0, p.roll0, p.heading0});
}

namespace {

// rmin truncated toward zero, saturated to the 32-bit range.
std::int64_t truncated(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return 2147483647;
  if (v <= -2147483648.0) return -2147483648LL;
  return static_cast<std::int64_t>(v);
}

}  // namespace

void print_summary(const RunPar& p, std::int64_t nscans, const RunStats& s, const CrossSums& sums,
                   OutFile& console) {
  console.free_line({});
  console.free_line({"Total number of scans read: ", nscans});
  console.free_line({"Total number of points output: ", s.npout});
  console.record("' min and max laser range measured: ' 2F9.2", {s.range_min, s.range_max});
  console.record("' min and max flight elevation: ' 2F9.2", {s.h_a_min, s.h_a_max});
  console.record("' aircraft positions within area: ' 4F9.4",
                 {s.lat_a_min, s.lat_a_max, s.lon_a_min, s.lon_a_max});
  console.free_line({"scanpt data (thr,lat,lon,h,ampl,i) output on: ", p.ptname});
  console.free_line({"center pts (thr,lat,lon,h,ampl,i,airh,range): ", p.cenname});
  console.free_line({"number of REJECTED data due to: "});
  console.free_line({"amplitude lower than ", p.amin, s.nrejampl, " meas."});
  console.free_line({"scan out of range", p.ilo, p.ihi, s.nrejscan, " meas."});
  console.free_line(
      {"measurements less than ", truncated(p.rmin), " meters", s.nrejrange, " meas."});
  if (p.calib) report_regression(sums, console);
}

}  // namespace bf
