#include "input/scanfile.hpp"

#include <string>

#include "textio/bytes.hpp"
#include "textio/error.hpp"

namespace bf {

ScanLayout readhdr(BinaryInput& in, OutFile& console) {
  const unsigned char* hdr = nullptr;
  try {
    hdr = in.at(0, kHeaderBytes);
  } catch (const Stop&) {
    // A header that can't be read is reported as one that isn't there.
  }
  if (hdr == nullptr) stop("*** end of file met in header");
  std::int16_t low = le_i16(hdr);
  std::int16_t high = le_i16(hdr + 2);
  console.free_line({"test", low, high});

  ScanLayout layout;
  std::int64_t length = 65536 * std::int64_t{high} + low;
  if (length == 0x20202020) {
    console.free_line({"- no 2dd-header, default 2002 params assumed -"});
    return layout;
  }
  layout.nmeas = le_i16(hdr + 12);
  layout.runit = le_f32(hdr + 34);
  layout.aunit = le_f32(hdr + 38);
  layout.tunit = le_f32(hdr + 42);
  console.record("/ ' RIEGL HEADER bytes:' I4 ', bytes pr scan:' I5 ' bytes pr meas:' I5",
                 {length, le_i16(hdr + 4), le_i16(hdr + 10)});
  console.record("' measurements per scan:' I5", {layout.nmeas});
  console.record("' range,angle and timer units:' 3F12.6",
                 {layout.runit, layout.aunit, layout.tunit});
  console.free_line({});
  if (hdr[46] != 4) console.free_line({"*** warning: header angleid is not 4 !!"});
  if (layout.nmeas < 1)
    stop("*** scanner file header gives " + std::to_string(layout.nmeas) +
         " measurements per scan; at least 1 is needed");
  layout.irec = kHeaderBytes + 1;
  return layout;
}

}  // namespace bf
