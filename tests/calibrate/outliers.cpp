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

long add_gross_errors(const std::string& path, double share, unsigned seed) {
  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), {});
  // The layout as beamfall reads it.
  bf::BinaryInput header({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
  bf::OutFile quiet;
  quiet.create("/dev/null");
  const bf::ScanLayout layout = bf::readhdr(header, quiet);
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
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("can't write " + path);
  return changed;
}
