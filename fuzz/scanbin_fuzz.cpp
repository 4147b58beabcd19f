// The binary scanner reader: readhdr, the scan-start search and the
// measurement loop over any bytes. The first byte is the thinning interval
// (signed), the second chooses the time window; the rest is the file.
#include <cstdint>
#include <limits>
#include <string_view>

#include "fuzz_util.hpp"
#include "input/scanfile.hpp"
#include "input/scanrec.hpp"
#include "textio/error.hpp"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// t0, tstart, tend in decimal hours.
constexpr double kWindows[8][3] = {
    {0, 0, 1e300},       {10, 10.0001, 10.001}, {10, 10, 10},   {0, 1e9, 1e9 + 1},
    {10, 10.00001, 1e9}, {kNaN, kNaN, kNaN},    {-1e300, 0, 0}, {0, 0, -1},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const auto* w = kWindows[data[1] & 7];
  const bf::ScanWindow window{w[0], w[1] < w[0] ? w[0] : w[1], w[2],
                              static_cast<std::int8_t>(data[0])};
  std::string_view bytes(reinterpret_cast<const char*>(data + 2), size - 2);
  bf::BinaryInput in(bytes);
  bf::OutFile console;
  fuzz::attach_console(console);
  try {
    const bf::ScanLayout layout = bf::readhdr(in, console);
    if (layout.nmeas < 1) fuzz::finding("readhdr accepted fewer than 1 measurement per scan");
    bf::BinaryScanReader reader(in, layout, window, console);
    if (reader.start()) {
      bf::Measurement m;
      std::size_t delivered = 0;
      while (reader.next(m)) {
        if (++delivered > bytes.size() / bf::kMeasBytes)
          fuzz::finding("more measurements than bytes");
        if (m.i < 1 || m.i > layout.nmeas) fuzz::finding("measurement index outside the scan");
        if (m.angle_count < 0 || m.angle_count > 9999) fuzz::finding("angle count outside 0..9999");
      }
      if (reader.next(m)) fuzz::finding("a measurement after the end of the data");
    }
    console.flush();
  } catch (const bf::Stop&) {
    // "*** end of file met in header" and a refused header are expected
  }
  return 0;
}
