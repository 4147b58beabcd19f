#include "input/scanfile.hpp"

#include <charconv>
#include <cmath>
#include <string>

#include "textio/bytes.hpp"
#include "textio/error.hpp"

namespace bf {
namespace {

bool is_text_byte(unsigned char c) {
  return (c >= 0x20 && c < 0x7f) || c == '\t' || c == '\n' || c == '\r';
}

// The n bytes from pos on, as far as the file holds them, are text; false
// when it holds none of them.
bool text_only(BinaryInput& in, std::int64_t pos, std::int64_t n) {
  std::int64_t k = 0;
  for (const unsigned char* c; k < n && (c = in.at(pos + k, 1)) != nullptr; ++k)
    if (!is_text_byte(*c)) return false;
  return k > 0;
}

// A binary header has its length in bytes 0-3 (NUL bytes in any real one)
// and a scan binary counts: text there is a text scanner file named as the
// binary form.
void refuse_text(BinaryInput& in, std::int64_t pos, std::int64_t n) {
  if (text_only(in, pos, n))
    input_error("scanner file " + quoted(in.name()) +
                " is text, not the binary form that bin2dd T (deck parameter line 4) names");
}

// A unit no scanner has: the header is not one. The unit is the header's
// single-precision value, and written as such.
void check_unit(const char* what, double unit) {
  if (std::isfinite(unit) && unit > 0) return;
  char text[32];
  const auto r = std::to_chars(text, text + sizeof text, static_cast<float>(unit));
  stop("*** scanner file header gives " + std::string(text, r.ptr) + " as its " + what +
       " unit; a unit must be a positive number");
}

}  // namespace

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
    refuse_text(in, layout.irec - 1, layout.scan_bytes());
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
  check_unit("range", layout.runit);
  check_unit("angle", layout.aunit);
  check_unit("timer", layout.tunit);
  refuse_text(in, 0, kHeaderBytes);
  layout.irec = kHeaderBytes + 1;
  return layout;
}

bool holds_measurement(BinaryInput& in, const ScanLayout& layout) {
  return in.at(layout.irec - 1, 2 + kMeasBytes) != nullptr;
}

}  // namespace bf
