#include "scanner.hpp"

#include <cmath>
#include <cstring>

namespace bsim {

std::int64_t ScanPattern::tick(std::int64_t k, int i) const {
  const std::int64_t scan_start =
      std::llround(static_cast<double>(k) * static_cast<double>(kTicksPerSecond) / scan_rate);
  const std::int64_t sweep = std::llround(duty * static_cast<double>(kTicksPerSecond) / scan_rate);
  return first_tick + scan_start + static_cast<std::int64_t>(i - 1) * sweep / nmeas;
}

int ScanPattern::angle_count(int i) const {
  if (nmeas == 1) return count_lo;
  const int span = count_hi - count_lo;
  return count_lo + ((i - 1) * span + (nmeas - 1) / 2) / (nmeas - 1);
}

double ScanPattern::angle_gon(int i) const {
  return static_cast<double>(kAngleUnit) * 2.0 * static_cast<double>(angle_count(i) % 10000);
}

double ScanPattern::scan_angle(int i) const {
  return (100.0 - angle_gon(i)) * 3.14159265358979323846 / 200.0;
}

double ScanPattern::seconds(std::int64_t tick) {
  const std::int64_t sec = tick / kTicksPerSecond;
  const std::int64_t count = tick % kTicksPerSecond;
  return static_cast<double>(sec) + static_cast<double>(kTimerUnit) * static_cast<double>(count);
}

namespace {

template <typename T>
void put(char* at, T v) {
  std::memcpy(at, &v, sizeof v);
}

}  // namespace

std::string encode_header(int nmeas) {
  std::string h(kHeaderBytes, '\0');
  put(&h[0], static_cast<std::int16_t>(kHeaderBytes));   // length, low half
  put(&h[2], static_cast<std::int16_t>(0));              // length, high half
  put(&h[4], static_cast<std::int16_t>(2 + 8 * nmeas));  // bytes per scan
  put(&h[10], static_cast<std::int16_t>(8));             // bytes per measurement
  put(&h[12], static_cast<std::int16_t>(nmeas));
  put(&h[34], kRangeUnit);
  put(&h[38], kAngleUnit);
  put(&h[42], kTimerUnit);
  h[46] = 4;  // angle id
  return h;
}

void encode_measurement(std::string& out, std::uint16_t range_count, std::int8_t ampl,
                        std::uint16_t angle_count, std::uint32_t timer_count) {
  char b[8];
  put(&b[0], range_count);
  put(&b[2], ampl);
  put(&b[3], angle_count);
  b[5] = static_cast<char>(timer_count & 0xFFu);
  b[6] = static_cast<char>((timer_count >> 8) & 0xFFu);
  b[7] = static_cast<char>((timer_count >> 16) & 0xFFu);
  out.append(b, 8);
}

}  // namespace bsim
