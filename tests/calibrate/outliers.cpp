#include "outliers.hpp"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <vector>

#include "input/scanfile.hpp"
#include "textio/infile.hpp"
#include "textio/outfile.hpp"

namespace {

std::vector<unsigned char> read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The layout as beamfall reads it.
bf::ScanLayout layout_of(const std::vector<unsigned char>& bytes) {
  bf::BinaryInput header({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
  bf::OutFile quiet;
  quiet.create("/dev/null");
  return bf::readhdr(header, quiet);
}

void write_bytes(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("can't write " + path);
}

}  // namespace

long add_gross_errors(const std::string& path, double share, unsigned seed) {
  std::vector<unsigned char> bytes = read_bytes(path);
  const bf::ScanLayout layout = layout_of(bytes);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> pick(0, 1), metres(1, 5);
  long changed = 0;
  const auto first = static_cast<std::size_t>(layout.irec - 1);
  const auto scan = static_cast<std::size_t>(layout.scan_bytes());
  for (std::size_t s = first; s + scan <= bytes.size(); s += scan)
    for (std::size_t m = s + 2; m < s + scan; m += bf::kMeasBytes) {
      const unsigned count = bytes[m] | bytes[m + 1] << 8;
      if (count == 0 || pick(rng) >= share) continue;
      const unsigned more = count + static_cast<unsigned>(metres(rng) / layout.runit);
      if (more > 0xffff) continue;
      bytes[m] = static_cast<unsigned char>(more & 0xff);
      bytes[m + 1] = static_cast<unsigned char>(more >> 8);
      ++changed;
    }
  write_bytes(path, bytes);
  return changed;
}

long keep_every_scan(const std::string& path, int keep) {
  const std::vector<unsigned char> bytes = read_bytes(path);
  const bf::ScanLayout layout = layout_of(bytes);
  const auto first = static_cast<std::size_t>(layout.irec - 1);
  const auto scan = static_cast<std::size_t>(layout.scan_bytes());
  std::vector<unsigned char> out(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(first));
  long kept = 0;
  for (std::size_t s = first, k = 0; s + scan <= bytes.size(); s += scan, ++k)
    if (k % static_cast<std::size_t>(keep) == 0) {
      out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(s),
                 bytes.begin() + static_cast<std::ptrdiff_t>(s + scan));
      ++kept;
    }
  write_bytes(path, out);
  return kept;
}
