// The text scanner reader. The first byte is the thinning interval (signed),
// the second chooses the time window; the rest is the file.
#include <cstdint>
#include <limits>
#include <string_view>

#include "fuzz_util.hpp"
#include "input/scanrec.hpp"
#include "textio/error.hpp"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kWindows[4][3] = {
    {0, 0, 1e300}, {10, 10.0001, 10.001}, {10, 10, 10}, {kNaN, kNaN, kNaN}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const auto* w = kWindows[data[1] & 3];
  const bf::ScanWindow window{w[0], w[1], w[2], static_cast<std::int8_t>(data[0])};
  std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
  bf::TextInput in(text);
  bf::FreeReader free_reader(in);
  bf::OutFile console;
  fuzz::attach_console(console);
  try {
    bf::TextScanReader reader(free_reader, window, console);
    reader.start();
    bf::Measurement m;
    std::size_t delivered = 0;
    while (reader.next(m)) {
      // A record has five values, each at least one character and a separator.
      if (++delivered > text.size() / 10 + 1) fuzz::finding("more records than the text holds");
      if (m.angle_count != -1) fuzz::finding("a text record with an angle count");
    }
    if (reader.next(m)) fuzz::finding("a measurement after the end of the data");
    console.flush();
  } catch (const bf::Stop&) {
    // a read error is an expected outcome
  }
  return 0;
}
