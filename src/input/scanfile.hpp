// The scanner file's header and layout.
#pragma once

#include <cstdint>

#include "textio/infile.hpp"
#include "textio/outfile.hpp"

namespace bf {

constexpr int kHeaderBytes = 47;
constexpr int kMeasBytes = 8;

// Layout of the binary scans. The units are single-precision values widened
// to double.
struct ScanLayout {
  std::int32_t nmeas = 208;                      // measurements per scan
  double runit = static_cast<double>(0.008f);    // metres per range count
  double aunit = static_cast<double>(0.01f);     // gon per angle count
  double tunit = static_cast<double>(0.00001f);  // seconds per timer count
  std::int64_t irec = 1675;                      // 1-based file byte where the first scan begins

  std::int64_t scan_bytes() const { return 2 + std::int64_t{kMeasBytes} * nmeas; }
};

// Reads and reports the 47-byte header. Stops with "*** end of file met in
// header" when the file is shorter, with a message of its own when the
// header gives fewer than one measurement per scan or a unit that is not a
// positive number, and with an input error when the file is text (a header,
// or the first scan after a blank header, of text characters only).
ScanLayout readhdr(BinaryInput& in, OutFile& console);

// The file holds the first scan's syncseq and at least one whole measurement.
bool holds_measurement(BinaryInput& in, const ScanLayout& layout);

}  // namespace bf
