// Writes a binary .2dd scanner file in the text form (i range ampl angle
// tsec, one measurement a line), for benchmarking the text reader on the same
// flight. Usage: to_text FILE.2dd MAX_MEASUREMENTS > FILE.txt
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: to_text FILE.2dd MAX_MEASUREMENTS\n");
    return 2;
  }
  std::FILE* f = std::fopen(argv[1], "rb");
  if (f == nullptr) return 1;
  unsigned char h[47];
  if (std::fread(h, 1, 47, f) != 47) return 1;
  std::int16_t nmeas = 0;
  float runit = 0, aunit = 0, tunit = 0;
  std::memcpy(&nmeas, h + 12, 2);
  std::memcpy(&runit, h + 34, 4);
  std::memcpy(&aunit, h + 38, 4);
  std::memcpy(&tunit, h + 42, 4);
  const long long limit = std::atoll(argv[2]);
  std::vector<unsigned char> scan(2 + 8 * static_cast<std::size_t>(nmeas));
  long long written = 0;
  while (written < limit && std::fread(scan.data(), 1, scan.size(), f) == scan.size()) {
    for (int k = 0; k < nmeas && written < limit; ++k, ++written) {
      const unsigned char* m = scan.data() + 2 + 8 * k;
      std::uint16_t range = 0, angle = 0;
      std::memcpy(&range, m, 2);
      std::memcpy(&angle, m + 3, 2);
      const auto ampl = static_cast<std::int8_t>(m[2]);
      const std::uint32_t timer = m[5] | m[6] << 8 | m[7] << 16;
      std::printf("%d %.6f %d %.5f %.8f\n", k + 1, runit * static_cast<double>(range), ampl,
                  aunit * 2.0 * (angle % 10000), tunit * static_cast<double>(timer));
    }
  }
  std::fclose(f);
  return 0;
}
