// The free-format reader: a sequence of reads chosen by the first bytes of the
// input, over the rest of it. Every read must end (at the end of the text at
// the latest), and a real that is read must be finite.
#include <cmath>
#include <cstdint>
#include <string_view>

#include "fuzz_util.hpp"
#include "textio/freeread.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kOps = 8;
  if (size < kOps) return 0;
  const std::uint8_t* ops = data;
  std::string_view text(reinterpret_cast<const char*>(data + kOps), size - kOps);
  bf::TextInput in(text);
  bf::FreeReader r(in);
  int ends = 0;
  // Every operation but start_read consumes at least one character or reports
  // the end, so this bound is never what stops a correct reader.
  const std::size_t max_steps = 4 * (text.size() + 2) * kOps;
  for (std::size_t step = 0; step < max_steps && ends < 3; ++step) {
    bf::ReadStatus s = bf::ReadStatus::ok;
    switch (ops[step % kOps] % 6) {
      case 0:
        r.start_read();
        break;
      case 1: {
        double v = 0;
        s = r.real(v);
        if (s == bf::ReadStatus::ok && !std::isfinite(v)) fuzz::finding("a real is not finite");
        break;
      }
      case 2: {
        std::int32_t v = 0;
        s = r.integer(v);
        break;
      }
      case 3: {
        bool v = false;
        s = r.logical(v);
        break;
      }
      default: {
        char field[40];
        const int width = 1 + ops[step % kOps] % static_cast<int>(sizeof field);
        s = r.line_field(field, width);
        break;
      }
    }
    if (s == bf::ReadStatus::bad_value && r.error().empty())
      fuzz::finding("a bad value without a reason");
    if (s == bf::ReadStatus::end_of_file) ++ends;
    if (r.line() < 0) fuzz::finding("negative line number");
  }
  bool consumes = false;
  for (std::size_t k = 0; k < kOps; ++k)
    consumes = consumes || ops[k] % 6 != 0;
  if (consumes && ends < 3) fuzz::finding("the reader did not reach the end of the text");
  return 0;
}
